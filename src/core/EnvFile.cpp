#include "core/EnvFile.h"
#include "core/Characters.h"
#include "platform/Files.h"

#include <QStringDecoder>

namespace {

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x0A: case 0x0B: case 0x0C: case 0x0D:
    case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

using Characters::isHorizontalSpace;

QString trimHorizontal(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isHorizontalSpace(s[b]))
        ++b;
    while (e > b && isHorizontalSpace(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

} // namespace

QMap<QString, QString> readEnvFile(const QString &path)
{
    QMap<QString, QString> out;
    const auto bytes = Files::readAll(path);
    if (!bytes)
        return out;
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(*bytes);
    if (decode.hasError())
        return out;

    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && !isLineBreak(text[i]))
            continue;
        const QString line = trimHorizontal(text.mid(start, i - start));
        start = i + 1;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        QString value = line.mid(eq + 1);
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        out.insert(key, value);
    }
    return out;
}

std::optional<QString> readEnvKey(const QString &path, const QString &key)
{
    const QMap<QString, QString> pairs = readEnvFile(path);
    const auto it = pairs.constFind(key);
    if (it == pairs.constEnd())
        return std::nullopt;
    return *it;
}

bool writeSecret(const QString &path, const QString &text)
{
    // The product's home folder may not exist yet at first start; that must
    // not lose the CA's sign-in or folder choice.
    return Files::writeAtomicMakingFolder(path, text.toUtf8(), 0600);
}
