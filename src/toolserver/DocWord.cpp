// Word 97-2003 (.doc) text. The file is a compound file (a small file system
// of sectors); its "WordDocument" stream begins with the file information
// block, which points into the table stream at the piece table; the pieces
// give the main text, each as 8-bit (Windows-1252) or UTF-16 characters.
#include "toolserver/DocText.h"

#include <QSet>
#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <vector>

namespace DocText {

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kNoStream = 0xFFFFFFFF;

class CompoundFile {
public:
    explicit CompoundFile(const QByteArray &data) : data_(data) {}

    bool open()
    {
        static const char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
        if (data_.size() < 512 || !data_.startsWith(QByteArray(signature, 8)))
            return false;
        const int shift = u16(0x1E);
        if (shift != 9 && shift != 12)
            return false;
        sectorSize_ = 1u << shift;
        miniSectorSize_ = 1u << u16(0x20);
        miniCutoff_ = u32(0x38);
        if (miniSectorSize_ < 16 || miniSectorSize_ > sectorSize_)
            return false;

        // The sector allocation table, from the sector list in the header and
        // its continuation sectors.
        std::vector<quint32> fatSectors;
        for (int i = 0; i < 109; ++i) {
            const quint32 s = u32(0x4C + 4 * i);
            if (s < kEndOfChain - 3)
                fatSectors.push_back(s);
        }
        quint32 next = u32(0x44);
        QSet<quint32> seen;
        while (next < kEndOfChain - 3 && !seen.contains(next)) {
            seen.insert(next);
            const QByteArray sector = sectorData(next);
            if (sector.isEmpty())
                return false;
            const quint32 per = sectorSize_ / 4 - 1;
            for (quint32 i = 0; i < per; ++i) {
                const quint32 s = qFromLittleEndian<quint32>(sector.constData() + 4 * i);
                if (s < kEndOfChain - 3)
                    fatSectors.push_back(s);
            }
            next = qFromLittleEndian<quint32>(sector.constData() + 4 * per);
        }
        for (quint32 s : fatSectors) {
            const QByteArray sector = sectorData(s);
            if (sector.isEmpty())
                return false;
            for (quint32 i = 0; i < sectorSize_ / 4; ++i)
                fat_.push_back(qFromLittleEndian<quint32>(sector.constData() + 4 * i));
        }

        directory_ = chain(u32(0x30), fat_, false);
        if (directory_.size() < 128)
            return false;
        const QByteArray miniFat = chain(u32(0x3C), fat_, false);
        for (qsizetype i = 0; i + 4 <= miniFat.size(); i += 4)
            miniFat_.push_back(qFromLittleEndian<quint32>(miniFat.constData() + i));
        // The root entry's stream holds the small streams.
        miniStream_ = chain(entryU32(0, 0x74), fat_, false).left(qsizetype(entryU32(0, 0x78)));
        return true;
    }

