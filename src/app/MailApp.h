#pragma once
// The firm's mail app on this computer, as the Mail button finds and opens it:
// its desktop entry "hallix-mail.desktop" in the desktop's application
// folders (the user's own first), else a program "hallix-mail" on PATH.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace MailApp {

struct Found {
    QString path;              // the desktop entry or the program
    bool desktopEntry = false;
};

std::optional<Found> defaultLocate();
inline std::function<std::optional<Found>()> locate = &defaultLocate;

// The command line of a desktop entry: its "Exec" key in the "[Desktop
// Entry]" group, split into the program and its arguments, the field codes
// (%f, %u, %i …) left out and "%%" made "%". Empty when there is none.
QStringList execCommand(const QString &desktopFile);

// Starts the app on its own (it outlives Velto). Answers an empty text when
// it started, else why not.
QString defaultOpen(const Found &app);
inline std::function<QString(const Found &)> open = &defaultOpen;

} // namespace MailApp
