#include "panels/Updater.h"

#include "core/Globals.h"
#include "panels/PanelCloud.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "ui/PanelKit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QWidget>

namespace Updater {

namespace {

// Bounds on what the cloud can make us hold.
constexpr qint64 kMaxReply = 64 * 1024;
constexpr qint64 kMaxPackage = 512LL * 1024 * 1024;

// A piece as a signed decimal integer; 0 when it is not one. Pieces too long
// for 64 bits compare by their digits instead of overflowing.
struct Number {
    bool negative = false;
    QString digits; // without leading zeros
};

Number numberOf(const QString &piece)
{
    static const QRegularExpression decimal(QStringLiteral("^([+-]?)([0-9]+)$"));
    const QRegularExpressionMatch m = decimal.match(piece);
    Number n;
    if (!m.hasMatch())
        return n;
    QString digits = m.captured(2);
    while (digits.size() > 1 && digits.startsWith(u'0'))
        digits.remove(0, 1);
    if (digits == QStringLiteral("0"))
        return n;
    n.negative = m.captured(1) == QStringLiteral("-");
    n.digits = digits;
    return n;
}

int compareNumbers(const Number &a, const Number &b)
{
    if (a.digits.isEmpty() && b.digits.isEmpty())
        return 0;
    const auto sign = [](const Number &n) { return n.digits.isEmpty() ? 0 : (n.negative ? -1 : 1); };
    if (sign(a) != sign(b))
        return sign(a) > sign(b) ? 1 : -1;
    int magnitude = 0;
    if (a.digits.size() != b.digits.size())
        magnitude = a.digits.size() > b.digits.size() ? 1 : -1;
    else if (a.digits != b.digits)
        magnitude = a.digits > b.digits ? 1 : -1;
    return sign(a) < 0 ? -magnitude : magnitude;
}

QString downloadPage()
{
    return QUrl(BUILTIN_API).host() + QStringLiteral("/ca/cli");
}

void failed()
{
    Dialogs::alert(QStringLiteral("Could not download the update"),
                   QStringLiteral("Check the internet connection, or download it from ") + downloadPage() +
                       QStringLiteral("."),
                   Dialogs::Style::Warning);
}

} // namespace

QSet<QString> &offered()
{
    static QSet<QString> versions;
    return versions;
}

QString current()
{
    if (Hooks::packageVersion && !Hooks::packageVersion->isEmpty())
        return *Hooks::packageVersion;
    const std::optional<QByteArray> file = Files::readAll(joinPath(VELTO_HOME, QStringLiteral("VERSION")));
    if (file)
        return QString::fromUtf8(*file).trimmed();
    return QStringLiteral("1.0.0");
}

int compare(const QString &a, const QString &b)
{
    const QStringList pa = a.split(u'.', Qt::SkipEmptyParts);
    const QStringList pb = b.split(u'.', Qt::SkipEmptyParts);
    for (int i = 0; i < 3; ++i) {
        const int c = compareNumbers(numberOf(pa.value(i)), numberOf(pb.value(i)));
        if (c != 0)
            return c;
    }
    return 0;
}

bool plainVersion(const QString &version)
{
    static const QRegularExpression digitsAndDots(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    return version.size() <= 64 && digitsAndDots.match(version).hasMatch();
}

bool looksLikePackage(const QByteArray &data)
{
    // An "ar" archive whose first member is "debian-binary".
    return data.startsWith("!<arch>\n") && data.mid(8, 16).startsWith("debian-binary");
}

QString packagePath(const QString &version)
{
    return joinPath(QDir::tempPath(), QStringLiteral("Velto-") + version + QStringLiteral("-linux.deb"));
}

void check(const std::function<void(const std::optional<QJsonObject> &)> &done)
{
    const QUrl url(API + QStringLiteral("/cli/version"));
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        done(std::nullopt);
        return;
    }
    Http::Request req;
    req.url = url;
    req.timeout = 15;
    req.maxBody = kMaxReply;
    Http::request(req, [done](const Http::Response &r) { done(PanelCloud::object(r.body)); });
}

void checkAndOffer(QWidget *window)
{
    QPointer<QWidget> win(window);
    const bool withWindow = window != nullptr;
    check([win, withWindow](const std::optional<QJsonObject> &reply) {
        if (!reply || reply->value(QStringLiteral("success")) != QJsonValue(true) ||
            !reply->value(QStringLiteral("version")).isString())
            return;
        const QString version = reply->value(QStringLiteral("version")).toString();
        // The version names a file and is shown: digits and dots only.
        if (!plainVersion(version) || compare(version, current()) != 1)
            return;
        // A release with no package for this computer is not offered: the CA
        // could only say yes to nothing. Only a package fetched over https is
        // opened.
        const QString package = PanelCloud::string(
            PanelCloud::objectOf(reply->value(QStringLiteral("downloads"))).value_or(QJsonObject{}).value(
                QStringLiteral("linux_deb")));
        const QUrl url(package, QUrl::StrictMode);
        if (package.isEmpty() || !url.isValid() || url.scheme() != QStringLiteral("https") || url.host().isEmpty())
            return;
        if (offered().contains(version))
            return;
        offered().insert(version);
        const bool mandatory = reply->value(QStringLiteral("mandatory")) == QJsonValue(true);
        const QString notes = PanelCloud::string(reply->value(QStringLiteral("notes")));
        Dialogs::Alert offer;
        offer.title = QStringLiteral("Velto ") + version + QStringLiteral(" is available");
        offer.text = (notes.isEmpty() ? QStringLiteral("You are on ") + current() + QStringLiteral(".") : notes) +
                     QStringLiteral("\n\nVelto will download the installer and open it. Your work and sign-in stay as "
                                    "they are.");
        offer.buttons = {QStringLiteral("Update now")};
        if (!mandatory)
            offer.buttons << QStringLiteral("Later");
        if (Dialogs::ask(offer) != 0)
            return;
        download(url, version, withWindow ? win.data() : nullptr);
    });
}

void download(const QUrl &url, const QString &version, QWidget *window)
{
    std::function<void()> hideProgress;
    if (window)
        hideProgress = Hooks::progress(window, QStringLiteral("Downloading Velto ") + version + QStringLiteral("\u2026"),
                                       QStringLiteral("This takes a minute. Velto will open the installer when it is "
                                                      "ready."));
    Http::Request req;
    req.url = url;
    req.timeout = 120;
    req.maxBody = kMaxPackage;
    Http::request(req, [version, hideProgress](const Http::Response &r) {
        if (hideProgress)
            hideProgress();
        if (r.status != 200 || !r.error.isEmpty() || r.body.isEmpty()) {
            failed();
            return;
        }
        // What arrived must be a Debian package before the desktop opens it.
        if (!looksLikePackage(r.body)) {
            failed();
            return;
        }
        const QString path = packagePath(version);
        QFile::remove(path);
        if (!Files::writeAtomic(path, r.body, 0644))
            return;
        Desktop::openUrl(QUrl::fromLocalFile(path));
        Dialogs::Alert done;
        done.title = QStringLiteral("Installer is open");
        done.text = QStringLiteral("Finish the install and Velto will reopen on the new version. You can quit Velto "
                                   "now.");
        done.buttons = {QStringLiteral("Quit Velto"), QStringLiteral("Keep working")};
        if (Dialogs::ask(done) == 0 && Hooks::quit)
            Hooks::quit();
    });
}

std::function<void()> Hooks::defaultProgress(QWidget *window, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(window);
    box->setWindowModality(Qt::WindowModal);
    box->setText(title);
    box->setInformativeText(text);
    box->setStandardButtons(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    PanelKit::dressDialog(box);
    box->open();
    QPointer<QMessageBox> held(box);
    return [held] {
        if (held)
            held->close();
    };
}

void Hooks::defaultQuit()
{
    QCoreApplication::quit();
}

} // namespace Updater
