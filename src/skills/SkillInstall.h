#pragma once
#include <QString>
#include <optional>

// Skill front matter and the ownership mark: the block at the top of
// "SKILL.md" between the opening "---" and the next line starting with "---",
// one "key: value" per line. A skill or agent file is the firm's own when its
// first 700 characters hold "owner: firm".
struct SkillInstall {
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
};
