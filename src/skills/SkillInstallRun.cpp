// The skill_install tool: reading a public repository over the service's HTTP
// interface, finding its skill folders within fixed limits, asking the CA,
// and writing the approved skills as the firm's own.
#include "core/Characters.h"
#include "core/Globals.h"
#include "core/JsonFields.h"
#include "core/OcConfig.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "skills/SkillCorrections.h"
#include "skills/SkillInstall.h"
#include "skills/SkillText.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QSet>
#include <QSemaphore>
#include <QUuid>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

const QString kToolName = QStringLiteral("skill_install");

QString hostFrom(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}

// The characters a URL path keeps as they are, besides letters and digits.
const QByteArray kPathKeep = "!$&'()*+,-./:;=@_~";

QString encodedPathPart(const QString &text, bool keepSlash)
{
    QByteArray keep = kPathKeep;
    if (!keepSlash)
        keep.replace("/", "");
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

// Every "/"-separated segment encoded on its own.
QString encodedPath(const QString &path)
{
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/')))
        parts << encodedPathPart(part, false);
    return parts.join(QLatin1Char('/'));
}

// An address built as text; an address that cannot be formed is an empty URL,
// which the fetch answers as no reply.
QUrl address(const QString &text)
{
    const QUrl url = QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

bool validSegment(const QString &segment)
{
    if (segment.isEmpty() || segment == QStringLiteral(".") || segment == QStringLiteral(".."))
        return false;
    for (char32_t c : segment.toUcs4())
        if (!QChar::isLetterOrNumber(c) && c != U'-' && c != U'_' && c != U'.')
            return false;
    return true;
}

QString lastComponent(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

// One skill ready to install.
struct Pending {
    QString name;        // the folder name
    QString dir;         // the skill's folder in the repository; empty for the root
    QString description;
    QList<std::pair<QString, QByteArray>> files; // path inside the skill's folder, bytes
    QString skillText;   // its "SKILL.md" as downloaded
};

QString systemError()
{
    const int code = errno;
    return code ? QString::fromLocal8Bit(std::strerror(code)) : QStringLiteral("the write failed");
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Writes one skill into `folder` (fresh, empty): every file that stays
// inside it, "SKILL.md" stamped. An error text on the first failure.
std::optional<QString> writeFiles(const Pending &p, const QString &folder, const QString &source)
{
    errno = 0;
    if (!QDir().mkpath(folder))
        return systemError();
    const QString root = QDir::cleanPath(folder) + QLatin1Char('/');
    for (const auto &[relative, bytes] : p.files) {
        // Paths from the repository never leave the skill's folder.
        const QString destination = QDir::cleanPath(folder + QLatin1Char('/') + relative);
        if (!destination.startsWith(root))
            continue;
        errno = 0;
        if (!QDir().mkpath(QFileInfo(destination).absolutePath()))
            return systemError();
        if (relative == QStringLiteral("SKILL.md")) {
            errno = 0;
            if (!SkillText::writeUtf8(destination, SkillInstall::stamp(p.skillText, p.name, p.description, source)))
                return systemError();
            continue;
        }
        QFile file(destination);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return file.errorString();
        file.close();
    }
    return std::nullopt;
}

// Installs one skill: written whole into a hidden sibling folder with the
// earlier version's corrections put back and merged, then swapped into place.
// On any failure the earlier version stays as it was.
std::optional<QString> installOne(const Pending &p, const QString &skills, const QString &source)
{
    const QString target = joinPath(skills, p.name);
    const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString fresh = joinPath(skills, QStringLiteral(".") + p.name + QStringLiteral(".new-") + tag);
    const QString old = joinPath(skills, QStringLiteral(".") + p.name + QStringLiteral(".old-") + tag);

    if (const auto error = writeFiles(p, fresh, source)) {
        SkillText::removeItem(fresh);
        return error;
    }
    if (const auto local = Files::readAll(SkillCorrections::file(target))) {
        QFile file(SkillCorrections::file(fresh));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(*local) != local->size()) {
            const QString error = file.errorString();
            SkillText::removeItem(fresh);
            return error;
        }
        file.close();
        SkillCorrections::apply(fresh);
    }

    const bool hadOld = exists(target);
    errno = 0;
    if (hadOld && !QDir().rename(target, old)) {
        const QString error = systemError();
        SkillText::removeItem(fresh);
        return error;
    }
    errno = 0;
    if (!QDir().rename(fresh, target)) {
        const QString error = systemError();
        if (hadOld)
            QDir().rename(old, target);
        SkillText::removeItem(fresh);
        return error;
    }
    if (hadOld)
        SkillText::removeItem(old);
    return std::nullopt;
}

// ".NAME.new-TAG" and ".NAME.old-TAG", the hidden siblings of an install.
struct SwapPart {
    QString name;
    QString tag;
    bool fresh = false;
};

std::optional<SwapPart> swapPart(const QString &entry)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("\\.(.+)\\.(new|old)-([0-9a-f]{12})")));
    const QRegularExpressionMatch m = form.match(entry);
    if (!m.hasMatch())
        return std::nullopt;
    return SwapPart{m.captured(1), m.captured(3), m.captured(2) == QLatin1String("new")};
}

} // namespace

