#include "panels/IntegrationStore.h"

#include "core/Characters.h"
#include "core/Globals.h"
#include "core/OcConfig.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>

QJsonObject Integration::toJson() const
{
    return QJsonObject{{QStringLiteral("id"), id},         {QStringLiteral("kind"), kind},
                       {QStringLiteral("name"), name},     {QStringLiteral("title"), title},
                       {QStringLiteral("command"), command}, {QStringLiteral("args"), args},
                       {QStringLiteral("env"), env},       {QStringLiteral("notes"), notes},
                       {QStringLiteral("enabled"), enabled}};
}

std::optional<Integration> Integration::fromJson(const QJsonObject &obj)
{
    static const char *texts[] = {"id", "kind", "name", "title", "command", "args", "env", "notes"};
    for (const char *key : texts)
        if (!obj.value(QLatin1String(key)).isString())
            return std::nullopt;
    if (!obj.value(QStringLiteral("enabled")).isBool())
        return std::nullopt;
    Integration i;
    i.id = obj.value(QStringLiteral("id")).toString();
    i.kind = obj.value(QStringLiteral("kind")).toString();
    i.name = obj.value(QStringLiteral("name")).toString();
    i.title = obj.value(QStringLiteral("title")).toString();
    i.command = obj.value(QStringLiteral("command")).toString();
    i.args = obj.value(QStringLiteral("args")).toString();
    i.env = obj.value(QStringLiteral("env")).toString();
    i.notes = obj.value(QStringLiteral("notes")).toString();
    i.enabled = obj.value(QStringLiteral("enabled")).toBool();
    return i;
}

