#include "toolserver/DocText.h"
#include "platform/Files.h"
#include "skills/SkillText.h"

#include <QFile>
#include <QFileInfo>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QStringDecoder>
#include <vector>

namespace DocText {

namespace {

std::atomic<quint64> cancelGeneration{0};

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

constexpr size_t kChunk = 256 * 1024;

// How many bytes at the end of data begin a UTF-8 sequence that is not
// complete yet (0 to 3).
qsizetype unfinishedTail(const QByteArray &data)
{
    for (qsizetype back = 1; back <= std::min<qsizetype>(3, data.size()); ++back) {
        const uchar c = uchar(data.at(data.size() - back));
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: look further back
        const qsizetype need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

struct PlainText {
    QString text;
    bool more = false; // the file goes on past the text read
};

// The start of a UTF-8 text file, read only as far as the answer can use:
// reading stops once the text holds more than the length limit. Nothing when
// the bytes read are not UTF-8 text (a NUL byte counts as not text).
std::optional<PlainText> readPlainText(int fd, Bound &bound)
{
    // Far more bytes than the limit in characters can ever need.
    constexpr qint64 kMostBytes = 64LL * 1024 * 1024;
    PlainText out;
    QByteArray pending;
    qint64 total = 0;
    std::vector<char> chunk(kChunk);
    for (;;) {
        if (bound.exceeded(256))
            return std::nullopt;
        const ssize_t n = Files::readSome(fd, chunk.data(), kChunk);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        total += n;
        pending.append(chunk.data(), n);
        if (pending.contains('\0'))
            return std::nullopt;
        const qsizetype keep = unfinishedTail(pending);
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        out.text += decoder.decode(QByteArrayView(pending).first(pending.size() - keep));
        if (decoder.hasError())
            return std::nullopt;
        pending = pending.right(keep);
        if ((out.text.size() > cap && SkillText::characterCount(out.text) > cap) || total >= kMostBytes) {
            out.more = true;
            break;
        }
    }
    if (!out.more && !pending.isEmpty())
        return std::nullopt; // the file ends inside a character
    if (out.text.startsWith(QChar(0xFEFF)))
        out.text.remove(0, 1);
    return out;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', bytes < 10LL * 1024 * 1024 ? 1 : 0) +
           QStringLiteral(" MB");
}

std::optional<QString> readHtmlFile(const QByteArray &bytes, Bound &bound)
{
    const auto encoding = QStringConverter::encodingForHtml(bytes);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    const QString html = decoder.decode(bytes);
    // A little past the limit, so that the answer can say it was cut.
    return readHtml(html, bound, cap + 1);
}

std::pair<QString, bool> readPdf(const QString &path, const QString &name, int from, int to, Bound &bound)
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
        if (bound.exceeded(256))
            return {};
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

// The answer for a read stopped by its bound.
std::pair<QString, bool> stopped(const QString &name, Bound::Stop stop)
{
    const QString simpler = QStringLiteral(" Ask the CA for a simpler copy, such as a PDF or plain text.");
    switch (stop) {
    case Bound::Stop::TooDeep:
        return {name + QStringLiteral(" is too complex to read: its parts nest more than %1 levels deep.").arg(maxDepth) +
                    simpler,
                true};
    case Bound::Stop::TooLong:
        return {name + QStringLiteral(" is too complex to read: reading it took longer than %1 seconds.")
                           .arg(timeLimitMs.load() / 1000.0) +
                    simpler,
                true};
    case Bound::Stop::Cancelled:
    case Bound::Stop::None:
        break;
    }
    return {name + QStringLiteral(" was not read: Velto is quitting."), true};
}

} // namespace

void cancelAll()
{
    cancelGeneration.fetch_add(1);
}

Bound::Bound() : generation_(cancelGeneration.load())
{
    clock_.start();
}

void Bound::start()
{
    clock_.start();
    work_ = 0;
    nextClock_ = 0;
}

bool Bound::exceeded(unsigned work)
{
    if (stop_ != Stop::None)
        return true;
    if (cancelGeneration.load(std::memory_order_relaxed) != generation_) {
        stop_ = Stop::Cancelled;
    } else if (work_ >= nextClock_) {
        // The clock is read after every 256 units of work, not at every character.
        nextClock_ = work_ + 256;
        if (clock_.elapsed() >= timeLimitMs.load(std::memory_order_relaxed))
            stop_ = Stop::TooLong;
    }
    work_ += work;
    return stop_ != Stop::None;
}

bool Bound::deeper(qsizetype depth)
{
    if (depth > maxDepth && stop_ == Stop::None)
        stop_ = Stop::TooDeep;
    return stop_ != Stop::None;
}

std::pair<QString, bool> read(const QString &path, int from, int to, Bound bound)
{
    bound.start();
    const QString name = QFileInfo(path).fileName();
    const QString ext = QFileInfo(path).suffix().toLower();
    const QString EXT = ext.toUpper();
    const std::pair<QString, bool> unreadable{name + QStringLiteral(" could not be read as ") + EXT +
                                                  QStringLiteral(". It may be damaged or not really that format."),
                                              true};

    // Only ordinary files, links resolved: a pipe would wait for a writer
    // forever, a device would never end.
    Files::Regular file;
    Files::openRegular(path, file);
    if (file.outcome == Files::Regular::Outcome::NotRegular)
        return {name + QStringLiteral(" is not an ordinary file (it is a pipe, a device or a folder), so doc_text "
                                      "does not read it."),
                true};

    auto tooLarge = [&](qint64 limit) -> std::optional<std::pair<QString, bool>> {
        if (file.outcome != Files::Regular::Outcome::Ok || file.size <= limit)
            return std::nullopt;
        return std::pair<QString, bool>{name + QStringLiteral(" is ") + megabytes(file.size) +
                                            QStringLiteral("; doc_text reads ") + EXT +
                                            QStringLiteral(" files of up to ") + megabytes(limit) +
                                            QStringLiteral(". Ask the CA for a smaller copy or only the part that matters."),
                                        true};
    };

    if (ext == QLatin1String("pdf")) {
        if (const auto refused = tooLarge(maxPdfBytes))
            return *refused;
        auto answer = readPdf(path, name, from, to, bound);
        if (bound.stop() != Bound::Stop::None)
            return stopped(name, bound.stop());
        return answer;
    }

    static const QStringList known = {QStringLiteral("docx"), QStringLiteral("doc"),  QStringLiteral("rtf"),
                                      QStringLiteral("odt"),  QStringLiteral("html"), QStringLiteral("htm"),
                                      QStringLiteral("txt"),  QStringLiteral("md")};
    if (!known.contains(ext))
        return {name + QStringLiteral(": .") + ext +
                    QStringLiteral(" is not a type doc_text reads (PDF, DOCX, DOC, RTF, ODT, HTML, TXT, MD). For a "
                                   "photo or scan, read it as an image."),
                true};

    if (file.outcome != Files::Regular::Outcome::Ok)
        return unreadable;

    std::optional<QString> text;
    bool more = false;
    if (ext == QLatin1String("txt") || ext == QLatin1String("md")) {
        auto plain = readPlainText(file.fd, bound);
        if (plain) {
            text = std::move(plain->text);
            more = plain->more;
        }
    } else if (const auto refused = tooLarge(maxDocumentBytes)) {
        return *refused;
    } else if (ext == QLatin1String("docx")) {
        text = readDocx(path, bound);
    } else if (ext == QLatin1String("odt")) {
        text = readOdt(path, bound);
    } else if (const auto bytes = Files::readUpTo(file.fd, maxDocumentBytes)) {
        if (ext == QLatin1String("doc"))
            text = readWord97(*bytes, bound);
        else if (ext == QLatin1String("rtf"))
            text = readRtf(*bytes, bound);
        else
            text = readHtmlFile(*bytes, bound);
    }
    if (bound.stop() != Bound::Stop::None)
        return stopped(name, bound.stop());
    if (!text)
        return unreadable;

    const QString kept = SkillText::prefixCharacters(*text, cap);
    const QString tail = more || kept.size() < text->size()
                             ? QStringLiteral("\n[stopped at %1 characters for length]").arg(cap)
                             : QString();
    return {name + QStringLiteral(": ") + EXT + QStringLiteral(", %1 characters.").arg(SkillText::characterCount(kept)) +
                QStringLiteral("\n\n") + kept + tail,
            false};
}

} // namespace DocText
