// Word (.docx) and OpenDocument (.odt) text: both are zip files holding the
// document as XML.
#include "toolserver/DocText.h"

#include <QFile>
#include <QStringList>
#include <QXmlStreamReader>
#include <zip.h>

namespace DocText {

namespace {

// A member bigger than this is not a text document's XML but a trap.
constexpr zip_uint64_t kMaxMember = 256u * 1024 * 1024;

std::optional<QByteArray> zipMember(const QString &path, const char *member)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return std::nullopt;
    std::optional<QByteArray> out;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, member, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) && stat.size <= kMaxMember) {
        if (zip_file_t *file = zip_fopen(archive, member, 0)) {
            QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
            zip_int64_t got = 0;
            while (got < zip_int64_t(stat.size)) {
                const zip_int64_t n = zip_fread(file, data.data() + got, stat.size - zip_uint64_t(got));
                if (n <= 0)
                    break;
                got += n;
            }
            if (got == zip_int64_t(stat.size))
                out = data;
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return out;
}

// Paragraphs are joined by line breaks; the last one gets none.
QString joined(QString text)
{
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

} // namespace

std::optional<QString> readDocx(const QString &path, Bound &bound)
{
    const auto xml = zipMember(path, "word/document.xml");
    if (!xml)
        return std::nullopt;
    QXmlStreamReader reader(*xml);
    QString text;
    QStringList open; // local names of the open elements
    while (!reader.atEnd()) {
        if (bound.exceeded())
            return std::nullopt;
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (bound.deeper(open.size() + 1))
                return std::nullopt;
            const QString name = reader.name().toString();
            const QString parent = open.isEmpty() ? QString() : open.last();
            // The fallback repeats, for older readers, what its choice shows.
            if (name == QLatin1String("Fallback")) {
                reader.skipCurrentElement();
                continue;
            }
            if (name == QLatin1String("t")) {
                text += reader.readElementText();
                continue;
            }
            if (parent == QLatin1String("r")) {
                // Tab stops in paragraph properties are also "tab": only a
                // run's own tab is text.
                if (name == QLatin1String("tab"))
                    text += QLatin1Char('\t');
                else if (name == QLatin1String("br") || name == QLatin1String("cr"))
                    text += QLatin1Char('\n');
                else if (name == QLatin1String("noBreakHyphen"))
                    text += QLatin1Char('-');
            }
            open.append(name);
        } else if (token == QXmlStreamReader::EndElement) {
            if (!open.isEmpty())
                open.removeLast();
            if (reader.name() == QLatin1String("p"))
                text += QLatin1Char('\n');
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return joined(text);
}

std::optional<QString> readOdt(const QString &path, Bound &bound)
{
    const auto xml = zipMember(path, "content.xml");
    if (!xml)
        return std::nullopt;
    QXmlStreamReader reader(*xml);
    QString text;
    int inParagraph = 0;
    // Runs of white space in a paragraph's text read as one space, and none
    // at its start or end; spaces written as <text:s/> are kept as they are.
    bool afterSpace = true;
    qsizetype foldedSpace = -1; // where the last run of white space was written
    qsizetype depth = 0;
    while (!reader.atEnd()) {
        if (bound.exceeded())
            return std::nullopt;
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (bound.deeper(++depth))
                return std::nullopt;
            const QStringView name = reader.name();
            if (name == QLatin1String("note") || name == QLatin1String("annotation") ||
                name == QLatin1String("tracked-changes")) {
                reader.skipCurrentElement();
                --depth;
            } else if (name == QLatin1String("p") || name == QLatin1String("h")) {
                ++inParagraph;
                afterSpace = true;
            } else if (inParagraph && name == QLatin1String("s")) {
                bool ok = false;
                int count = 1;
                for (const QXmlStreamAttribute &a : reader.attributes())
                    if (a.name() == QLatin1String("c"))
                        count = a.value().toInt(&ok);
                text += QString(ok && count > 0 ? count : 1, QLatin1Char(' '));
                afterSpace = false;
            } else if (inParagraph && name == QLatin1String("tab")) {
                text += QLatin1Char('\t');
                afterSpace = false;
            } else if (inParagraph && name == QLatin1String("line-break")) {
                text += QLatin1Char('\n');
                afterSpace = true;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
            const QStringView name = reader.name();
            if ((name == QLatin1String("p") || name == QLatin1String("h")) && inParagraph) {
                --inParagraph;
                if (foldedSpace == text.size() - 1)
                    text.chop(1);
                text += QLatin1Char('\n');
                afterSpace = true;
            }
        } else if (token == QXmlStreamReader::Characters && inParagraph) {
            for (QChar c : reader.text()) {
                const bool space = c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
                                   c == QLatin1Char('\r');
                if (space) {
                    if (!afterSpace) {
                        foldedSpace = text.size();
                        text += QLatin1Char(' ');
                    }
                    afterSpace = true;
                } else {
                    text += c;
                    afterSpace = false;
                }
            }
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return joined(text);
}

} // namespace DocText
