#include "toolserver/DocText.h"
#include "platform/Files.h"
#include "skills/SkillText.h"

#include <QFileInfo>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QStringDecoder>
#include <QTextDocument>

namespace DocText {

namespace {

// White space and line breaks of every kind, at both ends.
QString trimmedPage(const QString &text)
{
    qsizetype start = 0, end = text.size();
    auto blank = [](QChar c) { return c.isSpace() || c == QChar(0xFEFF); };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

std::optional<QString> utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

std::optional<QString> readHtml(const QByteArray &bytes)
{
    const auto encoding = QStringConverter::encodingForHtml(bytes);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    QTextDocument document;
    document.setHtml(decoder.decode(bytes));
    return document.toPlainText();
}

std::pair<QString, bool> readPdf(const QString &path, const QString &name, int from, int to)
{
    QPdfDocument document;
    const QPdfDocument::Error error = document.load(path);
    if (error == QPdfDocument::Error::IncorrectPassword || error == QPdfDocument::Error::UnsupportedSecurityScheme)
        return {name + QStringLiteral(" is password-protected. Ask the CA for an unlocked copy."), true};
    if (error != QPdfDocument::Error::None)
        return {name + QStringLiteral(" could not be opened as a PDF. It may be damaged."), true};

    const int n = document.pageCount();
    const int first = from > 1 ? from : 1;
    const int last = std::min(to > 0 ? to : n, n);
    if (n < 1 || last < first)
        return {name + QStringLiteral(" has %1 pages; the range %2-%3 is outside it.").arg(n).arg(from).arg(to), true};

    QString body;
    qsizetype length = 0;
    QList<int> blank;
    std::optional<int> stop;
    for (int i = first; i <= last; ++i) {
        const QString text = trimmedPage(document.getAllText(i - 1).text());
        if (text.isEmpty())
            blank.append(i);
        const QString block = QStringLiteral("\n--- page %1 of %2 ---\n").arg(i).arg(n) + text + QLatin1Char('\n');
        body += block;
        length += SkillText::characterCount(block);
        // The page that crosses the limit stays whole.
        if (length > cap) {
            stop = i;
            break;
        }
    }

    QString header = name + QStringLiteral(": PDF, %1 pages, pages %2-%3 read from the text layer.")
                                .arg(n)
                                .arg(first)
                                .arg(stop.value_or(last));
    if (!blank.isEmpty()) {
        QStringList numbers;
        for (int i : blank)
            numbers.append(QString::number(i));
        header += QStringLiteral(" No text on page(s) ") + numbers.join(QStringLiteral(", ")) +
                  QStringLiteral("; those are probably scans and must be read as images.");
    }
    if (stop && *stop < last)
        header += QStringLiteral(" Stopped at page %1 for length; call again with from_page %2.")
                      .arg(*stop)
                      .arg(*stop + 1);
    return {header + QLatin1Char('\n') + body, false};
}

} // namespace

std::pair<QString, bool> read(const QString &path, int from, int to)
{
    const QString name = QFileInfo(path).fileName();
    const QString ext = QFileInfo(path).suffix().toLower();
    const QString EXT = ext.toUpper();

    if (ext == QLatin1String("pdf"))
        return readPdf(path, name, from, to);

    static const QStringList known = {QStringLiteral("docx"), QStringLiteral("doc"),  QStringLiteral("rtf"),
                                      QStringLiteral("odt"),  QStringLiteral("html"), QStringLiteral("htm"),
                                      QStringLiteral("txt"),  QStringLiteral("md")};
    if (!known.contains(ext))
        return {name + QStringLiteral(": .") + ext +
                    QStringLiteral(" is not a type doc_text reads (PDF, DOCX, DOC, RTF, ODT, HTML, TXT, MD). For a "
                                   "photo or scan, read it as an image."),
                true};

    std::optional<QString> text;
    if (ext == QLatin1String("docx")) {
        text = readDocx(path);
    } else if (ext == QLatin1String("odt")) {
        text = readOdt(path);
    } else if (const auto bytes = Files::readAll(path)) {
        if (ext == QLatin1String("doc"))
            text = readWord97(*bytes);
        else if (ext == QLatin1String("rtf"))
            text = readRtf(*bytes);
        else if (ext == QLatin1String("html") || ext == QLatin1String("htm"))
            text = readHtml(*bytes);
        else
            text = utf8(*bytes);
    }
    if (!text)
        return {name + QStringLiteral(" could not be read as ") + EXT +
                    QStringLiteral(". It may be damaged or not really that format."),
                true};

    const QString kept = SkillText::prefixCharacters(*text, cap);
    const QString tail =
        kept.size() < text->size() ? QStringLiteral("\n[stopped at %1 characters for length]").arg(cap) : QString();
    return {name + QStringLiteral(": ") + EXT + QStringLiteral(", %1 characters.").arg(SkillText::characterCount(kept)) +
                QStringLiteral("\n\n") + kept + tail,
            false};
}

} // namespace DocText
