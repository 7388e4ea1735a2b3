#include "app/SignIn.h"
#include "core/Characters.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/Shell.h"
#include "platform/Dispatch.h"
#include "platform/Http.h"
#include "ui/Mascot.h"
#include "ui/PanelKit.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTimer>

namespace {

// The maker's web application, named in the explanation and the hint.
const QString kWebHost = QStringLiteral("hallix.in");

QLabel *label(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent,
              const QRect &frame, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    QLabel *l = PanelKit::label(text, size, weight, color);
    l->setParent(parent);
    l->setAlignment(align);
    l->setGeometry(frame);
    return l;
}

// The rounded box a field sits in; the field keeps its own life.
// The kit's input box, rounder and on the panel colour, the field inset 12
// across and 9 down; the field keeps its own life.
void fieldBox(QLineEdit *field, const QString &placeholder, QWidget *parent, const QRect &frame)
{
    field->setPlaceholderText(placeholder);
    QWidget *box = PanelKit::input(field, frame, parent, Theme::font(13.5));
    ViewLayer *l = ViewLayer::of(box);
    l->cornerRadius = 12;
    l->background = Theme::surface();
    l->layout = [field](QWidget *b) { field->setGeometry(12, 9, b->width() - 24, 20); };
    l->apply();
}

// The product's home folder as the CA knows it.
QString shownHome()
{
    const QString home = QDir::homePath();
    if (VELTO_HOME.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + VELTO_HOME.mid(home.size());
    return VELTO_HOME;
}

} // namespace

// --- LoginWindow ----------------------------------------------------------------

LoginWindow::LoginWindow(QWidget *mainWindow, std::function<void(bool)> onDone)
    : QDialog(mainWindow), email_(new QLineEdit(this)), pass_(new QLineEdit(this)), status_(new QLabel(this)),
      button_(new QPushButton(QStringLiteral("Sign in"), this)), smileTimer_(new QTimer(this)),
      onDone_(std::move(onDone))
{
    setWindowTitle(QStringLiteral("Velto"));
    setFixedSize(460, 470);
    setWindowModality(Qt::WindowModal);
    setModal(true);

    email_->setAccessibleName(QStringLiteral("Email"));
    pass_->setAccessibleName(QStringLiteral("Password"));
    pass_->setEchoMode(QLineEdit::Password);
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignCenter);
    // Return anywhere in the window presses the button (while it is enabled).
    button_->setDefault(true);
    button_->setAutoDefault(true);
    button_->setCursor(Qt::ArrowCursor);
    connect(button_, &QPushButton::clicked, this, &LoginWindow::signIn);

    build();

    // Now and then the mark smiles.
    smileTimer_->setInterval(std::max(1, Dispatch::scaledMs(6.5)));
    connect(smileTimer_, &QTimer::timeout, this, &LoginWindow::smile);
    smileTimer_->start();
}

LoginWindow::~LoginWindow() = default;

void LoginWindow::defaultPresent(LoginWindow &window)
{
    window.open();
    window.raise();
    window.activateWindow();
}

void LoginWindow::present()
{
    if (presentHook)
        presentHook(*this);
}

void LoginWindow::smile()
{
    if (isVisible() && mark_)
        mark_->happy(0.9);
}

void LoginWindow::build()
{
    PanelKit::prepare(this);

    // The fields live as long as the window; everything else is made anew.
    for (QWidget *w : {static_cast<QWidget *>(email_), static_cast<QWidget *>(pass_),
                       static_cast<QWidget *>(status_), static_cast<QWidget *>(button_)})
        w->setParent(this);
    delete content_;
    content_ = new QWidget(this);
    content_->setGeometry(0, 0, 460, 470);
    ViewLayer::of(content_)->background = Theme::bg();

    mark_ = new PaviMarkView(QRect(188, 44, 84, 84), content_);
    mark_->setSteadyGlow(true);

    auto *word = new QLabel(content_);
    word->setTextFormat(Qt::RichText);
    QFont wordFont = Theme::font(28, QFont::Bold);
    wordFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.6);
    word->setFont(wordFont);
    word->setText(QStringLiteral("<span style=\"color:%1\">Vel</span><span style=\"color:%2\">to</span>")
                      .arg(Theme::css(Theme::ink()), Theme::css(Theme::royal())));
    word->setAlignment(Qt::AlignCenter);
    word->setGeometry(30, 144, 400, 36);

    QLabel *explain = label(QStringLiteral("Sign in with your Hallix CA account \u2014 the same email and password as ") +
                                kWebHost + QLatin1Char('.'),
                            12.5, QFont::Normal, Theme::muted(), content_, QRect(50, 186, 360, 36), Qt::AlignCenter);
    explain->setWordWrap(true);

    label(QStringLiteral("Email"), 11.5, QFont::Medium, Theme::ink2(), content_, QRect(32, 234, 200, 16));
    fieldBox(email_, QStringLiteral("you@yourfirm.in"), content_, QRect(30, 254, 400, 38));
    label(QStringLiteral("Password"), 11.5, QFont::Medium, Theme::ink2(), content_, QRect(32, 302, 200, 16));
    fieldBox(pass_, QStringLiteral("Password"), content_, QRect(30, 322, 400, 38));

    status_->setParent(content_);
    status_->setFont(Theme::font(11.5));
    PanelKit::setTextColor(status_, Theme::stampInk());
    status_->setGeometry(30, 368, 400, 30);
    status_->show();

    button_->setParent(content_);
    button_->setGeometry(30, 390, 400, 40);
    button_->setFont(Theme::font(14, QFont::Medium));
    Theme::primaryButton(button_);
    button_->show();

    label(QStringLiteral("New here? Register at ") + kWebHost, 11.5, QFont::Normal, Theme::muted(), content_,
          QRect(60, 440, 340, 16), Qt::AlignCenter);

    content_->show();
    QWidget *focused = focusWidget();
    if (!focused || focused == this)
        email_->setFocus();
}