QStringList SkillInstall::settleSwaps(const QString &skills)
{
    QStringList restored;
    const QStringList entries =
        QDir(skills).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    // The old version is moved aside only once the new one is whole, so a
    // missing skill with both beside it takes the new one.
    for (const QString &entry : entries) {
        const std::optional<SwapPart> part = swapPart(entry);
        if (!part || part->fresh)
            continue;
        const QString target = joinPath(skills, part->name);
        if (exists(target))
            continue;
        const QString fresh = joinPath(skills, QStringLiteral(".") + part->name + QStringLiteral(".new-") + part->tag);
        if ((exists(fresh) && QDir().rename(fresh, target)) || QDir().rename(joinPath(skills, entry), target))
            restored << part->name;
    }
    for (const QString &entry : entries)
        if (swapPart(entry) && exists(joinPath(skills, entry)))
            SkillText::removeItem(joinPath(skills, entry));
    return restored;
}

namespace {

// Installs of two runs never write the skills folder at the same time.
QMutex &installLock()
{
    static QMutex lock;
    return lock;
}

} // namespace

QString SkillInstall::webHost()
{
    return hostFrom("VELTO_GITHUB_HOST", QStringLiteral("github.com"));
}

QString SkillInstall::apiHost()
{
    return hostFrom("VELTO_GITHUB_API_HOST", QStringLiteral("api.github.com"));
}

QString SkillInstall::rawHost()
{
    return hostFrom("VELTO_GITHUB_RAW_HOST", QStringLiteral("raw.githubusercontent.com"));
}

SkillInstall::Fetched SkillInstall::defaultFetch(const QUrl &url, qint64 maxBody)
{
    // The answer comes on the main thread; waiting there would never end.
    if (Dispatch::isMainThread() || !url.isValid())
        return {};
    struct Shared {
        QMutex lock;
        QSemaphore done;
        Fetched result;
    };
    auto shared = std::make_shared<Shared>();
    Http::Request req;
    req.url = url;
    req.timeout = 30;
    req.headers = {{"User-Agent", "Velto"}, {"Accept", "application/vnd.github+json"}};
    req.maxBody = maxBody;
    const QString host = url.host();
    Dispatch::onMain([req, shared, host] {
        Http::request(req, [shared, host](const Http::Response &r) {
            QMutexLocker l(&shared->lock);
            if (r.answered()) {
                shared->result.body = r.body;
                shared->result.status = r.status;
            } else if (r.failure == Http::Failure::TooLarge) {
                shared->result.tooLarge = true;
            } else {
                shared->result.unreached = QStringLiteral("Could not reach ") + host + QStringLiteral(": ") +
                                           (r.error.endsWith(QLatin1Char('.')) ? r.error.chopped(1) : r.error) +
                                           QStringLiteral(". Check this computer's connection and try again.");
            }
            shared->done.release();
        });
    });
    if (!shared->done.tryAcquire(1, Dispatch::scaledMs(40))) {
        QMutexLocker l(&shared->lock);
        shared->result = {};
        shared->result.unreached = QStringLiteral("Could not reach ") + host +
                                   QStringLiteral(": no answer in time. Check this computer's connection and try again.");
        return shared->result;
    }
    QMutexLocker l(&shared->lock);
    return shared->result;
}

