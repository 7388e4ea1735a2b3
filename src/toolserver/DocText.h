#pragma once
// The text of a document in the clients folder, for the engine: notices,
// orders, returns and letters. A PDF is read page by page from its text
// layer, with a marker before every page and the pages without text (scans)
// named; one answer stays near 400,000 characters and says where to go on.
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <optional>
#include <utility>

namespace DocText {

// The length limit of one answer, in user-perceived characters.
inline constexpr int cap = 400000;

// The largest files read whole: plain text is read only as far as the
// length limit, PDFs page by page; a file over its limit is refused with a
// sentence that names the limit.
inline constexpr qint64 maxPdfBytes = 256LL * 1024 * 1024;
inline constexpr qint64 maxDocumentBytes = 64LL * 1024 * 1024;

// The bound on the work of one read: a document that nests its elements
// deeper than maxDepth, or takes longer than timeLimitMs to read, is answered
// as too complex instead of holding a thread (and the app's quit) for minutes.
inline constexpr int maxDepth = 512;
// Tests shrink it.
inline std::atomic<int> timeLimitMs{20000};

// Stops every read under way: each answers at its next check that it was
// stopped. Reads started afterwards are not affected. Any thread; the quit
// path calls it so that no read keeps the app from ending.
void cancelAll();

// One read's bound. The readers call exceeded() as they go, giving the work
// done since the last call (1 for a character or a token, 256 for a page or
// a chunk of the file; it is cheap), and deeper() as they open an element;
// once either answers true, they stop and return nothing, and stop() tells
// why.
class Bound {
public:
    enum class Stop { None, TooDeep, TooLong, Cancelled };

    // Made when the read is asked for: a cancel after that point stops it,
    // even before it starts. The clock runs from start().
    Bound();
    void start();
    bool exceeded(unsigned work = 1);
    bool deeper(qsizetype depth);
    Stop stop() const { return stop_; }

private:
    QElapsedTimer clock_;
    quint64 generation_;
    quint64 work_ = 0;
    quint64 nextClock_ = 0;
    Stop stop_ = Stop::None;
};

// The answer for a file (text, isError). from and to are the first and last
// page wanted; 0 or less means not given. Only PDFs have pages. Past its
// bound, a read answers that the document is too complex to read, or, once
// cancelled, that it was not read. Only ordinary
// files are read (links resolved); anything else is refused. Holds no state
// and may block on the disk: call it off the main thread.
std::pair<QString, bool> read(const QString &path, int from, int to, Bound bound = {});

// The readers of the formats other than PDF; each gives the plain text, or
// nothing when the input is not that format, is damaged, or went past the
// bound (then bound.stop() says so).
std::optional<QString> readDocx(const QString &path, Bound &bound);
std::optional<QString> readOdt(const QString &path, Bound &bound);
std::optional<QString> readRtf(const QByteArray &data, Bound &bound);
// Word 97-2003 documents: the main text, through the compound file and the
// piece table. Encrypted and older (Word 6/95) files are not read.
std::optional<QString> readWord97(const QByteArray &data, Bound &bound);
// HTML: the text as a reader sees it. Scripts, styles and the title are left
// out, blocks and rows end lines, table cells are separated by tabs.
// Reading stops once the text is longer than stopAfter characters.
std::optional<QString> readHtml(QStringView html, Bound &bound, qsizetype stopAfter);

} // namespace DocText
