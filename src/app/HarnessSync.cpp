#include "app/HarnessSync.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "core/Workspace.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "skills/SkillCorrections.h"
#include "skills/SkillInstall.h"
#include "skills/SkillText.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <algorithm>

namespace HarnessSync {

namespace {

const QString kAgentsHeader = QStringLiteral("# Velto \u2014 firm rules from Hallix");

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-';
}

// Lower case; every character (as a person counts them) outside a-z, 0-9 and
// "-" becomes one "-"; "-" stripped from both ends.
QString normalise(const QString &name)
{
    const QString lower = name.toLower();
    QString out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lower);
    qsizetype start = 0;
    while (finder.toNextBoundary() >= 0) {
        const qsizetype end = finder.position();
        if (end - start == 1 && isNameChar(lower.at(start)))
            out.append(lower.at(start));
        else
            out.append(QLatin1Char('-'));
        start = end;
    }
    while (out.startsWith(QLatin1Char('-')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('-')))
        out.chop(1);
    return out;
}

// A key the sync itself writes for a skill, agent or instruction.
bool isNormalKey(const QString &key)
{
    if (key.isEmpty() || key.startsWith(QLatin1Char('-')) || key.endsWith(QLatin1Char('-')))
        return false;
    return std::all_of(key.begin(), key.end(), isNameChar);
}

// The parts of a skill file's path inside the skills folder, or empty when
// the path is refused: at least two parts, each of ASCII letters, digits,
// ".", "_" and "-", none beginning with ".".
QStringList skillFileParts(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return {};
    for (const QString &part : parts) {
        if (part.startsWith(QLatin1Char('.')))
            return {};
        for (QChar c : part) {
            const char16_t u = c.unicode();
            const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                            u == '.' || u == '_' || u == '-';
            if (!ok)
                return {};
        }
    }
    return parts;
}

QString agentsDir() { return joinPath(OC_DIR, QStringLiteral("agents")); }
QString managedFile() { return joinPath(VELTO_HOME, QStringLiteral("harness.json")); }

void writeText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    Files::writeAtomic(path, text.toUtf8(), 0644); // a failure is ignored
}

QStringList readManaged()
{
    QStringList list;
    const auto bytes = Files::readAll(managedFile());
    if (!bytes)
        return list;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
    for (const QJsonValue &v : doc.array())
        list.append(v.toString());
    return list;
}

void removeStale(const QString &entry)
{
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash == entry.size() - 1)
        return;
    const QString kind = entry.left(slash);
    const QString key = entry.mid(slash + 1);
    // Only keys of the form the sync writes, so a hand-edited list can never
    // reach outside the skills and agents folders.
    if (kind == QLatin1String("skill") && isNormalKey(key)) {
        SkillText::removeItem(joinPath(SkillInstall::defaultSkillsDir(), key));
    } else if (kind == QLatin1String("agent") && isNormalKey(key)) {
        SkillText::removeItem(joinPath(agentsDir(), key + QStringLiteral(".md")));
    } else if (kind == QLatin1String("skill_file")) {
        const QStringList parts = skillFileParts(key);
        if (!parts.isEmpty())
            SkillText::removeItem(joinPath(SkillInstall::defaultSkillsDir(), parts.join(QLatin1Char('/'))));
    }
}

void allowSkills(const QStringList &keys)
{
    OcConfig::update([&](QJsonObject &root) {
        QJsonObject permission = root.value(QStringLiteral("permission")).toObject();
        QJsonObject skill = permission.value(QStringLiteral("skill")).toObject();
        const QJsonValue allow(QStringLiteral("allow"));
        bool changed = false;
        for (const QString &key : keys) {
            if (skill.value(key) != allow) {
                skill.insert(key, allow);
                changed = true;
            }
        }
        if (permission.value(QStringLiteral("websearch")) == QJsonValue(QStringLiteral("ask"))) {
            permission.insert(QStringLiteral("websearch"), allow);
            changed = true;
        }
        if (!changed)
            return false;
        permission.insert(QStringLiteral("skill"), skill);
        root.insert(QStringLiteral("permission"), permission);
        return true;
    });
}