    // A stream directly below the root, by name (case ignored).
    std::optional<QByteArray> stream(const QString &name) const
    {
        std::vector<quint32> todo{entryU32(0, 0x4C)};
        QSet<quint32> seen;
        while (!todo.empty()) {
            const quint32 id = todo.back();
            todo.pop_back();
            if (id == kNoStream || seen.contains(id) || qsizetype(id + 1) * 128 > directory_.size())
                continue;
            seen.insert(id);
            // The root's children form a tree through their left and right links.
            todo.push_back(entryU32(id, 0x44));
            todo.push_back(entryU32(id, 0x48));
            const char *entry = directory_.constData() + qsizetype(id) * 128;
            const int nameBytes = std::clamp<int>(qFromLittleEndian<quint16>(entry + 0x40), 2, 64);
            const QString entryName =
                QString::fromUtf16(reinterpret_cast<const char16_t *>(entry), nameBytes / 2 - 1);
            if (entry[0x42] != 2 || entryName.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            const quint32 start = entryU32(id, 0x74);
            const quint32 size = entryU32(id, 0x78);
            const QByteArray data = size < miniCutoff_ ? chain(start, miniFat_, true) : chain(start, fat_, false);
            if (data.size() < qsizetype(size))
                return std::nullopt;
            return data.left(qsizetype(size));
        }
        return std::nullopt;
    }

private:
    quint16 u16(qsizetype at) const { return qFromLittleEndian<quint16>(data_.constData() + at); }
    quint32 u32(qsizetype at) const { return qFromLittleEndian<quint32>(data_.constData() + at); }
    quint32 entryU32(quint32 id, int at) const
    {
        const qsizetype pos = qsizetype(id) * 128 + at;
        if (pos + 4 > directory_.size())
            return kNoStream;
        return qFromLittleEndian<quint32>(directory_.constData() + pos);
    }

    QByteArray sectorData(quint32 sector) const
    {
        const qsizetype at = (qsizetype(sector) + 1) * sectorSize_;
        if (at + sectorSize_ > data_.size())
            return {};
        return data_.mid(at, sectorSize_);
    }

    // The bytes of a chain of sectors (or of small sectors in the mini stream).
    QByteArray chain(quint32 start, const std::vector<quint32> &table, bool mini) const
    {
        QByteArray out;
        const quint32 size = mini ? miniSectorSize_ : sectorSize_;
        quint32 s = start;
        for (size_t steps = 0; s < kEndOfChain - 3 && steps <= table.size(); ++steps) {
            if (mini) {
                const qsizetype at = qsizetype(s) * size;
                if (at + size > miniStream_.size())
                    break;
                out += miniStream_.mid(at, size);
            } else {
                const QByteArray sector = sectorData(s);
                if (sector.isEmpty())
                    break;
                out += sector;
            }
            if (s >= table.size())
                break;
            s = table[s];
        }
        return out;
    }

    const QByteArray &data_;
    quint32 sectorSize_ = 512;
    quint32 miniSectorSize_ = 64;
    quint32 miniCutoff_ = 4096;
    std::vector<quint32> fat_;
    std::vector<quint32> miniFat_;
    QByteArray directory_;
    QByteArray miniStream_;
};

// The characters of the main text as stored, special marks included.
std::optional<QString> pieces(const QByteArray &word, const QByteArray &table, quint32 textLength)
{
    const auto u32 = [](const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    const QByteArray &fib = word;
    if (fib.size() < 34)
        return std::nullopt;
    qsizetype pos = 32;
    const quint16 csw = qFromLittleEndian<quint16>(fib.constData() + pos);
    pos += 2 + 2 * qsizetype(csw);
    if (pos + 2 > fib.size())
        return std::nullopt;
    const quint16 cslw = qFromLittleEndian<quint16>(fib.constData() + pos);
    pos += 2 + 4 * qsizetype(cslw);
    if (pos + 2 > fib.size())
        return std::nullopt;
    const quint16 pairs = qFromLittleEndian<quint16>(fib.constData() + pos);
    pos += 2;
    // fcClx and lcbClx are the 34th pair of the offsets into the table stream.
    if (pairs < 34 || pos + 34 * 8 > fib.size())
        return std::nullopt;
    const quint32 fcClx = u32(fib, pos + 33 * 8);
    const quint32 lcbClx = u32(fib, pos + 33 * 8 + 4);
    if (qsizetype(fcClx) + qsizetype(lcbClx) > table.size())
        return std::nullopt;
    const QByteArray clx = table.mid(fcClx, lcbClx);

    // Property runs come first; then the piece table.
    qsizetype at = 0;
    while (at < clx.size() && clx.at(at) == 0x01) {
        if (at + 3 > clx.size())
            return std::nullopt;
        const qint16 skip = qFromLittleEndian<qint16>(clx.constData() + at + 1);
        if (skip < 0)
            return std::nullopt;
        at += 3 + skip;
    }
    if (at + 5 > clx.size() || clx.at(at) != 0x02)
        return std::nullopt;
    const quint32 size = u32(clx, at + 1);
    const QByteArray plc = clx.mid(at + 5, size);
    if (plc.size() != qsizetype(size) || size < 4 || (size - 4) % 12 != 0)
        return std::nullopt;
    const qsizetype count = (size - 4) / 12;

    QStringDecoder ansi("windows-1252");
    QString text;
    for (qsizetype i = 0; i < count; ++i) {
        const quint32 cpStart = u32(plc, 4 * i);
        quint32 cpEnd = std::min(u32(plc, 4 * (i + 1)), textLength);
        if (cpStart >= textLength)
            break;
        if (cpEnd <= cpStart)
            continue;
        const quint32 fc = u32(plc, 4 * (count + 1) + 8 * i + 2);
        const quint32 chars = cpEnd - cpStart;
        if (fc & 0x40000000) {
            const qsizetype offset = (fc & 0x3FFFFFFF) / 2;
            if (offset + chars > word.size())
                return std::nullopt;
            text += ansi.decode(word.mid(offset, chars));
        } else {
            const qsizetype offset = fc;
            if (offset + 2 * qsizetype(chars) > word.size())
                return std::nullopt;
            text += QString::fromUtf16(reinterpret_cast<const char16_t *>(word.constData() + offset), chars);
        }
        // Pieces cover the text once; more text than that is a damaged table.
        if (text.size() > qsizetype(textLength))
            return std::nullopt;
    }
    return text;
}

// Word's marks to plain text: paragraph, line and page breaks to line
// breaks, cell ends to tabs; of a field, only its shown result.
std::optional<QString> plain(const QString &stored, Bound &bound)
{
    QString out;
    std::vector<bool> inCode; // per open field: still in its code part
    qsizetype codes = 0;      // how many of them are
    for (QChar c : stored) {
        if (bound.exceeded())
            return std::nullopt;
        const char16_t u = c.unicode();
        if (u == 0x13) {
            inCode.push_back(true);
            ++codes;
            if (bound.deeper(qsizetype(inCode.size())))
                return std::nullopt;
            continue;
        }
        if (u == 0x14) {
            if (!inCode.empty() && inCode.back()) {
                inCode.back() = false;
                --codes;
            }
            continue;
        }
        if (u == 0x15) {
            if (!inCode.empty()) {
                codes -= inCode.back() ? 1 : 0;
                inCode.pop_back();
            }
            continue;
        }
        if (codes > 0)
            continue;
        if (u == 0x0D || u == 0x0B || u == 0x0C)
            out += QLatin1Char('\n');
        else if (u == 0x07 || u == 0x09)
            out += QLatin1Char('\t');
        else if (u == 0x1E)
            out += QLatin1Char('-');
        else if (u >= 0x20)
            out += c;
    }
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out;
}

} // namespace

std::optional<QString> readWord97(const QByteArray &data, Bound &bound)
{
    CompoundFile file(data);
    if (!file.open())
        return std::nullopt;
    const auto word = file.stream(QStringLiteral("WordDocument"));
    if (!word || word->size() < 0x40 || qFromLittleEndian<quint16>(word->constData()) != 0xA5EC)
        return std::nullopt;
    const quint16 version = qFromLittleEndian<quint16>(word->constData() + 2);
    const quint16 flags = qFromLittleEndian<quint16>(word->constData() + 0x0A);
    // Word 6 and 95 files keep their text otherwise; encrypted text is unreadable.
    if (version < 0x00C1 || (flags & 0x0100))
        return std::nullopt;
    const auto table = file.stream((flags & 0x0200) ? QStringLiteral("1Table") : QStringLiteral("0Table"));
    if (!table)
        return std::nullopt;
    // The main text's length sits in the fourth of the 32-bit counts.
    qsizetype pos = 32;
    const quint16 csw = qFromLittleEndian<quint16>(word->constData() + pos);
    pos += 2 + 2 * qsizetype(csw) + 2;
    if (pos + 16 > word->size())
        return std::nullopt;
    const quint32 textLength = qFromLittleEndian<quint32>(word->constData() + pos + 12);
    const auto stored = pieces(*word, *table, textLength);
    if (!stored)
        return std::nullopt;
    return plain(*stored, bound);
}

} // namespace DocText
