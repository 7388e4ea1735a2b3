#pragma once
#include <QString>
#include <optional>

// Small text rules shared by the skill files.
namespace SkillText {

// The text with line breaks (LF, VT, FF, CR, NEL, LS, PS) taken off both ends.
QString trimNewlines(const QString &text);

// The first n user-perceived characters of the text.
QString prefixCharacters(const QString &text, int n);

// How many user-perceived characters the text has.
qsizetype characterCount(const QString &text);

// The text as one double-quoted front-matter value: quotes, backslashes,
// control characters and line separators escaped, so that no colon, leading
// symbol or line break can change the block's meaning.
QString quoted(const QString &text);

// The text without the characters of `set` at either end.
QString trimSet(const QString &text, const QString &set);

// Bytes read as strict UTF-8; absent when they are not UTF-8.
std::optional<QString> decodeUtf8(const QByteArray &bytes);

// Removes a file, a link (never what it points to) or a folder with its
// content; a failure is ignored.
void removeItem(const QString &path);

// Reads a file as UTF-8; absent when it is missing, unreadable or not UTF-8.
std::optional<QString> readUtf8(const QString &path);

// Replaces the file whole (temporary file, then rename). False on failure.
bool writeUtf8(const QString &path, const QString &text);

} // namespace SkillText
