#pragma once
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

// The sites the portal browser may open: a fixed list a CA needs, plus the
// sites the CA added (sites.json in the product's home folder).

// Lower-case host suffixes; a host is allowed when it equals one or ends with
// "." and one.
const QStringList &ALLOWED_HOSTS();

// Whether a host may be opened in the browser pane (loopback, a built-in
// suffix, or a site the CA added).
bool hostAllowed(const std::optional<QString> &host);

// The maker's payment pages go to the desktop's browser instead of the pane.
bool opensInSystemBrowser(const QUrl &url);

namespace ExtraSites {

// Where the CA's sites live; VELTO_HOME/sites.json by default.
inline std::function<QString()> fileURL;

// Any pasted text to a bare lower-case host, or nothing when it is none.
std::optional<QString> clean(const QString &text);
// The stored hosts, cleaned, in file order.
QStringList all();
// Stores the cleaned host (sorted file); answers it, or nothing for bad text.
std::optional<QString> add(const QString &text);
// Removes the cleaned host, keeping the others' order.
void remove(const QString &text);

} // namespace ExtraSites
