#pragma once
// Sign-in and sign-out of the CA's seat on the maker's cloud service.
//
// LoginWindow is the small themed sign-in window shown, modal on the main
// window, when the seat env file holds no token: the mascot, the wordmark, a
// line of explanation, the e-mail and password boxes, a status line, the
// "Sign in" button and a register hint. It posts the e-mail and password to
// "/cli/login", writes the returned token and the e-mail into SEAT_ENV (mode
// 0600), closes itself and reports true. It has no cancel control: the CA
// leaves it by signing in, or by closing it, which means quitting the app
// (reported as false).
//
// signOut releases the seat on the cloud, deletes SEAT_ENV, tells the CA and
// quits. Main thread only.
#include <QDialog>
#include <QPointer>
#include <functional>

class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class PaviMarkView;

class LoginWindow : public QDialog {
    Q_OBJECT
public:
    // Built for the main window it will be modal on, titled "Velto", 460 by
    // 470; not shown. onDone hears true once the CA is signed in, false when
    // the CA closed the window instead (the app then quits); it is called at
    // most once, after the window has hidden. onDone may release the window
    // with deleteLater(), never with delete: it runs inside the window's own
    // handlers.
    LoginWindow(QWidget *mainWindow, std::function<void(bool signedIn)> onDone);
    ~LoginWindow() override;

    // Shows the window modal on the main window and brings it forward. Returns
    // at once.
    void present();
    // Rebuilds the window in the theme in force, keeping what was typed, the
    // field that had the cursor and whether the mark breathes.
    void repaint();
    // The button's action (and Return anywhere in the window): checks the
    // fields and sends the sign-in.
    void signIn();

    // The parts, for the start-up's checks and tests.
    QLineEdit *email() const { return email_; }
    QLineEdit *pass() const { return pass_; }
    QLabel *status() const { return status_; }
    QPushButton *button() const { return button_; }
    PaviMarkView *mark() const { return mark_; }
    QTimer *smileTimer() const { return smileTimer_; }

    // How present() shows the window; tests replace it to fill in and answer
    // the window without a person.
    static void defaultPresent(LoginWindow &window);
    static inline std::function<void(LoginWindow &)> presentHook = &LoginWindow::defaultPresent;

protected:
    void closeEvent(QCloseEvent *event) override;
    // Escape does nothing: the window has no cancel.
    void reject() override {}

private:
    void build();
    void smile();
    void finish(bool signedIn);

    QLineEdit *email_;
    QLineEdit *pass_;
    QLabel *status_;
    QPushButton *button_;
    PaviMarkView *mark_ = nullptr;
    QTimer *smileTimer_;
    QWidget *content_ = nullptr;
    std::function<void(bool)> onDone_;
    bool finished_ = false;
};

namespace SignIn {

// The POST body of "/cli/login": compact JSON with "email", "password",
// "device" (this computer's host name) and "os" (the running system's name).
QByteArray loginBody(const QString &email, const QString &password);

// The seat env file's exact text: the token line and the e-mail line.
QString seatText(const QString &token, const QString &email);

// Releases the seat (POST "/cli/logout" with the token, fired and not
// awaited), deletes SEAT_ENV, shows "Signed out" and, once the CA closes it,
// calls quit (by default the application's normal quit). The same without a
// token, only without the request.
void signOut(std::function<void()> quit = nullptr);

} // namespace SignIn
