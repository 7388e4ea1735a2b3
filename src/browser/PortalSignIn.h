#pragma once
// Signing the CA in to a portal with a saved login: the login page opens in a
// new tab, the saved user id and password are typed into its form by script,
// and the page's login button is pressed unless the page asks for a CAPTCHA.
// A CAPTCHA and an OTP are always the CA's. The password is typed only into
// the tab the sign-in opened, and only while that tab is still on the login
// page's host. It is never part of an outcome. Main thread only.
#include "browser/PortalVault.h"
#include "platform/Dispatch.h"

#include <QString>
#include <functional>

class BrowserPane;

namespace PortalSignIn {

// done is called once with one word: "no_login_page", "no_password",
// "no_fields", "captcha", "submitted", "filled", "tab_closed" (the sign-in
// tab or the pane went away first), "wrong_host" (the tab left the login
// page's host; nothing was filled) or an "ERROR: " text of a failed script.
void run(BrowserPane &pane, const PortalLogin &login, std::function<void(const QString &outcome)> done);

// The login page of a login: its own address, else the catalogue's; empty
// when that is no valid address on an allowed host.
QString address(const PortalLogin &login);

// How the sign-in waits (Dispatch::after, so the time scale applies). Tests
// replace it to change the page between the steps.
inline std::function<void(double seconds, std::function<void()> then)> delay = &Dispatch::after;

// The scripts: the fill script types only while the page is on host; the
// submit script presses the login button unless there is a CAPTCHA.
QString fillJS(const QString &host, const QString &username, const QString &password);
QString submitJS(const QString &host);

} // namespace PortalSignIn
