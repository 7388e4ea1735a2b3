#include "DocSamples.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QtEndian>
#include <zip.h>

namespace DocSamples {

namespace {

QByteArray pdfString(const QString &text)
{
    QByteArray out = "(";
    for (char c : text.toLatin1()) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

// Numbers the objects and writes the cross-reference table.
QByteArray assemble(const QList<QByteArray> &objects, const QByteArray &trailerExtra = {})
{
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype o : offsets)
        out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " + trailerExtra +
           " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

} // namespace

QByteArray pdf(const QList<QStringList> &pages, double fontSize)
{
    // 1 catalog, 2 page tree, 3 font, then a page and its content per page.
    QList<QByteArray> objects(3);
    QByteArray kids;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const int pageObj = int(4 + 2 * i);
        kids += QByteArray::number(pageObj) + " 0 R ";
        // Big enough for every line, so that no glyph overlaps another.
        qsizetype longest = 0;
        for (const QString &line : pages[i])
            longest = std::max(longest, line.size());
        const int width = std::max(612, int(longest * fontSize * 0.7) + 40);
        const int height = std::max(792, int(pages[i].size() * fontSize * 1.5) + 40);
        QByteArray content;
        if (!pages[i].isEmpty()) {
            content = "BT /F1 " + QByteArray::number(fontSize) + " Tf 20 " + QByteArray::number(height - 20) +
                      " Td " + QByteArray::number(fontSize * 1.5) + " TL\n";
            for (const QString &line : pages[i])
                content += pdfString(line) + " Tj T*\n";
            content += "ET";
        }
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(width) + " " +
                       QByteArray::number(height) + "] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                       QByteArray::number(pageObj + 1) + " 0 R >>");
        objects.append("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
                       "\nendstream");
    }
    objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    objects[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    return assemble(objects);
}

QByteArray lockedPdf()
{
    // The standard security handler with owner and user keys that no empty
    // password opens.
    auto hex = [](int bytes) {
        QByteArray b(bytes, Qt::Uninitialized);
        for (char &c : b)
            c = char(QRandomGenerator::global()->bounded(256));
        return "<" + b.toHex() + ">";
    };
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
        "<< /Filter /Standard /V 1 /R 2 /O " + hex(32) + " /U " + hex(32) + " /P -44 >>",
    };
    return assemble(objects, "/Encrypt 4 0 R /ID [" + hex(16) + " " + hex(16) + "]");
}

bool zip(const QString &path, const QMap<QString, QByteArray> &members)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (auto it = members.begin(); it != members.end(); ++it) {
        zip_source_t *source = zip_source_buffer(archive, it.value().constData(), zip_uint64_t(it.value().size()), 0);
        if (!source || zip_file_add(archive, it.key().toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

namespace {

void put16(QByteArray &b, qsizetype at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void put32(QByteArray &b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }

constexpr quint32 kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSector = 0xFFFFFFFD, kNone = 0xFFFFFFFF;

QByteArray dirEntry(const QString &name, quint8 type, quint32 left, quint32 right, quint32 child, quint32 start,
                    quint32 size)
{
    QByteArray e(128, '\0');
    for (qsizetype i = 0; i < name.size(); ++i)
        put16(e, 2 * i, name.at(i).unicode());
    put16(e, 0x40, quint16(name.isEmpty() ? 0 : 2 * (name.size() + 1)));
    e[0x42] = char(type);
    e[0x43] = 1;
    put32(e, 0x44, left);
    put32(e, 0x48, right);
    put32(e, 0x4C, child);
    put32(e, 0x74, start);
    put32(e, 0x78, size);
    return e;
}

// A compound file of 512-byte sectors: the Word stream in ordinary sectors,
// the small table stream in the mini stream, as Word writes them.
QByteArray compoundFile(QByteArray word, QByteArray table)
{
    word.append(QByteArray((512 - word.size() % 512) % 512, '\0'));
    const int wordSectors = int(word.size() / 512);
    const qsizetype tableSize = table.size();
    table.append(QByteArray((64 - table.size() % 64) % 64, '\0'));
    const int miniSectors = int(table.size() / 64);
    QByteArray mini = table;
    mini.append(QByteArray((512 - mini.size() % 512) % 512, '\0'));
    const int miniContainerSectors = int(mini.size() / 512);

    // Sector 0: allocation table, 1: directory, 2: mini allocation table,
    // then the mini stream's sectors, then the Word stream's.
    const quint32 miniStart = 3;
    const quint32 wordStart = miniStart + quint32(miniContainerSectors);
    QByteArray fat(512, '\xFF');
    put32(fat, 0, kFatSector);
    put32(fat, 4, kEnd);
    put32(fat, 8, kEnd);
    for (int i = 0; i < miniContainerSectors; ++i)
        put32(fat, 4 * (miniStart + i), i + 1 < miniContainerSectors ? miniStart + i + 1 : kEnd);
    for (int i = 0; i < wordSectors; ++i)
        put32(fat, 4 * (wordStart + i), i + 1 < wordSectors ? wordStart + i + 1 : kEnd);

    QByteArray miniFat(512, '\xFF');
    for (int i = 0; i < miniSectors; ++i)
        put32(miniFat, 4 * i, i + 1 < miniSectors ? quint32(i + 1) : kEnd);

    QByteArray directory = dirEntry(QStringLiteral("Root Entry"), 5, kNone, kNone, 1, miniStart, quint32(table.size())) +
                           dirEntry(QStringLiteral("WordDocument"), 2, kNone, 2, kNone, wordStart, quint32(word.size())) +
                           dirEntry(QStringLiteral("1Table"), 2, kNone, kNone, kNone, 0, quint32(tableSize)) +
                           dirEntry(QString(), 0, kNone, kNone, kNone, 0, 0);

    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    put16(header, 0x18, 0x3E);
    put16(header, 0x1A, 3);
    put16(header, 0x1C, 0xFFFE);
    put16(header, 0x1E, 9);
    put16(header, 0x20, 6);
    put32(header, 0x2C, 1);
    put32(header, 0x30, 1);
    put32(header, 0x38, 4096);
    put32(header, 0x3C, 2);
    put32(header, 0x40, 1);
    put32(header, 0x44, kEnd);
    for (int i = 0; i < 109; ++i)
        put32(header, 0x4C + 4 * i, i == 0 ? 0 : kFree);
    return header + fat + directory + miniFat + mini + word;
}

} // namespace

QByteArray word97(const QList<Piece> &pieces, const QString &extra, bool encrypted)
{
    QList<Piece> all = pieces;
    if (!extra.isEmpty())
        all.append({extra, false});

    QByteArray word(1024, '\0');
    put16(word, 0, 0xA5EC);
    put16(word, 2, 0x00C1);
    put16(word, 0x0A, quint16(0x0200 | (encrypted ? 0x0100 : 0)));
    put16(word, 32, 14);         // 16-bit values that follow
    put16(word, 62, 22);         // 32-bit values that follow
    put16(word, 152, 93);        // offset pairs that follow
    quint32 textLength = 0;
    for (const Piece &p : pieces)
        textLength += quint32(p.text.size());
    put32(word, 64 + 12, textLength);

    QList<quint32> cps{0};
    QList<quint32> fcs;
    for (const Piece &p : all) {
        const quint32 at = quint32(word.size());
        if (p.ansi) {
            word += QStringEncoder("windows-1252").encode(p.text);
            fcs.append((at * 2) | 0x40000000);
        } else {
            word += QByteArray(reinterpret_cast<const char *>(p.text.utf16()), p.text.size() * 2);
            fcs.append(at);
        }
        cps.append(cps.last() + quint32(p.text.size()));
    }
    word.append(QByteArray(qMax<qsizetype>(0, 4608 - word.size()), '\0'));

    // A property run first, to be skipped, then the piece table.
    QByteArray table(5, '\0');
    table[0] = 0x01;
    put16(table, 1, 2);
    QByteArray plc(4 * cps.size() + 8 * fcs.size(), '\0');
    for (qsizetype i = 0; i < cps.size(); ++i)
        put32(plc, 4 * i, cps[i]);
    for (qsizetype i = 0; i < fcs.size(); ++i)
        put32(plc, 4 * cps.size() + 8 * i + 2, fcs[i]);
    QByteArray pcdt(5, '\0');
    pcdt[0] = 0x02;
    put32(pcdt, 1, quint32(plc.size()));
    const QByteArray clx = table + pcdt + plc;
    QByteArray tableStream(16, '\0'); // something before the piece table
    put32(word, 154 + 33 * 8, quint32(tableStream.size()));
    put32(word, 154 + 33 * 8 + 4, quint32(clx.size()));
    tableStream += clx;
    return compoundFile(word, tableStream);
}

} // namespace DocSamples
