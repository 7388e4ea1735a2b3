// Where the cloud-drive folders are, what each is called, and the client
// folder a fetched file goes into.
#include "connectors/CloudFiles.h"
#include "core/Globals.h"
#include "erp/ErpTools.h"

#include <QDir>
#include <QFileInfo>

const QSet<QString> CloudFiles::interesting{
    QStringLiteral("pdf"),  QStringLiteral("csv"),  QStringLiteral("xls"),  QStringLiteral("xlsx"),
    QStringLiteral("xlsb"), QStringLiteral("json"), QStringLiteral("xml"),  QStringLiteral("zip"),
    QStringLiteral("txt"),  QStringLiteral("doc"),  QStringLiteral("docx"), QStringLiteral("jpg"),
    QStringLiteral("jpeg"), QStringLiteral("png"),  QStringLiteral("heic"), QStringLiteral("tally"),
    QStringLiteral("ods"),
};

QString CloudFiles::defaultHomePath()
{
    // The demo home in demo mode; the user's home before the app has set it.
    return HOME.isEmpty() ? QDir::homePath() : HOME;
}

QString CloudFiles::defaultWorkspace()
{
    return ErpTools::workRoot();
}

QStringList CloudFiles::defaultRoots()
{
    // The sync apps keep their folders at these fixed places; each one found
    // now counts, so a drive set up while the app runs is seen at the next call.
    static const QStringList places{QStringLiteral("Library/Mobile Documents/com~apple~CloudDocs"),
                                    QStringLiteral("Google Drive"), QStringLiteral("OneDrive"),
                                    QStringLiteral("Dropbox")};
    const QString home = homePath();
    QStringList roots;
    for (const QString &place : places) {
        const QString path = QDir::cleanPath(home + QLatin1Char('/') + place);
        if (QFileInfo(path).isDir())
            roots.append(path);
    }
    return roots;
}

CloudFiles::Label CloudFiles::label(const QString &root)
{
    const QString name = QFileInfo(QDir::cleanPath(root)).fileName();
    if (name == QLatin1String("com~apple~CloudDocs"))
        return {QStringLiteral("iCloud Drive"), QString()};
    qsizetype start = 0;
    while (start < name.size() && name.at(start) == QLatin1Char('-'))
        ++start;
    Label out;
    if (start == name.size()) {
        out.service = name;
    } else {
        const QString rest = name.mid(start);
        const qsizetype hyphen = rest.indexOf(QLatin1Char('-'));
        out.service = hyphen < 0 ? rest : rest.left(hyphen);
        out.account = hyphen < 0 ? QString() : rest.mid(hyphen + 1);
    }
    out.service.replace(QStringLiteral("GoogleDrive"), QStringLiteral("Google Drive"));
    return out;
}
