#include "browser/PortalVault.h"
#include "core/Globals.h"
#include "platform/Files.h"
#include "platform/SecretStore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

const std::vector<std::pair<QString, QString>> &PortalCatalogue::list()
{
    static const std::vector<std::pair<QString, QString>> rows = {
        {QStringLiteral("GST"), QStringLiteral("https://services.gst.gov.in/services/login")},
        {QStringLiteral("Income Tax"), QStringLiteral("https://eportal.incometax.gov.in/iec/foservices/#/login")},
        {QStringLiteral("TRACES (TDS)"), QStringLiteral("https://www.tdscpc.gov.in/app/login.xhtml")},
        {QStringLiteral("MCA"), QStringLiteral("https://www.mca.gov.in/content/mca/global/en/foportal/fologin.html")},
        {QStringLiteral("EPFO"), QStringLiteral("https://unifiedportal-emp.epfindia.gov.in/epfo/")},
        {QStringLiteral("ESIC"),
         QStringLiteral("https://portal.esic.gov.in/EmployerPortal/ESICInsurancePortal/Portal_Loginnew.aspx")},
        {QStringLiteral("e-Way Bill"), QStringLiteral("https://ewaybillgst.gov.in/Login.aspx")},
        {QStringLiteral("e-Invoice"), QStringLiteral("https://einvoice1.gst.gov.in/")},
        {QStringLiteral("DGFT"), QStringLiteral("https://www.dgft.gov.in/CP/?opt=login")},
        {QStringLiteral("IP India"), QStringLiteral("https://ipindiaonline.gov.in/eplatform/")},
        {QStringLiteral("Udyam"), QStringLiteral("https://udyamregistration.gov.in/Udyam_Login.aspx")},
        {QStringLiteral("Other"), QString()},
    };
    return rows;
}

QString PortalCatalogue::url(const QString &portal)
{
    const QString wanted = portal.toLower();
    for (const auto &[name, url] : list())
        if (name.toLower() == wanted)
            return url;
    return {};
}

namespace {

const QStringList kTextKeys = {QStringLiteral("id"),       QStringLiteral("client"), QStringLiteral("portal"),
                               QStringLiteral("username"), QStringLiteral("url"),    QStringLiteral("note")};

std::optional<PortalLogin> decode(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    for (const QString &key : kTextKeys)
        if (!o.value(key).isString())
            return std::nullopt;
    if (!o.value(QStringLiteral("updated")).isDouble())
        return std::nullopt;
    return PortalLogin{o.value(QStringLiteral("id")).toString(),       o.value(QStringLiteral("client")).toString(),
                       o.value(QStringLiteral("portal")).toString(),   o.value(QStringLiteral("username")).toString(),
                       o.value(QStringLiteral("url")).toString(),      o.value(QStringLiteral("note")).toString(),
                       o.value(QStringLiteral("updated")).toDouble()};
}

QJsonObject encode(const PortalLogin &l)
{
    return QJsonObject{{QStringLiteral("id"), l.id},       {QStringLiteral("client"), l.client},
                       {QStringLiteral("portal"), l.portal}, {QStringLiteral("username"), l.username},
                       {QStringLiteral("url"), l.url},     {QStringLiteral("note"), l.note},
                       {QStringLiteral("updated"), l.updated}};
}

void sortLogins(std::vector<PortalLogin> &logins)
{
    std::stable_sort(logins.begin(), logins.end(), [](const PortalLogin &a, const PortalLogin &b) {
        if (a.client != b.client)
            return a.client < b.client;
        return a.portal < b.portal;
    });
}

// The sorted logins; none when the file exists but cannot be read or
// decoded as a whole. A missing or blank file holds no logins.
std::optional<std::vector<PortalLogin>> load()
{
    std::vector<PortalLogin> logins;
    if (!QFileInfo::exists(PortalVault::file()))
        return logins;
    const auto bytes = Files::readAll(PortalVault::file());
    if (!bytes)
        return std::nullopt;
    if (bytes->trimmed().isEmpty())
        return logins;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    for (const QJsonValue &v : doc.array()) {
        auto login = decode(v);
        if (!login)
            return std::nullopt;
        logins.push_back(*login);
    }
    sortLogins(logins);
    return logins;
}

bool save(const std::vector<PortalLogin> &logins)
{
    QJsonArray array;
    for (const PortalLogin &l : logins)
        array.append(encode(l));
    return Files::writeAtomicMakingFolder(PortalVault::file(), QJsonDocument(array).toJson(QJsonDocument::Compact),
                                          0600);
}

QString unreadable()
{
    return QStringLiteral("The saved portal logins in ") + PortalVault::file() +
           QStringLiteral(" could not be read, so nothing was changed. The file and every saved password are kept "
                          "as they are; repair the file or move it aside, then try again.");
}

QString notWritten()
{
    return QStringLiteral("The portal logins could not be saved to ") + PortalVault::file() + QStringLiteral(".");
}

} // namespace

QString PortalVault::file()
{
    return joinPath(VELTO_HOME, QStringLiteral("portals.json"));
}

std::vector<PortalLogin> PortalVault::all()
{
    return load().value_or(std::vector<PortalLogin>());
}

std::vector<PortalLogin> PortalVault::matches(const QString &client, const QString &portal)
{
    const QString c = client.toLower();
    const QString p = portal.toLower();
    std::vector<PortalLogin> found;
    if (c.isEmpty() || p.isEmpty())
        return found;
    for (const PortalLogin &l : all())
        if (l.client.toLower().contains(c) && l.portal.toLower().contains(p))
            found.push_back(l);
    // A name given whole beats the names that merely hold it.
    auto keepExact = [&found](const QString &wanted, QString PortalLogin::*field) {
        std::vector<PortalLogin> exact;
        for (const PortalLogin &l : found)
            if ((l.*field).toLower() == wanted)
                exact.push_back(l);
        if (!exact.empty())
            found = exact;
    };
    keepExact(c, &PortalLogin::client);
    keepExact(p, &PortalLogin::portal);
    return found;
}

std::optional<PortalLogin> PortalVault::find(const QString &client, const QString &portal)
{
    const auto found = matches(client, portal);
    if (found.size() != 1)
        return std::nullopt;
    return found.front();
}

PortalVault::Saved PortalVault::upsert(const PortalLogin &login, const std::optional<QString> &password)
{
    const bool newPassword = password && !password->isEmpty();
    auto logins = load();
    if (!logins)
        return {false, !newPassword, unreadable()};
    std::erase_if(*logins, [&login](const PortalLogin &l) { return l.id == login.id; });
    PortalLogin saved = login;
    saved.updated = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    logins->push_back(saved);
    if (!save(*logins))
        return {false, !newPassword, notWritten()};
    if (newPassword && !setPassword(*password, login.id))
        return {true, false,
                QStringLiteral("The login was saved, but its password could not be stored in the secret store.")};
    return {true, true, QString()};
}

bool PortalVault::setPassword(const QString &password, const QString &id)
{
    return SecretStore::set(service, id, password);
}

PortalVault::Saved PortalVault::remove(const QString &id)
{
    auto logins = load();
    if (!logins)
        return {false, true, unreadable()};
    std::erase_if(*logins, [&id](const PortalLogin &l) { return l.id == id; });
    // The password goes only once its record is gone.
    if (!save(*logins))
        return {false, true, notWritten()};
    SecretStore::remove(service, id);
    return {true, true, QString()};
}

std::optional<QString> PortalVault::password(const QString &id)
{
    return SecretStore::get(service, id);
}

bool PortalVault::hasPassword(const QString &id)
{
    return password(id).has_value();
}
