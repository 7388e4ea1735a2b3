#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;

// Modal dialogs. Each is a replaceable hook: tests install answers and never
// wait on a person. Every dialog, real or answered by a hook, counts as a
// modal session (see Modal) so that work which must not run inside a dialog
// can wait for it to close.
namespace Dialogs {

enum class Style { Warning, Informational, Critical };

struct Alert {
    QString title;            // the message text
    QString text;             // the informative text
    Style style = Style::Informational;
    QStringList buttons{QStringLiteral("OK")};
    int defaultButton = 0;    // the button Enter presses
    QString windowTitle{};    // when set: the window's own title
};

struct FolderPanel {
    QString prompt;           // the accept button
    QString message;
    QString startDir;
    bool canCreateFolders = true;
};

struct FilePanel {
    bool multiple = false;
    QStringList acceptedTypes;  // as the page gave them; may be empty
};

struct TextPrompt {
    QString title;
    QString text;
    QString initial;
    QString placeholder;
    QString accept = QStringLiteral("OK");
    QString cancel = QStringLiteral("Cancel");
};

struct Confirm {
    QString title;
    QString text;
    QString approve = QStringLiteral("Approve");
    QString cancel = QStringLiteral("Cancel");
    Style style = Style::Warning;
    QString detail{};         // when set: the exact data, in a monospaced box below the text
    bool front = false;       // bring the application to the front first
    QString windowTitle{};    // when set: the window's own title
};

struct Hooks {
    // Answers the index of the button pressed (0 = first), -1 when closed otherwise.
    static int defaultAlert(const Alert &a);
    static bool defaultConfirm(const Confirm &c);
    static std::optional<QString> defaultOpenFolder(const FolderPanel &p);
    static std::optional<QString> defaultTextPrompt(const TextPrompt &p);
    static QStringList defaultOpenFiles(const FilePanel &p);

    static inline std::function<int(const Alert &)> alert = &Hooks::defaultAlert;
    static inline std::function<bool(const Confirm &)> confirm = &Hooks::defaultConfirm;
    static inline std::function<std::optional<QString>(const FolderPanel &)> openFolder = &Hooks::defaultOpenFolder;
    static inline std::function<std::optional<QString>(const TextPrompt &)> textPrompt = &Hooks::defaultTextPrompt;
    // Answers the chosen files; empty when cancelled.
    static inline std::function<QStringList(const FilePanel &)> openFiles = &Hooks::defaultOpenFiles;
    // Gives a message box made by the default hooks the app's look, just
    // before it shows; set once at launch by the app (none: the desktop's look).
    static inline std::function<void(QDialog *)> dress;
};

// Callers use these; they run the hook inside a modal session.
int ask(const Alert &a);
void alert(const QString &title, const QString &text, Style style = Style::Informational);
// confirm may be called from any thread; a caller off the main thread waits
// for the answer, which is asked on the main thread.
bool confirm(const Confirm &c);
// A dialog that holds only what showed it (a web page's own): no modal
// session, so work waiting for dialogs to close goes on meanwhile.
int askUnheld(const Alert &a);
bool confirmUnheld(const Confirm &c);
std::optional<QString> openFolder(const FolderPanel &p);
std::optional<QString> textPrompt(const TextPrompt &p);
QStringList openFiles(const FilePanel &p);

} // namespace Dialogs

// Tracks open modal dialogs on the main thread.
namespace Modal {

bool isOpen();

// Runs fn on the main thread once no modal dialog is open: soon when none is,
// else after the last one closes. Waiting work runs in arrival order.
void whenClosed(std::function<void()> fn);

// Marks a modal session for as long as it lives (main thread only).
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
};

} // namespace Modal
