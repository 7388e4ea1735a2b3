#pragma once
// The text of a document in the clients folder, for the engine: notices,
// orders, returns and letters. A PDF is read page by page from its text
// layer, with a marker before every page and the pages without text (scans)
// named; one answer stays near 400,000 characters and says where to go on.
#include <QByteArray>
#include <QString>
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

// The answer for a file (text, isError). from and to are the first and last
// page wanted; 0 or less means not given. Only PDFs have pages. Only ordinary
// files are read (links resolved); anything else is refused. Holds no state
// and may block on the disk: call it off the main thread.
std::pair<QString, bool> read(const QString &path, int from, int to);

// The readers of the formats other than PDF; each gives the plain text, or
// nothing when the input is not that format or is damaged.
std::optional<QString> readDocx(const QString &path);
std::optional<QString> readOdt(const QString &path);
std::optional<QString> readRtf(const QByteArray &data);
// Word 97-2003 documents: the main text, through the compound file and the
// piece table. Encrypted and older (Word 6/95) files are not read.
std::optional<QString> readWord97(const QByteArray &data);

} // namespace DocText
