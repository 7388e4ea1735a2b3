#pragma once
#include "core/Tool.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <utility>

// Skills from a public GitHub repository, installed when the CA asks for it
// through the engine's "skill_install" tool, and the skill front matter they
// are stamped with.
//
// Front matter: the block at the top of "SKILL.md" between the opening "---"
// and the next line starting with "---", one "key: value" per line. A skill or
// agent file is the firm's own when its first 700 characters hold
// "owner: firm".
//
// The install reads the repository over GitHub's HTTP interface only (never a
// version-control program or a shell), on a background thread; it holds
// everything in memory until the CA approves in one dialog, and only then
// writes the skills, as the firm's own, and lets the engine use them.
struct SkillInstall {
    // ---- front matter and folder names

    // The value of one front-matter key, or absent.
    static std::optional<QString> front(const QString &text, const QString &key);

    // The text of an installed "SKILL.md" with the ownership mark and source
    // placed first in its front matter (a new block when it has none).
    static QString stamp(const QString &text, const QString &name, const QString &description,
                         const QString &source);

    // Whether the file carries the ownership mark.
    static bool stamped(const QString &file);

    // The folder name of an installed skill: lower case, every run of other
    // characters than a-z, 0-9 and "-" made one "-", "-" trimmed at both ends.
    static QString safeName(const QString &name);

    // ---- the tool family

    // A parsed repository reference.
    struct Source {
        QString owner;             // as typed
        QString repo;              // as typed, without a final ".git"
        std::optional<QString> ref; // branch, tag or commit; absent: the default branch
        QString path;              // folder inside the repository, no "/" at either end
        bool operator==(const Source &) const = default;
    };

    static constexpr int maxSkills = 10;           // skill folders one call may find
    static constexpr int maxFiles = 80;            // files one skill folder may hold
    static constexpr qint64 maxFileBytes = 256000; // largest file, by the size the service states
    static constexpr qint64 maxTotalBytes = 3000000; // bytes downloaded in one call

    // The service's hosts: its web host (in texts and accepted in sources),
    // its API host and its raw-file host. VELTO_GITHUB_HOST,
    // VELTO_GITHUB_API_HOST and VELTO_GITHUB_RAW_HOST (host or host:port)
    // take their place, for tests and mirrors.
    static QString webHost();
    static QString apiHost();
    static QString rawHost();

    // The body (absent without an HTTP reply) and the status (0 without
    // one); without a reply, why not.
    struct Fetched {
        std::optional<QByteArray> body;
        int status = 0;
        // The service could not be reached or did not answer in full.
        std::optional<QString> unreached;
        // The answer grew past the bound it was fetched with, and was dropped.
        bool tooLarge = false;
    };

    // A blocking GET with the service's headers: 30 s for the request, at
    // most 40 s of waiting. Never on the main thread. An answer longer than
    // maxBody bytes (the transport's default bound for 0) is stopped there.
    static Fetched defaultFetch(const QUrl &url, qint64 maxBody);
    // The install dialog, shown on the main thread (the caller waits there
    // when it runs elsewhere); true only when the CA chose "Install".
    static bool defaultConfirm(const QString &title, const QString &text);
    // OC_DIR/skills.
    static QString defaultSkillsDir();
    // The entries of VELTO_HOME/harness.json ("skill/" + name for a maker
    // skill): none when the file is missing or not a JSON array of texts.
    static QStringList defaultManaged();

    // Replaceable steps; the run always calls the current value.
    static inline std::function<Fetched(const QUrl &, qint64 maxBody)> fetch = &SkillInstall::defaultFetch;
    static inline std::function<bool(const QString &title, const QString &text)> confirm = &SkillInstall::defaultConfirm;
    static inline std::function<QString()> skillsDir = &SkillInstall::defaultSkillsDir;
    static inline std::function<QStringList()> managed = &SkillInstall::defaultManaged;

    // Puts back what an install stopped between its two renames left: the
    // new version goes in when it was written whole, else the old one comes
    // back; half-written copies and replaced versions are removed. Answers
    // the skill names it put in place.
    static QStringList settleSwaps(const QString &skillsDir);

    // Only "skill_install".
    static QSet<QString> names();
    static QJsonArray definitions(Tool::Obj obj);
    // Starts the run on a background thread and answers on the main thread,
    // once.
    static void call(const QString &name, const QJsonObject &args, Tool::Done done);
    // The family as the tool server lists and routes it.
    static ToolFamily family();

    // The whole install, blocking: the answer for the engine and whether it
    // is an error.
    static std::pair<QString, bool> run(const QJsonObject &args);

    // A source text ("github.com/owner/repo", a /tree/<ref>/<folder> link,
    // or owner/repo) and an optional folder, or absent when it names no
    // repository of the service.
    static std::optional<Source> parse(const QString &source, const std::optional<QString> &path = std::nullopt);

    // Lets the engine use the named skills without asking: "allow" under
    // "permission" -> "skill" in the engine configuration, nothing else
    // changed. Nothing is written when the file cannot be read as an object.
    static void allow(const QStringList &names);
};