void LoginWindow::repaint()
{
    QWidget *focused = QApplication::focusWidget();
    if (!focused || focused->window() != this)
        focused = focusWidget();
    const bool busy = mark_ && mark_->busy();
    build();
    mark_->setBusy(busy);
    if (focused == email_ || focused == pass_)
        focused->setFocus();
}

void LoginWindow::signIn()
{
    if (!button_->isEnabled())
        return; // a sign-in is already on its way
    const QString email = Characters::trimSpacesTabs(email_->text()).toLower();
    const QString password = pass_->text();
    if (email.isEmpty() || password.isEmpty()) {
        status_->setText(QStringLiteral("Enter your email and password."));
        return;
    }
    status_->clear();
    button_->setEnabled(false);
    mark_->setBusy(true);

    Http::Request req;
    req.method = "POST";
    req.url = QUrl(API + QStringLiteral("/cli/login"));
    req.headers = {{"Content-Type", "application/json"}};
    req.body = SignIn::loginBody(email, password);
    req.credential = true; // the password rides in the body
    req.timeout = 30;
    QPointer<LoginWindow> self(this);
    Http::request(req, [self, email](const Http::Response &reply) {
        if (!self)
            return;
        self->button_->setEnabled(true);
        self->mark_->setBusy(false);
        if (!reply.answered()) {
            self->status_->setText(QStringLiteral("Network problem: ") + reply.error);
            return;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(reply.body);
        const QJsonObject o = doc.object();
        const QJsonValue token = o.value(QStringLiteral("token"));
        if (doc.isObject() && token.isString() && !token.toString().isEmpty()) {
            // A seat the app cannot keep is no sign-in: say so and stay open.
            if (!writeSecret(SEAT_ENV, SignIn::seatText(token.toString(), email))) {
                self->status_->setText(QStringLiteral("Could not save your sign-in in ") + shownHome() +
                                       QStringLiteral(". Check that the folder can be written, then sign in again."));
                return;
            }
            self->finish(true); // may destroy the window
            return;
        }
        const QJsonValue message = o.value(QStringLiteral("error")).toObject().value(QStringLiteral("message"));
        self->status_->setText(message.isString() ? message.toString() : QStringLiteral("Sign in failed."));
    });
}

void LoginWindow::finish(bool signedIn)
{
    if (finished_)
        return;
    finished_ = true;
    smileTimer_->stop();
    hide();
    if (auto done = onDone_)
        done(signedIn);
}

void LoginWindow::closeEvent(QCloseEvent *event)
{
    // Closing the window is the CA quitting: the app cannot go on unsigned.
    event->accept();
    if (!finished_)
        finish(false);
}

// --- sign-in body, seat file, sign-out ----------------------------------------------------------

namespace SignIn {

QByteArray loginBody(const QString &email, const QString &password)
{
    QString device = QSysInfo::machineHostName();
    if (device.isEmpty())
        device = QSysInfo::prettyProductName();
    const QJsonObject body{{QStringLiteral("email"), email},
                           {QStringLiteral("password"), password},
                           {QStringLiteral("device"), device},
                           {QStringLiteral("os"), QSysInfo::kernelType()}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QString seatText(const QString &token, const QString &email)
{
    return QStringLiteral("PAVI_SEAT_TOKEN=") + token + QLatin1Char('\n') + QStringLiteral("PAVI_SEAT_EMAIL=") + email +
           QLatin1Char('\n');
}

void signOut(std::function<void()> quit)
{
    const QString token = readEnvFile(SEAT_ENV).value(QStringLiteral("PAVI_SEAT_TOKEN"));
    if (!token.isEmpty()) {
        Http::Request req;
        req.method = "POST";
        req.url = QUrl(API + QStringLiteral("/cli/logout"));
        req.headers = {{"Authorization", "Bearer " + token.toUtf8()}};
        req.timeout = 10;
        // Fired and forgotten: the answer changes nothing here.
        Http::request(req, [](const Http::Response &) {});
    }
    QFile::remove(SEAT_ENV);
    ::alert(QStringLiteral("Signed out"), QStringLiteral("This device's seat is released. Open Velto again to sign in."),
          Dialogs::Style::Informational);
    if (quit)
        quit();
    else
        QCoreApplication::quit();
}

} // namespace SignIn