bool SkillInstall::defaultConfirm(const QString &title, const QString &text)
{
    Dialogs::Confirm c;
    c.title = title;
    c.text = QStringLiteral("Read what it tells Velto to do. It runs in client work from the next session.");
    c.approve = QStringLiteral("Install");
    c.cancel = QStringLiteral("Cancel");
    c.style = Dialogs::Style::Warning;
    c.detail = text;
    return Dialogs::confirm(c);
}

QString SkillInstall::defaultSkillsDir()
{
    return joinPath(OC_DIR, QStringLiteral("skills"));
}

QStringList SkillInstall::defaultManaged()
{
    const auto bytes = Files::readAll(joinPath(VELTO_HOME, QStringLiteral("harness.json")));
    if (!bytes)
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
    if (!doc.isArray())
        return {};
    QStringList items;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isString())
            return {};
        items.append(v.toString());
    }
    return items;
}

QSet<QString> SkillInstall::names()
{
    return {kToolName};
}

QJsonArray SkillInstall::definitions(Tool::Obj obj)
{
    const QString host = webHost();
    const QJsonObject properties{
        {QStringLiteral("source"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                     {QStringLiteral("description"),
                      host + QStringLiteral("/owner/repo, a /tree/<branch>/<folder> link, or owner/repo")}}},
        {QStringLiteral("path"), QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                                             {QStringLiteral("description"),
                                              QStringLiteral("optional folder inside the repository to install from")}}},
    };
    return QJsonArray{QJsonObject{
        {QStringLiteral("name"), kToolName},
        {QStringLiteral("description"),
         QStringLiteral("Install a skill from a public GitHub repository when the CA asks for it (\"install ") + host +
             QStringLiteral("/owner/repo\"). Velto reads the repository through GitHub itself \u2014 never git or a "
                            "shell \u2014 shows the CA each skill's name, source and instructions, and installs only "
                            "when they approve. Installed skills are the firm's, appear in Skills & Agents and work "
                            "from the next session. Use `path` when the repository holds many skills.")},
        {QStringLiteral("inputSchema"), obj(properties, {QStringLiteral("source")})},
    }};
}

void SkillInstall::call(const QString &, const QJsonObject &args, Tool::Done done)
{
    Dispatch::runInBackground([args, done] {
        const auto [text, isError] = run(args);
        Dispatch::onMain([done, text = text, isError = isError] { done(text, isError); });
    });
}

ToolFamily SkillInstall::family()
{
    return ToolFamily{&SkillInstall::names, &SkillInstall::definitions, &SkillInstall::call};
}

std::optional<SkillInstall::Source> SkillInstall::parse(const QString &sourceText, const std::optional<QString> &path)
{
    QString rest = sourceText.trimmed();
    if (rest.toLower().startsWith(QStringLiteral("https://")))
        rest = rest.mid(8);
    if (rest.toLower().startsWith(QStringLiteral("http://")))
        rest = rest.mid(7);
    if (rest.toLower().startsWith(QStringLiteral("www.")))
        rest = rest.mid(4);
    QStringList segments = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!segments.isEmpty()) {
        if (segments.first().toLower() == webHost().toLower())
            segments.removeFirst();
        else if (segments.first().contains(QLatin1Char('.')))
            return std::nullopt;
    }
    if (segments.size() < 2)
        return std::nullopt;
    Source s;
    s.owner = segments[0];
    s.repo = segments[1];
    if (s.repo.endsWith(QStringLiteral(".git")))
        s.repo.chop(4);
    if (!validSegment(s.owner) || !validSegment(s.repo))
        return std::nullopt;
    QString folder;
    if (segments.size() >= 4 && (segments[2] == QStringLiteral("tree") || segments[2] == QStringLiteral("blob"))) {
        s.ref = segments[3];
        folder = segments.mid(4).join(QLatin1Char('/'));
    }
    if (path) {
        const QString given = SkillText::trimSet(*path, QStringLiteral("/ "));
        if (!given.isEmpty())
            folder = given;
    }
    if (folder.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return std::nullopt;
    if (folder.endsWith(QStringLiteral("SKILL.md"))) {
        const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
        folder = slash < 0 ? QString() : folder.left(slash);
    }
    s.path = folder;
    return s;
}