// The file work for one reply body. Anything unexpected ends it quietly.
void applyReply(const QByteArray &body)
{
    if (body.isEmpty())
        return;
    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    if (reply.value(QStringLiteral("success")) != QJsonValue(true))
        return;
    const QJsonValue itemsValue = reply.value(QStringLiteral("items"));
    if (!itemsValue.isArray())
        return;
    const QJsonArray items = itemsValue.toArray();
    if (items.isEmpty())
        return;
    for (const QJsonValue &item : items)
        if (!item.isObject())
            return;

    const QStringList previous = readManaged();
    QStringList managed;
    QStringList instructions;

    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QJsonValue kindValue = item.value(QStringLiteral("kind"));
        const QJsonValue nameValue = item.value(QStringLiteral("name"));
        const QJsonValue contentValue = item.value(QStringLiteral("content"));
        if (!kindValue.isString() || !nameValue.isString() || !contentValue.isString())
            continue;
        const QString kind = kindValue.toString();
        const QString name = nameValue.toString();
        const QString content = contentValue.toString();
        if (name.isEmpty())
            continue;

        if (kind == QLatin1String("skill_file")) {
            const QStringList parts = skillFileParts(name);
            if (parts.isEmpty())
                continue;
            const QString rel = parts.join(QLatin1Char('/'));
            writeText(joinPath(SkillInstall::defaultSkillsDir(), rel), content);
            managed.append(QStringLiteral("skill_file/") + rel);
            continue;
        }
        const QString key = normalise(name);
        if (key.isEmpty())
            continue;
        if (kind == QLatin1String("skill")) {
            const QString dir = joinPath(SkillInstall::defaultSkillsDir(), key);
            writeText(joinPath(dir, QStringLiteral("SKILL.md")), content);
            SkillCorrections::apply(dir);
            managed.append(QStringLiteral("skill/") + key);
        } else if (kind == QLatin1String("agent")) {
            writeText(joinPath(agentsDir(), key + QStringLiteral(".md")), content);
            managed.append(QStringLiteral("agent/") + key);
        } else if (kind == QLatin1String("instruction")) {
            instructions.append(content);
            managed.append(QStringLiteral("instruction/") + key);
        }
    }

    if (!instructions.isEmpty())
        writeText(joinPath(VELTO_HOME, QStringLiteral("AGENTS.md")),
                  kAgentsHeader + QStringLiteral("\n\n") + instructions.join(QStringLiteral("\n\n---\n\n")));

    for (const QString &entry : previous)
        if (!managed.contains(entry))
            removeStale(entry);

    // Allow entries are only ever added: a skill the cloud dropped keeps its own.
    QStringList skillKeys;
    for (const QString &entry : managed)
        if (entry.startsWith(QLatin1String("skill/")))
            skillKeys.append(entry.mid(6));
    if (!skillKeys.isEmpty())
        allowSkills(skillKeys);

    writeText(managedFile(),
              QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(managed)).toJson(QJsonDocument::Compact)));
}

// The firm's rules reach the engine through the clients folder's copy: it
// follows each sync unless the CA made it their own.
void layRulesInClientsFolder(const std::optional<QByteArray> &before)
{
    const QString work = readEnvFile(WORK_ENV).value(QStringLiteral("VELTO_WORK"));
    if (work.isEmpty() || !QFileInfo(work).isDir())
        return;
    const QString target = joinPath(work, QStringLiteral("AGENTS.md"));
    switch (placeFirmRules(work, before)) {
    case FirmRules::KeptEdited:
        qInfo().noquote() << target + QStringLiteral(" has been edited here, so it is kept as it is; the firm's "
                                                     "rules from this sync are in ")
                                 + joinPath(VELTO_HOME, QStringLiteral("AGENTS.md")) + QLatin1Char('.');
        break;
    case FirmRules::Failed:
        qWarning().noquote() << QStringLiteral("Could not write the firm's rules to ") + target + QLatin1Char('.');
        break;
    case FirmRules::Written:
    case FirmRules::Current:
    case FirmRules::None:
        break;
    }
}

} // namespace

void syncHarness(std::function<void()> done)
{
    const auto seat = readEnvFile(SEAT_ENV);
    if (!seat.contains(QStringLiteral("PAVI_SEAT_TOKEN"))) {
        done();
        return;
    }
    const QUrl url(API + QStringLiteral("/cli/harness"));
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        Dispatch::onMain(std::move(done));
        return;
    }
    Http::Request req;
    req.url = url;
    req.headers = {{"Authorization", "Bearer " + seat.value(QStringLiteral("PAVI_SEAT_TOKEN")).toUtf8()}};
    req.timeout = 25;
    // The HTTP status is not looked at: the body decides. The file work runs
    // off the main thread; only done comes back to it.
    Http::request(req, [done = std::move(done)](const Http::Response &reply) {
        Dispatch::runInBackground([body = reply.body, done] {
            const std::optional<QByteArray> before = Files::readAll(joinPath(VELTO_HOME, QStringLiteral("AGENTS.md")));
            applyReply(body);
            layRulesInClientsFolder(before);
            Dispatch::onMain(done);
        });
    });
}

} // namespace HarnessSync
