// The e-invoice connection record and the cryptography of the IRP's protocol.
#include "connectors/EInvoiceTools.h"
#include "core/Globals.h"
#include "platform/Crypto.h"
#include "platform/Files.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

// An override counts only as an https address: the sign-in carries the
// client secret in a header.
QString baseFrom(const char *variable, const QString &builtIn)
{
    QString value = qEnvironmentVariable(variable).trimmed();
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value.startsWith(QLatin1String("https://")) && value.size() > 8 ? value : builtIn;
}

} // namespace

QString EInvoiceConnection::base() const
{
    return isLive() ? baseFrom("VELTO_IRP_PRODUCTION", EInvoiceTools::PRODUCTION_BASE)
                    : baseFrom("VELTO_IRP_SANDBOX", EInvoiceTools::SANDBOX_BASE);
}

QByteArray EInvoiceConnection::encode() const
{
    const QJsonObject o{{QStringLiteral("gstin"), gstin},
                        {QStringLiteral("username"), username},
                        {QStringLiteral("clientId"), clientId},
                        {QStringLiteral("environment"), environment},
                        {QStringLiteral("updated"), updated}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<EInvoiceConnection> EInvoiceConnection::decode(const QByteArray &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    for (const char *key : {"gstin", "username", "clientId", "environment"})
        if (!o.value(QLatin1String(key)).isString())
            return std::nullopt;
    if (!o.value(QLatin1String("updated")).isDouble())
        return std::nullopt;
    return EInvoiceConnection{o.value(QLatin1String("gstin")).toString(),
                              o.value(QLatin1String("username")).toString(),
                              o.value(QLatin1String("clientId")).toString(),
                              o.value(QLatin1String("environment")).toString(),
                              o.value(QLatin1String("updated")).toDouble()};
}

QString EInvoiceTools::defaultIndexPath()
{
    return joinPath(VELTO_HOME, QStringLiteral("einvoice.json"));
}

std::optional<EInvoiceConnection> EInvoiceTools::connection()
{
    const std::optional<QByteArray> data = Files::readAll(indexPath());
    if (!data)
        return std::nullopt;
    return EInvoiceConnection::decode(*data);
}

std::optional<QByteArray> EInvoiceTools::randomKey()
{
    return Crypto::randomBytes(32);
}

std::optional<QByteArray> EInvoiceTools::aes(const QByteArray &input, const QByteArray &key, bool encrypt)
{
    return Crypto::aes256Ecb(input, key, encrypt);
}

std::optional<QByteArray> EInvoiceTools::rsa(const QByteArray &input, const QString &publicKeyPem)
{
    // Only these four marker lines are taken out; any other marker stays in
    // the text and fails the Base64 below.
    QString body = publicKeyPem;
    for (const char *marker : {"-----BEGIN PUBLIC KEY-----", "-----END PUBLIC KEY-----", "-----BEGIN CERTIFICATE-----",
                               "-----END CERTIFICATE-----"})
        body.remove(QLatin1String(marker));
    static const QRegularExpression space(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    body.remove(space);
    // Anything outside the Base64 alphabet was not part of a key.
    for (const QChar ch : body)
        if (ch.unicode() > 0x7f)
            return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(body.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return Crypto::rsaEncryptPkcs1(input, decoded.decoded);
}
