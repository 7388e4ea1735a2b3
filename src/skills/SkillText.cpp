#include "skills/SkillText.h"
#include "core/Characters.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace SkillText {

namespace {
bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}
} // namespace

QString trimNewlines(const QString &text)
{
    qsizetype start = 0, end = text.size();
    while (start < end && isNewline(text.at(start)))
        ++start;
    while (end > start && isNewline(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

QString prefixCharacters(const QString &text, int n)
{
    return Characters::left(text, n);
}

qsizetype characterCount(const QString &text)
{
    return Characters::count(text);
}

QString quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '"' || u == '\\') {
            out += QLatin1Char('\\');
            out += c;
        } else if (u == '\t') {
            out += QStringLiteral("\\t");
        } else if (u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029 || u == 0xFEFF) {
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString trimSet(const QString &text, const QString &set)
{
    qsizetype start = 0, end = text.size();
    while (start < end && set.contains(text.at(start)))
        ++start;
    while (end > start && set.contains(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void removeItem(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

std::optional<QString> readUtf8(const QString &path)
{
    const auto bytes = Files::readAll(path);
    if (!bytes)
        return std::nullopt;
    return decodeUtf8(*bytes);
}

bool writeUtf8(const QString &path, const QString &text)
{
    return Files::writeAtomic(path, text.toUtf8(), 0644);
}

} // namespace SkillText
