#include "platform/Dialogs.h"
#include "platform/Dispatch.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <deque>

namespace Modal {

namespace {
int depth = 0;
std::deque<std::function<void()>> waiting;

void drain()
{
    // Each waiting job runs in turn; a job that opens a dialog stops the rest
    // until that dialog closes.
    while (depth == 0 && !waiting.empty()) {
        auto fn = std::move(waiting.front());
        waiting.pop_front();
        fn();
    }
}
} // namespace

bool isOpen() { return depth > 0; }

void whenClosed(std::function<void()> fn)
{
    Dispatch::onMain([fn = std::move(fn)]() mutable {
        waiting.push_back(std::move(fn));
        drain();
    });
}

Scope::Scope() { ++depth; }

Scope::~Scope()
{
    if (--depth == 0 && !waiting.empty())
        Dispatch::onMain(drain);
}

} // namespace Modal

namespace Dialogs {

namespace {

QWidget *parentWindow()
{
    return QApplication::activeWindow();
}

QMessageBox::Icon iconFor(Style s)
{
    switch (s) {
    case Style::Warning: return QMessageBox::Warning;
    case Style::Critical: return QMessageBox::Critical;
    case Style::Informational: break;
    }
    return QMessageBox::Information;
}

// The exact data a write will send, read-only, between the text and the buttons.
void addDetail(QMessageBox &box, const QString &detail)
{
    auto *view = new QPlainTextEdit(&box);
    view->setObjectName(QStringLiteral("detail"));
    view->setReadOnly(true);
    view->setPlainText(detail);
    // Every line wraps at the box's width, a long word anywhere: nothing
    // hides behind a horizontal scroll bar where the CA might not look.
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(11);
    mono.setWeight(QFont::Normal);
    view->setFont(mono);
    view->document()->setDocumentMargin(6);
    view->setFixedSize(460, 240);
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    auto *buttonBox = box.findChild<QDialogButtonBox *>();
    if (!grid || !buttonBox) { // not the box this was written for: show the data all the same
        delete view;
        box.setDetailedText(detail);
        return;
    }
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(grid->indexOf(buttonBox), &row, &column, &rowSpan, &columnSpan);
    grid->removeWidget(buttonBox);
    grid->addWidget(view, row, 1, 1, std::max(1, grid->columnCount() - 1));
    grid->addWidget(buttonBox, row + 1, column, rowSpan, columnSpan);
}

// Answers the index of the button pressed (0 = first), -1 when closed otherwise.
int runBox(const Alert &a, const QString &detail)
{
    QMessageBox box(parentWindow());
    box.setIcon(iconFor(a.style));
    box.setText(a.title);
    box.setInformativeText(a.text);
    // Texts that come from data (a page's message, a file name) show as written.
    box.setTextFormat(Qt::PlainText);
    if (auto *info = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setTextFormat(Qt::PlainText);
    if (!a.windowTitle.isEmpty())
        box.setWindowTitle(a.windowTitle);
    QList<QAbstractButton *> buttons;
    const QStringList labels = a.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : a.buttons;
    for (int i = 0; i < labels.size(); ++i) {
        auto role = i == 0 ? QMessageBox::AcceptRole
                           : (i == 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole);
        buttons.append(box.addButton(labels[i], role));
    }
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.value(a.defaultButton, buttons.first())));
    if (!detail.isEmpty())
        addDetail(box, detail);
    if (Hooks::dress)
        Hooks::dress(&box);
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

} // namespace

int Hooks::defaultAlert(const Alert &a)
{
    return runBox(a, QString());
}

bool Hooks::defaultConfirm(const Confirm &c)
{
    if (c.front) {
        // The CA answers with the application's window in front of them.
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isWindow() && !(w->windowFlags() & Qt::Popup)) {
                w->raise();
                w->activateWindow();
                break;
            }
        }
    }
    const Alert a{c.title, c.text, c.style, {c.approve, c.cancel}, 0, c.windowTitle};
    // A write shown with its exact data gets its own box; a plain question
    // is an alert like any other.
    return (c.detail.isEmpty() ? Hooks::alert(a) : runBox(a, c.detail)) == 0;
}

std::optional<QString> Hooks::defaultOpenFolder(const FolderPanel &p)
{
    QFileDialog dialog(parentWindow(), p.message, p.startDir);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::ReadOnly, !p.canCreateFolders);
    dialog.setLabelText(QFileDialog::Accept, p.prompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> Hooks::defaultTextPrompt(const TextPrompt &p)
{
    QInputDialog dialog(parentWindow());
    dialog.setWindowTitle(p.title);
    dialog.setLabelText(p.text);
    dialog.setTextValue(p.initial);
    dialog.setOkButtonText(p.accept);
    dialog.setCancelButtonText(p.cancel);
    if (auto *field = dialog.findChild<QLineEdit *>())
        field->setPlaceholderText(p.placeholder);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QStringList Hooks::defaultOpenFiles(const FilePanel &p)
{
    // Not modal to a window: the CA may look at the page while choosing.
    QFileDialog dialog(nullptr);
    dialog.setFileMode(p.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

int ask(const Alert &a)
{
    Modal::Scope modal;
    return Hooks::alert(a);
}

void alert(const QString &title, const QString &text, Style style)
{
    ask(Alert{title, text, style, {QStringLiteral("OK")}});
}

bool confirm(const Confirm &c)
{
    if (!Dispatch::isMainThread()) {
        // A tool working off the main thread waits for the CA's answer.
        bool yes = false;
        QMetaObject::invokeMethod(qApp, [&] { yes = confirm(c); }, Qt::BlockingQueuedConnection);
        return yes;
    }
    Modal::Scope modal;
    return Hooks::confirm(c);
}

int askUnheld(const Alert &a)
{
    return Hooks::alert(a);
}

bool confirmUnheld(const Confirm &c)
{
    return Hooks::confirm(c);
}

std::optional<QString> openFolder(const FolderPanel &p)
{
    Modal::Scope modal;
    return Hooks::openFolder(p);
}

std::optional<QString> textPrompt(const TextPrompt &p)
{
    Modal::Scope modal;
    return Hooks::textPrompt(p);
}

} // namespace Dialogs

namespace Dialogs {
QStringList openFiles(const FilePanel &p)
{
    Modal::Scope modal;
    return Hooks::openFiles(p);
}
} // namespace Dialogs
