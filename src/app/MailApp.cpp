#include "app/MailApp.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace MailApp {

namespace {

const QString kName = QStringLiteral("hallix-mail");

// A desktop entry's value with its escapes (\s \n \t \r \\) undone.
QString unescaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        default: out += next; break;
        }
    }
    return out;
}

} // namespace

std::optional<Found> defaultLocate()
{
    const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, kName + QStringLiteral(".desktop"));
    if (!entry.isEmpty() && !execCommand(entry).isEmpty())
        return Found{entry, true};
    const QString program = QStandardPaths::findExecutable(kName);
    if (!program.isEmpty())
        return Found{program, false};
    return std::nullopt;
}

QStringList execCommand(const QString &desktopFile)
{
    QFile file(desktopFile);
    // A desktop entry is a few lines; anything larger is not one.
    if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly))
        return {};
    bool inEntry = false;
    QString exec;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QLatin1String("Exec")))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed() != QLatin1String("Exec"))
            continue;
        exec = unescaped(line.mid(eq + 1).trimmed());
        break;
    }
    QStringList args;
    for (const QString &arg : QProcess::splitCommand(exec)) {
        // A field code stands for files, addresses or the entry itself:
        // the app opens with none of them.
        if (arg.size() == 2 && arg.at(0) == QLatin1Char('%') && arg.at(1) != QLatin1Char('%'))
            continue;
        args << QString(arg).replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return args;
}

QString defaultOpen(const Found &app)
{
    QStringList command = app.desktopEntry ? execCommand(app.path) : QStringList{app.path};
    if (command.isEmpty())
        return QStringLiteral("the app's desktop entry names no program.");
    QProcess process;
    process.setProgram(command.takeFirst());
    process.setArguments(command);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (process.startDetached())
        return {};
    const QString why = process.errorString();
    return why.isEmpty() ? QStringLiteral("it could not be started.") : why;
}

} // namespace MailApp
