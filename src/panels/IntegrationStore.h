#pragma once
// The firm's own tools for the engine: MCP servers it starts and command-line
// tools it may run. The records live in "integrations.json" in VELTO_HOME;
// apply() projects the enabled ones into the engine configuration (its "mcp"
// entries, shell permissions and instruction files) and "INTEGRATIONS.md" in
// OC_DIR. The engine reads both when it starts. Main thread only.
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

struct Integration {
    QString id;        // a UUID, upper-case
    QString kind;      // "mcp"; anything else is a command-line tool
    QString name;      // kebab-case; the engine's name of an MCP server
    QString title;
    QString command;
    QString args;      // one line, split on spaces (MCP only)
    QString env;       // KEY=value lines (MCP only)
    QString notes;     // for the engine, copied into the instruction file
    bool enabled = true;

    QJsonObject toJson() const;
    // Every key must be present with its type.
    static std::optional<Integration> fromJson(const QJsonObject &obj);
    bool operator==(const Integration &) const = default;
};

struct IntegrationPreset {
    QString title, kind, command, args, notes;
};

namespace IntegrationStore {

// The marker on the engine entries the store owns.
inline const QString MANAGED_BY = QStringLiteral("velto-integrations");
// The key under "permission"/"bash" that remembers the store's patterns.
inline const QString CLI_KEY = QStringLiteral("__velto_cli__");

QString fileURL();            // VELTO_HOME/integrations.json
QString instructionsURL();    // OC_DIR/INTEGRATIONS.md
const QList<IntegrationPreset> &presets();

// The records sorted by lower-cased title (stable); empty when the file is
// missing or does not decode as a whole.
QList<Integration> all();

// Whether "integrations.json" is missing or decodes as a whole. A file that
// exists and cannot be read holds records the CA would lose: it is never
// replaced.
bool readable();

// Writes the list whole (in its order) and applies it. Answers false, writing
// and applying nothing, when the existing record file cannot be read.
bool save(const QList<Integration> &list);

// Projects the list into the engine configuration and the instruction file.
// Nothing is written when the configuration cannot be read as an object.
void apply(const QList<Integration> &list);

// Whether an "mcp" entry of that name exists in the engine configuration that
// this store does not manage (the tool server's own "browser" among them).
// "browser" is always taken, written or not.
bool nameTaken(const QString &name);

// The environment pairs of an env text (a later key wins).
QJsonObject environment(const QString &env);
// The command array: the command, then the args split on spaces.
QStringList commandLine(const QString &command, const QString &args);

} // namespace IntegrationStore