namespace IntegrationStore {

namespace {

const QString kHeader = QStringLiteral(
    "# Firm integrations\n\nThese tools belong to this firm and are approved by the CA. Use them only for the client "
    "work at hand, inside the workspace.\n\n");

// The record file as a whole: none when it exists and does not decode.
std::optional<QList<Integration>> decoded()
{
    if (!QFileInfo::exists(fileURL()))
        return QList<Integration>{};
    const std::optional<QByteArray> data = Files::readAll(fileURL());
    if (!data)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<Integration> list;
    for (const QJsonValue &v : doc.array()) {
        std::optional<Integration> i = v.isObject() ? Integration::fromJson(v.toObject()) : std::nullopt;
        if (!i)
            return std::nullopt;
        list << *i;
    }
    return list;
}

bool managed(const QJsonValue &entry)
{
    return entry.isObject() && entry.toObject().value(QStringLiteral("managed_by")).isString() &&
           entry.toObject().value(QStringLiteral("managed_by")).toString() == MANAGED_BY;
}

} // namespace

QString fileURL()
{
    return joinPath(VELTO_HOME, QStringLiteral("integrations.json"));
}

QString instructionsURL()
{
    return joinPath(OC_DIR, QStringLiteral("INTEGRATIONS.md"));
}

const QList<IntegrationPreset> &presets()
{
    static const QList<IntegrationPreset> table{
        {QStringLiteral("Tally (MCP bridge)"), QStringLiteral("mcp"), QStringLiteral("npx"),
         QStringLiteral("-y tally-mcp-server"),
         QStringLiteral("Reads ledgers, vouchers and day books from Tally Prime running on this machine. Use for "
                        "books-vs-return reconciliation.")},
        {QStringLiteral("Zoho Books (MCP)"), QStringLiteral("mcp"), QStringLiteral("npx"),
         QStringLiteral("-y @zoho/books-mcp"),
         QStringLiteral("Invoices, bills, bank feeds and reports from the client's Zoho Books organisation.")},
        {QStringLiteral("ERP export CLI"), QStringLiteral("cli"), QStringLiteral("erp-export"), QString(),
         QStringLiteral("The firm's ERP command line: `erp-export sales --client <name> --from <date> --to <date>` "
                        "writes a CSV into the client folder.")},
        {QStringLiteral("Bank statement converter"), QStringLiteral("cli"), QStringLiteral("bank2csv"), QString(),
         QStringLiteral("Converts bank statement PDFs to CSV: `bank2csv <file.pdf>` writes <file>.csv next to it.")},
        {QStringLiteral("Custom MCP server"), QStringLiteral("mcp"), QString(), QString(), QString()},
        {QStringLiteral("Custom CLI tool"), QStringLiteral("cli"), QString(), QString(), QString()},
    };
    return table;
}

QList<Integration> all()
{
    QList<Integration> list = decoded().value_or(QList<Integration>{});
    std::stable_sort(list.begin(), list.end(), [](const Integration &a, const Integration &b) {
        return a.title.toLower() < b.title.toLower();
    });
    return list;
}

bool readable()
{
    return decoded().has_value();
}

bool save(const QList<Integration> &list)
{
    if (!readable())
        return false;
    QJsonArray array;
    for (const Integration &i : list)
        array.append(i.toJson());
    Files::writeAtomicMakingFolder(fileURL(), QJsonDocument(array).toJson(QJsonDocument::Compact), 0600);
    apply(list);
    return true;
}

QJsonObject environment(const QString &env)
{
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r\\x{000B}\\x{000C}\\x{0085}\\x{2028}\\x{2029}]"));
    QJsonObject pairs;
    for (const QString &line : env.split(breaks, Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        pairs.insert(Characters::trimSpacesTabs(line.left(eq)), Characters::trimSpacesTabs(line.mid(eq + 1)));
    }
    return pairs;
}

QStringList commandLine(const QString &command, const QString &args)
{
    return QStringList{command} + args.split(u' ', Qt::SkipEmptyParts);
}

bool nameTaken(const QString &name)
{
    if (name == QStringLiteral("browser"))
        return true;
    const std::optional<QJsonObject> root = OcConfig::read();
    if (!root)
        return false;
    const QJsonObject mcp = root->value(QStringLiteral("mcp")).toObject();
    return mcp.contains(name) && !managed(mcp.value(name));
}

void apply(const QList<Integration> &list)
{
    QStringList lines;
    const QString path = QFileInfo(instructionsURL()).absoluteFilePath();
    const bool written = OcConfig::update([&](QJsonObject &root) {
        QJsonObject mcp = root.value(QStringLiteral("mcp")).toObject();
        for (const QString &key : mcp.keys())
            if (managed(mcp.value(key)))
                mcp.remove(key);

        QJsonObject permission = root.value(QStringLiteral("permission")).toObject();
        QJsonObject bash = permission.value(QStringLiteral("bash")).toObject();
        for (const QString &key : bash.keys())
            if (key.startsWith(QStringLiteral("#velto ")) && bash.value(key) == QJsonValue(QStringLiteral("allow")))
                bash.remove(key);
        if (bash.value(CLI_KEY).isString())
            for (const QString &piece : bash.value(CLI_KEY).toString().split(QChar(0x1F), Qt::SkipEmptyParts))
                bash.remove(piece);

        QStringList patterns;
        for (const Integration &i : list) {
            if (!i.enabled || i.command.isEmpty())
                continue;
            if (i.kind == QStringLiteral("mcp")) {
                // An entry the app does not manage (the tool server's own
                // among them) is never taken over.
                if (i.name == QStringLiteral("browser") || (mcp.contains(i.name) && !managed(mcp.value(i.name))))
                    continue;
                QJsonObject entry{{QStringLiteral("type"), QStringLiteral("local")},
                                  {QStringLiteral("enabled"), true},
                                  {QStringLiteral("timeout"), 60000},
                                  {QStringLiteral("command"), QJsonArray::fromStringList(commandLine(i.command, i.args))},
                                  {QStringLiteral("managed_by"), MANAGED_BY}};
                const QJsonObject env = environment(i.env);
                if (!env.isEmpty())
                    entry.insert(QStringLiteral("environment"), env);
                mcp.insert(i.name, entry);
                lines << QStringLiteral("- **") + i.title + QStringLiteral("** (tools prefixed `") + i.name +
                             QStringLiteral("_`): ") + i.notes;
            } else {
                const QString pattern = Characters::trimSpacesTabs(i.command) + QStringLiteral(" *");
                bash.insert(pattern, QStringLiteral("allow"));
                patterns << pattern;
                lines << QStringLiteral("- **") + i.title + QStringLiteral("** (run with `") + i.command +
                             QStringLiteral(" \u2026`): ") + i.notes;
            }
        }
        if (!patterns.isEmpty())
            bash.insert(CLI_KEY, patterns.join(QChar(0x1F)));
        else
            bash.remove(CLI_KEY);
        permission.insert(QStringLiteral("bash"), bash);
        root.insert(QStringLiteral("permission"), permission);
        root.insert(QStringLiteral("mcp"), mcp);

        QJsonArray instructions;
        const QJsonValue old = root.value(QStringLiteral("instructions"));
        if (old.isArray() && std::all_of(old.toArray().begin(), old.toArray().end(),
                                         [](const QJsonValue &v) { return v.isString(); }))
            instructions = old.toArray();
        if (!lines.isEmpty()) {
            if (!instructions.contains(path))
                instructions.append(path);
        } else {
            for (qsizetype k = instructions.size() - 1; k >= 0; --k)
                if (instructions.at(k) == QJsonValue(path))
                    instructions.removeAt(k);
        }
        root.insert(QStringLiteral("instructions"), instructions);
        return true;
    });
    if (!written)
        return;
    if (!lines.isEmpty())
        Files::writeAtomicMakingFolder(instructionsURL(), (kHeader + lines.join(u'\n') + u'\n').toUtf8());
    else
        QFile::remove(instructionsURL());
}

} // namespace IntegrationStore