void SkillInstall::allow(const QStringList &installed)
{
    OcConfig::update([&](QJsonObject &config) {
        QJsonObject permission = config.value(QStringLiteral("permission")).toObject();
        QJsonObject skill = permission.value(QStringLiteral("skill")).toObject();
        for (const QString &name : installed)
            skill.insert(name, QStringLiteral("allow"));
        permission.insert(QStringLiteral("skill"), skill);
        config.insert(QStringLiteral("permission"), permission);
        return true;
    });
}

std::pair<QString, bool> SkillInstall::run(const QJsonObject &args)
{
    const QJsonValue sourceValue = args.value(QStringLiteral("source"));
    const QJsonValue pathValue = args.value(QStringLiteral("path"));
    const std::optional<QString> path = pathValue.isString() ? std::optional(pathValue.toString()) : std::nullopt;
    const QString host = webHost();
    const auto parsed = parse(sourceValue.isString() ? sourceValue.toString() : QString(), path);
    if (!parsed)
        return {QStringLiteral("Give a GitHub repository: ") + host + QStringLiteral("/owner/repo, a ") + host +
                    QStringLiteral("/\u2026/tree/<branch>/<folder> link, or owner/repo. Only GitHub is supported."),
                true};
    const Source &src = *parsed;
    const QString label = host + QLatin1Char('/') + src.owner + QLatin1Char('/') + src.repo;
    const QString apiBase = QStringLiteral("https://") + apiHost() + QStringLiteral("/repos/") +
                            encodedPathPart(src.owner, false) + QLatin1Char('/') + encodedPathPart(src.repo, false);

    // The repository, and its default branch when no ref was given.
    const Fetched repo = fetch(address(apiBase), 0);
    if (repo.unreached)
        return {*repo.unreached, true};
    const auto &repoBody = repo.body;
    const int repoStatus = repo.status;
    if (repoStatus == 403)
        return {QStringLiteral("GitHub is limiting requests from this network right now. Try again in a few minutes."),
                true};
    const QJsonDocument repoDoc = QJsonDocument::fromJson(repoBody.value_or(QByteArray()));
    if (repoStatus != 200 || !repoDoc.isObject())
        return {label + QStringLiteral(" was not found. Check the name \u2014 private repositories cannot be installed "
                                       "from here."),
                true};
    QString ref = src.ref.value_or(QString());
    if (!src.ref) {
        const QJsonValue branch = repoDoc.object().value(QStringLiteral("default_branch"));
        ref = branch.isString() ? branch.toString() : QStringLiteral("main");
    }
    const QString encodedRef = encodedPathPart(ref, true);

    // The whole tree, once.
    const Fetched tree =
        fetch(address(apiBase + QStringLiteral("/git/trees/") + encodedRef + QStringLiteral("?recursive=1")), 0);
    if (tree.unreached)
        return {*tree.unreached, true};
    const auto &treeBody = tree.body;
    const int treeStatus = tree.status;
    const QJsonDocument treeDoc = QJsonDocument::fromJson(treeBody.value_or(QByteArray()));
    const QJsonValue treeValue = treeDoc.object().value(QStringLiteral("tree"));
    bool treeOk = treeStatus == 200 && treeDoc.isObject() && treeValue.isArray();
    if (treeOk)
        for (const QJsonValue &v : treeValue.toArray())
            treeOk = treeOk && v.isObject();
    if (!treeOk)
        return {QStringLiteral("Could not read the files of ") + label + QStringLiteral(" at ") + ref +
                    QLatin1Char('.'),
                true};
    struct Blob {
        QString path;
        std::optional<qint64> size;
    };
    QList<Blob> blobs;
    for (const QJsonValue &v : treeValue.toArray()) {
        const QJsonObject entry = v.toObject();
        const QJsonValue p = entry.value(QStringLiteral("path"));
        if (entry.value(QStringLiteral("type")).toString() != QStringLiteral("blob") || !p.isString())
            continue;
        blobs.append({p.toString(), JsonFields::integer(entry, "size")});
    }

    // The skill folders: those holding a "SKILL.md", outermost only.
    const QString prefix = src.path.isEmpty() ? QString() : src.path + QLatin1Char('/');
    QStringList folders;
    for (const Blob &b : blobs) {
        if (b.path == prefix + QStringLiteral("SKILL.md") ||
            (b.path.startsWith(prefix) && b.path.endsWith(QStringLiteral("/SKILL.md")))) {
            const qsizetype slash = b.path.lastIndexOf(QLatin1Char('/'));
            folders << (slash < 0 ? QString() : b.path.left(slash));
        }
    }
    folders.removeDuplicates();
    std::sort(folders.begin(), folders.end());
    // A folder is nested when the root or any of its parent folders is also a
    // skill folder; looked up in a set, so a tree of many folders stays fast.
    const QSet<QString> folderSet(folders.cbegin(), folders.cend());
    QStringList outer;
    for (const QString &f : folders) {
        bool nested = !f.isEmpty() && folderSet.contains(QString());
        for (qsizetype slash = f.indexOf(QLatin1Char('/')); !nested && slash >= 0;
             slash = f.indexOf(QLatin1Char('/'), slash + 1))
            nested = folderSet.contains(f.left(slash));
        if (!nested)
            outer << f;
    }
    if (outer.isEmpty())
        return {QStringLiteral("There is no SKILL.md in ") + label +
                    (src.path.isEmpty() ? QString() : QLatin1Char('/') + src.path) +
                    QStringLiteral(". A skill is a folder with a SKILL.md in it."),
                true};
    if (outer.size() > maxSkills)
        return {QStringLiteral("That repository holds ") + QString::number(outer.size()) +
                    QStringLiteral(" skills. Say which folder to install with `path`, e.g. ") +
                    outer.mid(0, 5).join(QStringLiteral(", ")) + QLatin1Char('.'),
                true};

    const QStringList managedNames = managed();
    const QString skills = skillsDir();
    QStringList skipped;
    QList<Pending> pending;
    qint64 total = 0;
    const QString tooMuch = QStringLiteral("The skills add up to more than ") +
                            QString::number(maxTotalBytes / 1000000) + QStringLiteral(" MB. Pick one folder with `path`.");
    for (const QString &dir : outer) {
        QList<Blob> files;
        for (const Blob &b : blobs)
            if (dir.isEmpty() || b.path.startsWith(dir + QLatin1Char('/')))
                files.append(b);
        if (files.size() > maxFiles) {
            skipped << (dir.isEmpty() ? QStringLiteral("(root)") : dir) + QStringLiteral(": ") +
                           QString::number(files.size()) + QStringLiteral(" files, more than ") +
                           QString::number(maxFiles);
            continue;
        }
        // Every listed size is checked before any file is fetched, so a folder
        // that is skipped downloads nothing and counts nothing toward the total.
        if (std::any_of(files.cbegin(), files.cend(),
                        [&](const Blob &b) { return b.size && *b.size > maxFileBytes; })) {
            skipped << dir + QStringLiteral(": a file is larger than ") + QString::number(maxFileBytes / 1000) +
                           QStringLiteral(" KB");
            continue;
        }
        Pending p;
        p.dir = dir;
        for (const Blob &b : files) {
            const QString url = QStringLiteral("https://") + rawHost() + QLatin1Char('/') +
                                encodedPathPart(src.owner, false) + QLatin1Char('/') +
                                encodedPathPart(src.repo, false) + QLatin1Char('/') + encodedRef + QLatin1Char('/') +
                                encodedPath(b.path);
            // A file is never held past what it may be: the listed size was
            // checked above, and what is fetched must keep to the same bound.
            const qint64 allowance = maxTotalBytes - total;
            const qint64 bound = b.size ? std::min<qint64>(maxFileBytes, allowance) : allowance;
            const Fetched got = fetch(address(url), std::max<qint64>(bound, 0) + 1);
            if (got.unreached)
                return {*got.unreached + QStringLiteral(" Nothing was installed."), true};
            if (got.tooLarge) {
                if (bound < allowance)
                    return {b.path + QStringLiteral(" is larger than ") + QString::number(maxFileBytes / 1000) +
                                QStringLiteral(" KB, though GitHub listed it as ") + QString::number(*b.size) +
                                QStringLiteral(" bytes; the download stopped there. Nothing was installed."),
                            true};
                return {tooMuch, true};
            }
            const auto &body = got.body;
            const int status = got.status;
            if (status != 200 || !body)
                return {QStringLiteral("Could not download ") + b.path + QStringLiteral(" from GitHub (HTTP ") +
                            QString::number(status) + QStringLiteral("). Nothing was installed."),
                        true};
            total += body->size();
            // Checked at every file, so that no more than the allowance is ever held.
            if (total > maxTotalBytes)
                return {tooMuch, true};
            p.files.append({dir.isEmpty() ? b.path : b.path.mid(dir.size() + 1), *body});
        }

        std::optional<QString> skillText;
        for (const auto &[relative, bytes] : p.files)
            if (relative == QStringLiteral("SKILL.md"))
                skillText = SkillText::decodeUtf8(bytes);
        if (!skillText)
            continue;
        const QString name = front(*skillText, QStringLiteral("name"))
                                 .value_or(dir.isEmpty() ? src.repo : lastComponent(dir));
        p.name = safeName(name);
        if (p.name.size() < 2) {
            skipped << dir + QStringLiteral(": no usable name");
            continue;
        }
        // An existing skill that is not the firm's counts as taken, whether
        // or not it still has a "SKILL.md".
        const QString existing = joinPath(skills, p.name);
        if (managedNames.contains(QStringLiteral("skill/") + p.name) ||
            (exists(existing) && !stamped(joinPath(existing, QStringLiteral("SKILL.md"))))) {
            skipped << p.name + QStringLiteral(": a Hallix skill already has that name");
            continue;
        }
        // Two folders of the repository that reduce to one name install once.
        const auto same = std::find_if(pending.cbegin(), pending.cend(),
                                       [&](const Pending &other) { return other.name == p.name; });
        if (same != pending.cend()) {
            skipped << dir + QStringLiteral(": the same skill name as ") +
                           (same->dir.isEmpty() ? QStringLiteral("(root)") : same->dir);
            continue;
        }
        p.description = front(*skillText, QStringLiteral("description")).value_or(QString());
        p.skillText = *skillText;
        pending.append(p);
    }
    if (pending.isEmpty())
        return {QStringLiteral("Nothing to install from ") + label + QStringLiteral(". ") +
                    skipped.join(QStringLiteral("; ")),
                true};

    // One dialog for all of them.
    const QString title =
        pending.size() == 1
            ? QStringLiteral("Install the skill ") + pending.first().name + QStringLiteral(" from ") + label +
                  QLatin1Char('?')
            : QStringLiteral("Install ") + QString::number(pending.size()) + QStringLiteral(" skills from ") + label +
                  QLatin1Char('?');
    QString text = QStringLiteral("From ") + label + QStringLiteral(" at ") + ref +
                   QStringLiteral(". Velto will follow these instructions in client work, so install only from a "
                                  "source you trust. Scripts inside are copied but Velto cannot run them.\n");
    for (const Pending &p : pending) {
        const qsizetype count = p.files.size();
        text += QStringLiteral("\n\u2501\u2501 ") + p.name + QStringLiteral(" (") + QString::number(count) +
                QStringLiteral(" file") + (count == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(")\n");
        text += p.description + QStringLiteral("\n\n");
        const QString shown = Characters::left(p.skillText, 1400);
        text += shown;
        if (shown.size() < p.skillText.size())
            text += QStringLiteral("\n\u2026");
        text += QLatin1Char('\n');
    }
    if (!confirm(title, text))
        return {QStringLiteral("The CA did not approve it. Nothing was installed."), false};

    QMutexLocker l(&installLock());
    QDir().mkpath(skills);
    QStringList installed;
    for (const Pending &p : pending) {
        const QString source = label + QLatin1Char('@') + ref + (p.dir.isEmpty() ? QString() : QLatin1Char('/') + p.dir);
        if (const auto error = installOne(p, skills, source)) {
            // The skills written before this one stay, so they get their
            // permission and the answer names them.
            QString failure = QStringLiteral("Could not write ") + p.name + QStringLiteral(": ") + *error +
                              QLatin1Char('.');
            if (!installed.isEmpty()) {
                allow(installed);
                failure += QStringLiteral(" Installed before it: ") + installed.join(QStringLiteral(", ")) +
                           QLatin1Char('.');
            }
            return {failure, true};
        }
        installed << p.name;
    }
    allow(installed);
    QString answer = QStringLiteral("Installed ") + installed.join(QStringLiteral(", ")) + QStringLiteral(" from ") +
                     label +
                     QStringLiteral(". It works from the next session \u2014 start a new one to use it. It shows in "
                                    "Skills & Agents as the firm's own.");
    if (!skipped.isEmpty())
        answer += QStringLiteral(" Skipped: ") + skipped.join(QStringLiteral("; ")) + QLatin1Char('.');
    return {answer, false};
}
