#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

// Corrections learned on this machine. They live in the skill folder's
// "LOCAL.md", apart from "SKILL.md", because the maker's skills are rewritten
// from the cloud on every start; after every such write the corrections are
// merged back under a fixed heading.
struct SkillCorrections {
    static inline const QString fileName = QStringLiteral("LOCAL.md");
    static inline const QString heading = QStringLiteral("## What this machine has learned since");

    // The "LOCAL.md" inside the skill folder dir.
    static QString file(const QString &dir);

    // Merges the folder's "LOCAL.md" into its "SKILL.md", replacing any section
    // merged earlier. Does nothing when "LOCAL.md" is missing or blank or either
    // file cannot be read; a failed write is ignored.
    static void apply(const QString &dir);

    // Appends one dated correction to the folder's "LOCAL.md", merges it into
    // "SKILL.md" and answers the sentence for the engine.
    static QString record(const QString &dir, const QString &text);

    // The clock used for the correction's date (tests set it).
    static inline std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
};
