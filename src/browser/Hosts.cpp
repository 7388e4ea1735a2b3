#include "browser/Hosts.h"
#include "core/Globals.h"
#include "platform/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

const QStringList &ALLOWED_HOSTS()
{
    static const QStringList hosts = {
        // Government portals, regulators, tribunals and courts
        "gov.in", "incometax.gov.in", "eportal.incometax.gov.in", "gst.gov.in", "services.gst.gov.in",
        "einvoice1.gst.gov.in", "ewaybillgst.gov.in", "icegate.gov.in", "mca.gov.in", "epfindia.gov.in",
        "unifiedportal-emp.epfindia.gov.in", "esic.gov.in", "dgft.gov.in", "ipindia.gov.in", "fssai.gov.in",
        "foscos.fssai.gov.in", "udyamregistration.gov.in", "startupindia.gov.in", "shramsuvidha.gov.in",
        "labour.gov.in", "parivesh.nic.in", "indiacode.nic.in", "rbi.org.in", "sebi.gov.in", "ibbi.gov.in",
        "nclt.gov.in", "itat.gov.in", "sci.gov.in", "ecourts.gov.in", "services.ecourts.gov.in",
        "tdscpc.gov.in", "contents.tdscpc.gov.in", "cbic.gov.in", "cbic-gst.gov.in", "einv-apisandbox.nic.in",
        "ewaybill.nic.in",
        // Tax-information network
        "tin-nsdl.com", "onlineservices.proteantech.in", "utiitsl.com",
        // Institute
        "icai.org",
        // Search
        "google.com", "bing.com",
        // Research and news
        "indiankanoon.org", "itatonline.org", "livelaw.in", "taxguru.in",
        // Accounting and tax software
        "cleartax.in", "zoho.com", "zoho.in", "intuit.com", "quickbooks.com",
        // Marketplaces
        "amazon.in", "sellercentral.amazon.in", "flipkart.com", "seller.flipkart.com",
        // The maker's sites
        "hallix.in", "ledgora.in",
        // Other
        "npci.org.in",
    };
    return hosts;
}

namespace {

bool matches(const QString &host, const QString &entry)
{
    return host == entry || host.endsWith(QLatin1Char('.') + entry);
}

QString sitesFile()
{
    return ExtraSites::fileURL ? ExtraSites::fileURL() : joinPath(VELTO_HOME, QStringLiteral("sites.json"));
}

void writeSites(const QStringList &hosts)
{
    Files::writeAtomicMakingFolder(sitesFile(), QJsonDocument(QJsonArray::fromStringList(hosts)).toJson(QJsonDocument::Compact),
                       0644);
}

} // namespace

bool hostAllowed(const std::optional<QString> &host)
{
    if (!host)
        return false;
    const QString h = host->toLower();
    if (h == QLatin1String("127.0.0.1") || h == QLatin1String("localhost"))
        return true;
    for (const QString &e : ALLOWED_HOSTS())
        if (matches(h, e))
            return true;
    for (const QString &e : ExtraSites::all())
        if (matches(h, e))
            return true;
    return false;
}

bool opensInSystemBrowser(const QUrl &url)
{
    static const QStringList payPaths = {"/wallet_pay", "/wallet_pay.php", "/velto_pay", "/velto_pay.php"};
    return url.scheme() == QLatin1String("https") && url.host().toLower() == QUrl(BUILTIN_API).host().toLower() &&
           payPaths.contains(url.path());
}

namespace ExtraSites {

std::optional<QString> clean(const QString &text)
{
    QString s = text.trimmed().toLower();
    if (const qsizetype i = s.indexOf(QStringLiteral("://")); i >= 0)
        s = s.mid(i + 3);
    if (const qsizetype i = s.indexOf(QLatin1Char('/')); i >= 0)
        s = s.left(i);
    if (const qsizetype i = s.indexOf(QLatin1Char(':')); i >= 0)
        s = s.left(i);
    if (s.startsWith(QStringLiteral("*.")))
        s = s.mid(2);
    if (s.startsWith(QStringLiteral("www.")))
        s = s.mid(4);
    if (!s.contains(QLatin1Char('.')) || s.startsWith(QLatin1Char('.')) || s.endsWith(QLatin1Char('.')) ||
        s.size() > 253)
        return std::nullopt;
    for (const QChar c : s)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            return std::nullopt;
    const QStringList labels = s.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (labels.isEmpty() || std::none_of(labels.last().begin(), labels.last().end(), [](QChar c) { return c.isLetter(); }))
        return std::nullopt;
    return s;
}

QStringList all()
{
    QStringList out;
    const auto bytes = Files::readAll(sitesFile());
    if (!bytes)
        return out;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes);
    if (!doc.isArray())
        return out;
    const QJsonArray arr = doc.array();
    // An array holding anything but strings does not decode as a list of hosts.
    if (std::any_of(arr.begin(), arr.end(), [](const QJsonValue &v) { return !v.isString(); }))
        return out;
    for (const QJsonValue &v : arr)
        if (auto h = clean(v.toString()))
            out.append(*h);
    return out;
}

std::optional<QString> add(const QString &text)
{
    const auto host = clean(text);
    if (!host)
        return std::nullopt;
    QStringList hosts = all();
    if (!hosts.contains(*host))
        hosts.append(*host);
    std::sort(hosts.begin(), hosts.end());
    writeSites(hosts);
    return host;
}

void remove(const QString &text)
{
    const auto host = clean(text);
    if (!host)
        return;
    QStringList hosts = all();
    hosts.removeAll(*host);
    writeSites(hosts);
}

} // namespace ExtraSites
