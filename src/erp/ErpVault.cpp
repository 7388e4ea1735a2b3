#include "erp/ErpVault.h"
#include "core/Characters.h"
#include "core/Globals.h"
#include "core/JsonFields.h"
#include "erp/ErpText.h"
#include "platform/Files.h"
#include "platform/SecretStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

using JsonFields::integer;
using JsonFields::number;
using JsonFields::text;

QString listed(const std::vector<ErpConnection> &list)
{
    QStringList items;
    for (const auto &c : list)
        items.append(QLatin1Char('"') + c.company + QStringLiteral("\" (") + c.gstin + QLatin1Char(')'));
    return items.join(QStringLiteral(", "));
}

} // namespace

QJsonObject ErpConnection::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("companyId"), companyId},
        {QStringLiteral("company"), company},
        {QStringLiteral("gstin"), gstin},
        {QStringLiteral("base"), base},
        {QStringLiteral("business"), business},
        {QStringLiteral("businessGstin"), businessGstin},
        {QStringLiteral("approvedBy"), approvedBy},
        {QStringLiteral("scopes"), QJsonArray::fromStringList(scopes)},
        {QStringLiteral("expires"), expires},
        {QStringLiteral("updated"), updated},
    };
}

std::optional<ErpConnection> ErpConnection::fromJson(const QJsonObject &o)
{
    const auto id = text(o, "id"), company = text(o, "company"), gstin = text(o, "gstin"), base = text(o, "base"),
               business = text(o, "business"), businessGstin = text(o, "businessGstin"),
               approvedBy = text(o, "approvedBy");
    const auto companyId = integer(o, "companyId");
    const auto expires = number(o, "expires"), updated = number(o, "updated");
    const QJsonValue scopesValue = o.value(QLatin1String("scopes"));
    if (!id || !company || !gstin || !base || !business || !businessGstin || !approvedBy || !companyId || !expires
        || !updated || !scopesValue.isArray())
        return std::nullopt;
    QStringList scopes;
    for (const QJsonValue &s : scopesValue.toArray()) {
        if (!s.isString())
            return std::nullopt;
        scopes.append(s.toString());
    }
    return ErpConnection{*id, *companyId, *company, *gstin, *base, *business, *businessGstin, *approvedBy,
                         scopes, *expires, *updated};
}

ErpVault::Store ErpVault::keychain()
{
    return Store{
        [](const QString &token, const QString &account) { return SecretStore::set(service, account, token); },
        [](const QString &account) { return SecretStore::get(service, account); },
        [](const QString &account) { SecretStore::remove(service, account); },
    };
}

QString ErpVault::file()
{
    return joinPath(VELTO_HOME, QStringLiteral("erp.json"));
}

void ErpVault::moveAside()
{
    // The records are kept for the CA to look at and the tokens stay in the
    // secret store: a damaged file must not lose every pairing.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = file() + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = file() + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    QFile::rename(file(), aside);
}

std::vector<ErpConnection> ErpVault::all()
{
    if (!QFile::exists(file()))
        return {};
    const auto bytes = Files::readAll(file());
    std::vector<ErpConnection> list;
    bool sound = false;
    if (bytes) {
        const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
        sound = doc.isArray();
        for (const QJsonValue &v : doc.array()) {
            const auto c = v.isObject() ? ErpConnection::fromJson(v.toObject()) : std::nullopt;
            if (!c) {
                sound = false;
                break;
            }
            list.push_back(*c);
        }
    }
    if (!sound) {
        moveAside();
        return {};
    }
    std::stable_sort(list.begin(), list.end(), [](const ErpConnection &a, const ErpConnection &b) {
        return a.company.toLower() < b.company.toLower();
    });
    return list;
}

void ErpVault::save(const std::vector<ErpConnection> &list)
{
    QJsonArray array;
    for (const auto &c : list)
        array.append(c.toJson());
    // A failed write is not reported; the old file stays as it was.
    Files::writeAtomicMakingFolder(file(), QJsonDocument(array).toJson(QJsonDocument::Compact), 0600);
}

bool ErpVault::upsert(const ErpConnection &connection, const QString &token)
{
    if (!store.set(token, connection.id))
        return false;
    for (const auto &old : all())
        if (old.gstin == connection.gstin && old.id != connection.id)
            store.remove(old.id);
    std::vector<ErpConnection> list;
    for (const auto &c : all())
        if (c.gstin != connection.gstin)
            list.push_back(c);
    ErpConnection fresh = connection;
    fresh.updated = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    list.push_back(fresh);
    save(list);
    return true;
}

void ErpVault::remove(const QString &id)
{
    std::vector<ErpConnection> list;
    for (const auto &c : all())
        if (c.id != id)
            list.push_back(c);
    save(list);
    store.remove(id);
}

std::optional<QString> ErpVault::token(const QString &id)
{
    return store.get(id);
}

std::pair<std::optional<ErpConnection>, QString> ErpVault::pick(const QString &client)
{
    const auto list = all();
    if (list.empty())
        return {std::nullopt, QStringLiteral("No client's Ledgora ERP is connected. The CA connects one in Velto "
                                             "\u2192 Ledgora ERP\u2026 \u2014 the client approves it in their own ERP.")};
    const QString q = Characters::trimSpacesTabs(client);
    const QString lower = q.toLower();
    if (q.isEmpty()) {
        if (list.size() == 1)
            return {list.front(), QString()};
        return {std::nullopt,
                QStringLiteral("More than one client's ERP is connected \u2014 pass `client`: ") + listed(list)};
    }
    const QString bare = ErpText::bare(q);
    for (const auto &c : list)
        if (QString::number(c.companyId) == q || c.gstin == bare)
            return {c, QString()};
    for (const auto &c : list)
        if (c.company.toLower() == lower)
            return {c, QString()};
    std::vector<ErpConnection> partial;
    for (const auto &c : list)
        if (c.company.toLower().contains(lower))
            partial.push_back(c);
    if (partial.size() == 1)
        return {partial.front(), QString()};
    if (partial.empty()) {
        QStringList names;
        for (const auto &c : list)
            names.append(QLatin1Char('"') + c.company + QLatin1Char('"'));
        return {std::nullopt, QLatin1Char('"') + client + QStringLiteral("\" has no connected ERP. Connected clients: ")
                                  + names.join(QStringLiteral(", "))
                                  + QStringLiteral(". To add one, the CA uses Velto \u2192 Ledgora ERP\u2026 and the "
                                                   "client approves it.")};
    }
    return {std::nullopt, QLatin1Char('"') + client
                              + QStringLiteral("\" fits more than one connected client \u2014 name one exactly or give "
                                               "its GSTIN: ")
                              + listed(partial)};
}
