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

namespace {

// The sub-folders of `folder` whose names `keep` accepts, sorted, folders
// (or links to folders) only.
QStringList foldersIn(const QString &folder, const std::function<bool(const QString &)> &keep)
{
    QStringList out;
    const QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        if (keep(name))
            out.append(QDir::cleanPath(folder + QLatin1Char('/') + name));
    return out;
}

const QString kDropboxTeam = QStringLiteral("Dropbox (");
const QString kOneDriveOrg = QStringLiteral("OneDrive - ");
const QString kInsync = QStringLiteral("Insync");
const QString kGoogleDrive = QStringLiteral("Google Drive");
const QString kOneDrive = QStringLiteral("OneDrive");

// "Dropbox (Team)": a Dropbox team folder, the team in the brackets.
bool isDropboxTeam(const QString &name)
{
    return name.startsWith(kDropboxTeam) && name.endsWith(QLatin1Char(')')) && name.size() > kDropboxTeam.size() + 1;
}

// "OneDrive - Organisation": an organisation's OneDrive.
bool isOneDriveOrg(const QString &name)
{
    return name.startsWith(kOneDriveOrg) && name.size() > kOneDriveOrg.size();
}

} // namespace

QStringList CloudFiles::defaultRoots()
{
    // Where the Linux sync apps keep their folders; each one found now
    // counts, so a drive set up while the app runs is seen at the next call.
    const QString home = homePath();
    QStringList roots;
    const auto fixed = [&](const QString &name) {
        const QString path = QDir::cleanPath(home + QLatin1Char('/') + name);
        if (QFileInfo(path).isDir())
            roots.append(path);
    };
    fixed(kGoogleDrive);
    // Insync keeps one folder per account, each drive a folder inside it.
    for (const QString &account : foldersIn(home + QLatin1Char('/') + kInsync, [](const QString &) { return true; }))
        roots += foldersIn(account, [](const QString &name) { return name == kGoogleDrive || name == kOneDrive; });
    fixed(kOneDrive);
    roots += foldersIn(home, isOneDriveOrg);
    fixed(QStringLiteral("Dropbox"));
    roots += foldersIn(home, isDropboxTeam);
    fixed(QStringLiteral("Nextcloud"));
    fixed(QStringLiteral("pCloudDrive"));
    return roots;
}

CloudFiles::Label CloudFiles::label(const QString &root)
{
    const QString path = QDir::cleanPath(root);
    const QString name = QFileInfo(path).fileName();
    const QString account = QFileInfo(QFileInfo(path).path()).fileName();
    const QString above = QFileInfo(QFileInfo(QFileInfo(path).path()).path()).fileName();
    if (above == kInsync && (name == kGoogleDrive || name == kOneDrive))
        return {name, account};
    if (isDropboxTeam(name))
        return {QStringLiteral("Dropbox"), name.mid(kDropboxTeam.size(), name.size() - kDropboxTeam.size() - 1)};
    if (isOneDriveOrg(name))
        return {kOneDrive, name.mid(kOneDriveOrg.size())};
    if (name == QLatin1String("pCloudDrive"))
        return {QStringLiteral("pCloud"), QString()};
    return {name, QString()};
}
