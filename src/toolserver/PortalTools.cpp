#include "toolserver/PortalTools.h"
#include "browser/BrowserPane.h"
#include "browser/PortalSignIn.h"
#include "browser/PortalVault.h"

#include <QUrl>

namespace PortalTools {

namespace {

QString stringArg(const QJsonObject &args, const char *key)
{
    const QJsonValue v = args.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

// One line of a listing; never a password.
QString line(const PortalLogin &login)
{
    QString text = login.client + QStringLiteral(" — ") + login.portal + QStringLiteral(" — user id ") + login.username;
    if (!PortalVault::hasPassword(login.id))
        text += QStringLiteral(" (no password saved)");
    return text;
}

QString lines(const std::vector<PortalLogin> &logins)
{
    QStringList out;
    for (const PortalLogin &l : logins)
        out << line(l);
    return out.join(QLatin1Char('\n'));
}

// The outcome word of a sign-in as the engine is told it; only a form that
// was filled (submitted, waiting on a CAPTCHA, or waiting on the CA's click)
// is no error.
QJsonObject outcomeText(const QString &word, const PortalLogin &login)
{
    const QString on = login.client + QStringLiteral(" on ") + login.portal;
    auto ok = [](const QString &t) { return BrowserMCP::text(t, false); };
    auto failed = [](const QString &t) { return BrowserMCP::text(t, true); };
    if (word == QLatin1String("submitted"))
        return ok(QStringLiteral("Login submitted for ") + on +
                  QStringLiteral(". If an OTP screen appears, the CA enters it. Call browser_read to continue."));
    if (word == QLatin1String("captcha"))
        return ok(QStringLiteral("User id and password are filled for ") + on +
                  QStringLiteral(". The portal is asking for a CAPTCHA — that is for the CA. Tell them to type it in "
                                 "the Velto Browser tab and press Login, then call browser_read."));
    if (word == QLatin1String("filled"))
        return ok(QStringLiteral("Credentials filled for ") + on +
                  QStringLiteral(" but no Login button was found. Ask the CA to press Login in the Velto Browser tab."));
    if (word == QLatin1String("no_fields"))
        return failed(QStringLiteral("The login form did not appear on ") + login.portal +
                      QStringLiteral(". Open the portal with browser_open and try again, or ask the CA to sign in "
                                     "manually."));
    if (word == QLatin1String("no_password"))
        return failed(QStringLiteral("No password is saved for this login. Ask the CA to add it in Velto → Portal "
                                     "Logins."));
    if (word == QLatin1String("tab_closed"))
        return failed(QStringLiteral("The sign-in tab for ") + login.portal +
                      QStringLiteral(" was closed before the form was filled. Nothing was typed."));
    if (word == QLatin1String("wrong_host"))
        return failed(QStringLiteral("The sign-in tab left the login page of ") + login.portal +
                      QStringLiteral(" before the form was filled, so the password was not typed. Call "
                                     "portal_sign_in again, or ask the CA to sign in."));
    return failed(QStringLiteral("Could not open the login page for ") + login.portal + QStringLiteral("."));
}

} // namespace

void logins(QObject &, const QJsonObject &, const BrowserMCP::Done &done)
{
    const std::vector<PortalLogin> all = PortalVault::all();
    if (all.empty()) {
        done(BrowserMCP::text(QStringLiteral("No portal logins saved. The CA adds them in Velto → Portal Logins."),
                              false));
        return;
    }
    done(BrowserMCP::text(lines(all), false));
}

void signIn(QObject &obj, const QJsonObject &args, const BrowserMCP::Done &done)
{
    const QString client = stringArg(args, "client");
    const QString portal = stringArg(args, "portal");
    const std::vector<PortalLogin> found = PortalVault::matches(client, portal);
    if (found.empty()) {
        done(BrowserMCP::text(QStringLiteral("No saved login for \"") + client + QStringLiteral("\" on ") + portal +
                                  QStringLiteral(". Ask the CA to add it in Velto → Portal Logins."),
                              true));
        return;
    }
    // Never the first of several: the CA says which.
    if (found.size() > 1) {
        done(BrowserMCP::text(QStringLiteral("Several saved logins match \"") + client + QStringLiteral("\" on ") +
                                  portal + QStringLiteral(":\n") + lines(found) +
                                  QStringLiteral("\nAsk the CA which one, then call portal_sign_in with that "
                                                 "client and portal exactly."),
                              true));
        return;
    }
    auto *pane = qobject_cast<BrowserPane *>(&obj);
    if (!pane) {
        done(BrowserMCP::text(QStringLiteral("Browser window is not open."), true));
        return;
    }
    const PortalLogin login = found.front();
    PortalSignIn::run(*pane, login, [login, done](const QString &word) { done(outcomeText(word, login)); });
}

} // namespace PortalTools
