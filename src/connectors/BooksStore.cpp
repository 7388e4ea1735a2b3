// The books connections: the index file in the home folder and the two
// secrets of each connection in the secret store.
#include "connectors/BooksTools.h"
#include "core/Characters.h"
#include "connectors/ConnectorText.h"

#include "core/Globals.h"
#include "platform/Files.h"
#include "platform/SecretStore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

QString BooksConnection::vendorName() const
{
    return isZoho() ? QStringLiteral("Zoho Books") : QStringLiteral("QuickBooks Online");
}

QJsonObject BooksConnection::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("vendor"), vendor},
        {QStringLiteral("client"), client},
        {QStringLiteral("organisation"), organisation},
        {QStringLiteral("clientId"), clientId},
        {QStringLiteral("region"), region},
        {QStringLiteral("updated"), updated},
    };
}

std::optional<BooksConnection> BooksConnection::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    BooksConnection c;
    const std::pair<const char *, QString *> texts[] = {
        {"id", &c.id}, {"vendor", &c.vendor}, {"client", &c.client},
        {"organisation", &c.organisation}, {"clientId", &c.clientId}, {"region", &c.region},
    };
    for (const auto &[key, field] : texts) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    const QJsonValue updated = o.value(QLatin1String("updated"));
    if (!updated.isDouble())
        return std::nullopt;
    c.updated = updated.toDouble();
    return c;
}

QString BooksTools::defaultIndexURL()
{
    return joinPath(VELTO_HOME, QStringLiteral("books.json"));
}

BooksTools::Store BooksTools::secretStore()
{
    // The hooks of the platform store are read at each call, so tests that
    // swap them are followed.
    return Store{
        [](const QString &value, const QString &account) { return SecretStore::set(SERVICE, account, value); },
        [](const QString &account) { return SecretStore::get(SERVICE, account); },
        [](const QString &account) { SecretStore::remove(SERVICE, account); },
    };
}

namespace {

enum class IndexState { Missing, Read, Broken };

// The index as stored, in file order, and whether it could be read whole.
IndexState readIndex(QList<BooksConnection> &out)
{
    out.clear();
    const QString path = BooksTools::indexURL();
    if (!QFileInfo::exists(path))
        return IndexState::Missing;
    const std::optional<QByteArray> data = Files::readAll(path);
    if (!data)
        return IndexState::Broken;
    if (data->trimmed().isEmpty())
        return IndexState::Read;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return IndexState::Broken;
    for (const QJsonValue &v : doc.array()) {
        std::optional<BooksConnection> c = BooksConnection::fromJson(v);
        if (!c) {
            out.clear();
            return IndexState::Broken;
        }
        out.append(*c);
    }
    return IndexState::Read;
}

} // namespace

QList<BooksConnection> BooksTools::all()
{
    QList<BooksConnection> list;
    if (readIndex(list) != IndexState::Read)
        return {};
    std::stable_sort(list.begin(), list.end(), [](const BooksConnection &a, const BooksConnection &b) {
        return a.client.toLower() < b.client.toLower();
    });
    return list;
}

BooksTools::Choice BooksTools::connection(const std::optional<QString> &client)
{
    const QList<BooksConnection> list = all();
    if (list.isEmpty())
        return {std::nullopt,
                QStringLiteral("No cloud books are connected. The CA connects one with books_connect: for Zoho Books "
                               "they make a Self Client in the Zoho API console (no app review) and pass its client "
                               "id, secret and a refresh token; for QuickBooks the same from an app on the Intuit "
                               "developer portal. Velto never registers anything itself.")};

    const QString wanted = client ? Characters::trimSpacesTabs(*client).toLower() : QString();
    if (wanted.isEmpty()) {
        if (list.size() == 1)
            return {list.first(), QString()};
        QStringList entries;
        for (const BooksConnection &c : list)
            entries << c.client + QStringLiteral(" (") + c.vendorName() + QLatin1Char(')');
        return {std::nullopt, QStringLiteral("Say whose books: ") + entries.join(QStringLiteral(", ")) + QLatin1Char('.')};
    }

    for (const BooksConnection &c : list)
        if (c.client.toLower() == wanted)
            return {c, QString()};
    for (const BooksConnection &c : list) {
        const QString have = c.client.toLower();
        if (have.startsWith(wanted) || wanted.startsWith(have))
            return {c, QString()};
    }
    QStringList clients;
    for (const BooksConnection &c : list)
        clients << c.client;
    return {std::nullopt, QStringLiteral("No cloud books connected for ") + *client + QStringLiteral(". Connected: ") +
                              clients.join(QStringLiteral(", ")) + QLatin1Char('.')};
}

BooksTools::Saved BooksTools::save(BooksConnection c, const QString &refreshToken, const QString &clientSecret)
{
    c.id = c.vendor + QLatin1Char('-') + c.organisation;

    // An index that is there but cannot be read whole still holds the CA's
    // connections: writing over it would lose them.
    QList<BooksConnection> list;
    if (readIndex(list) == IndexState::Broken)
        return Saved::IndexUnreadable;

    const QString refreshAccount = c.id + QStringLiteral(".refresh");
    const QString secretAccount = c.id + QStringLiteral(".secret");
    const std::optional<QString> oldRefresh = store.get(refreshAccount);
    const std::optional<QString> oldSecret = store.get(secretAccount);
    // A save that stops half-way leaves the secrets as they were.
    auto putBack = [&] {
        for (const auto &[account, old] : {std::pair{refreshAccount, oldRefresh}, std::pair{secretAccount, oldSecret}}) {
            if (old)
                store.set(*old, account);
            else
                store.remove(account);
        }
    };

    if (!store.set(refreshToken, refreshAccount)) {
        putBack();
        return Saved::SecretsFailed;
    }
    if (!store.set(clientSecret, secretAccount)) {
        putBack();
        return Saved::SecretsFailed;
    }

    list.erase(std::remove_if(list.begin(), list.end(), [&](const BooksConnection &o) { return o.id == c.id; }),
               list.end());
    c.updated = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    list.append(c);
    QJsonArray array;
    for (const BooksConnection &o : list)
        array.append(o.toJson());
    if (!Files::writeAtomic(indexURL(), QJsonDocument(array).toJson(QJsonDocument::Compact), 0644)) {
        putBack();
        return Saved::IndexNotWritten;
    }
    return Saved::Yes;
}
