#pragma once
// The shared test kit: a throwaway home for every test, dialog answers, and
// bounded waits on the event loop.
#include "platform/Dialogs.h"

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

class QMessageBox;
class QTimer;
class QWebEngineProfile;
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

// Readable failure messages for Qt texts.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace TestKit {

// Installed once per test executable: failing dialogs, in-memory secrets,
// a shrunken time scale.
class Environment : public ::testing::Environment {
public:
    void SetUp() override;
};

// Puts back the dialog hooks that fail the test instead of waiting on a person.
void installFailingDialogs();

// Spins the event loop until pred() holds or ms pass; answers pred().
bool waitFor(const std::function<bool()> &pred, int ms = 30000);

// Calls look(box) once, with the next message box shown modally (it runs its
// own event loop, so it is looked for every 10 ms). Keep the timer until the
// box is answered.
std::unique_ptr<QTimer> whenMessageBoxShows(std::function<void(QMessageBox *)> look);

// Spins the event loop for about ms (for "nothing more happens" checks).
void spin(int ms);

// What Qt shows for a button, menu item or tab title: "&&" as one "&", a
// lone "&" (a shortcut marker) not at all.
QString shown(const QString &title);

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString &path);

// Every file and folder under dir, hidden ones too, as sorted paths relative
// to dir.
QStringList entriesUnder(const QString &dir);

// A private, off-the-record web profile shared by the tests of one program:
// no test touches a real profile, and web views start fast.
QWebEngineProfile *webProfile();

// A fresh home folder in a temporary directory. While it lives, the process
// environment has VELTO_DEMO_HOME pointing at it and the globals are filled
// from that environment; extra variables can be set before (re)filling.
class TempHome {
public:
    explicit TempHome(const QMap<QString, QString> &extraEnv = {});
    ~TempHome();
    QString path() const { return dir_.path(); }
    // Re-fills the globals from the current environment plus `env`.
    void refill(const QMap<QString, QString> &env = {});
    // path() + "/" + rel
    QString file(const QString &rel) const;
    // Writes a file under the home, creating folders; answers its path.
    QString write(const QString &rel, const QByteArray &data) const;

private:
    QTemporaryDir dir_;
    QMap<QString, std::optional<QByteArray>> saved_;
};

// A test fixture giving every test its own home.
class HomeTest : public ::testing::Test {
protected:
    std::unique_ptr<TempHome> home;
    void SetUp() override { home = std::make_unique<TempHome>(); }
    void TearDown() override { home.reset(); }
};

// Scripted dialog answers for the life of the object. Each dialog kind takes
// answers in order; a dialog with no scripted answer fails the test and is
// cancelled. Everything shown is recorded.
class DialogAnswers {
public:
    DialogAnswers();
    ~DialogAnswers();
    void alert(int button) { alerts_.push_back(button); }
    void confirm(bool approve) { confirms_.push_back(approve); }
    void openFolder(std::optional<QString> folder) { folders_.push_back(std::move(folder)); }
    void textPrompt(std::optional<QString> text) { prompts_.push_back(std::move(text)); }
    void openFiles(QStringList files) { files_.push_back(std::move(files)); }

    std::vector<Dialogs::Alert> shownAlerts;
    std::vector<Dialogs::Confirm> shownConfirms;
    std::vector<Dialogs::FolderPanel> shownFolderPanels;
    std::vector<Dialogs::TextPrompt> shownPrompts;
    std::vector<Dialogs::FilePanel> shownFilePanels;

private:
    std::deque<int> alerts_;
    std::deque<bool> confirms_;
    std::deque<std::optional<QString>> folders_;
    std::deque<std::optional<QString>> prompts_;
    std::deque<QStringList> files_;
};

} // namespace TestKit
