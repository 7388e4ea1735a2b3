#pragma once
#include <QMap>
#include <QString>
#include <optional>

// Env files: UTF-8 lines of KEY=value.

// The pairs of an env file; empty when the file cannot be read. Blank lines,
// lines starting with "#" and lines without "=" are skipped; the key is the
// text before the first "="; a value wrapped in double quotes loses exactly
// those two; a later line wins.
QMap<QString, QString> readEnvFile(const QString &path);

// One key's value, when the file has the key at all (an empty value counts).
std::optional<QString> readEnvKey(const QString &path, const QString &key);

// Replaces the file whole with the text. The file is 0600 from the moment it
// exists. Answers false when it could not be written (the old file stays);
// callers that may go on regardless ignore the answer.
bool writeSecret(const QString &path, const QString &text);
