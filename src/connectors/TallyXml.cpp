// Tally's XML interface: where it listens, the three request envelopes, and
// how values are picked out of its replies.
#include "connectors/TallyTools.h"
#include "platform/Http.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace {

QString escaped(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

QString currentCompany(const std::optional<QString> &company)
{
    if (!company)
        return QString();
    return QStringLiteral("<SVCURRENTCOMPANY>") + escaped(*company) + QStringLiteral("</SVCURRENTCOMPANY>");
}

QString decoded(const QByteArray &body)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(body);
}

// Finds each `open` mark and the first "</tag>" after it, left to right,
// and hands over where the element starts, where its inside starts and
// ends, and where it ends; it stops after `most` elements when `most` is not
// negative. Matching is literal; nested elements of the same tag are not
// paired.
void scan(const QString &reply, const QString &open, const QString &tag,
          const std::function<void(qsizetype start, qsizetype inner, qsizetype end, qsizetype after)> &found,
          qsizetype most = -1)
{
    const QString close = QStringLiteral("</") + tag + QLatin1Char('>');
    qsizetype from = 0;
    for (qsizetype count = 0; most < 0 || count < most; ++count) {
        const qsizetype start = reply.indexOf(open, from);
        if (start < 0)
            return;
        const qsizetype inner = start + open.size();
        const qsizetype end = reply.indexOf(close, inner);
        if (end < 0)
            return;
        from = end + close.size();
        found(start, inner, end, from);
    }
}

} // namespace

const QString TallyTools::notRunning = QStringLiteral(
    "Tally is not answering on this computer. Ask the CA to open Tally Prime with the company loaded, and to switch "
    "on F1 \u2192 Features \u2192 Enable ODBC/HTTP (port 9000). Velto only talks to a Tally running here; it cannot "
    "reach one on another machine.");

QString TallyTools::endpoint()
{
    // Set but empty stays empty: only an unset port falls back to 9000.
    return QStringLiteral("http://127.0.0.1:") + qEnvironmentVariable("VELTO_TALLY_PORT", QStringLiteral("9000"));
}

void TallyTools::post(const QString &xml, Done done)
{
    const QUrl url(endpoint(), QUrl::StrictMode);
    if (!url.isValid() || url.host() != QLatin1String("127.0.0.1")) {
        done(std::nullopt, notRunning);
        return;
    }
    Http::Request req;
    req.method = "POST";
    req.url = url;
    req.timeout = TallyTools::timeout;
    req.maxBody = TallyTools::maxReply;
    req.headers.append(Http::Header{"Content-Type", "text/xml;charset=utf-8"});
    req.body = xml.toUtf8();
    // An import that left may have been carried out, whatever became of its answer.
    const bool import = xml.contains(QLatin1String("<TALLYREQUEST>Import</TALLYREQUEST>"));
    Http::request(req, [import, done = std::move(done)](const Http::Response &r) {
        if (r.error.isEmpty() && r.answered()) {
            if (r.status >= 400)
                done(std::nullopt, QStringLiteral("Tally answered HTTP ") + QString::number(r.status) + QLatin1Char('.'));
            else
                done(decoded(r.body), QString());
            return;
        }
        QString error;
        switch (r.failure) {
        case Http::Failure::TooLarge:
            error = QStringLiteral("Tally's answer was cut off: ") + r.error +
                    QStringLiteral(". Nothing of it was read; ask for a shorter period or one company.");
            break;
        case Http::Failure::TimedOut:
            error = QStringLiteral("Tally did not finish answering in time (") + QString::number(TallyTools::timeout) +
                    QStringLiteral(" s). Ask the CA whether Tally is busy or showing a message, then try again.");
            break;
        case Http::Failure::Lost:
            error = QStringLiteral("Tally's connection closed before its whole answer arrived.");
            break;
        default:
            done(std::nullopt, TallyTools::notRunning);
            return;
        }
        if (import && r.mayHaveArrived())
            error += QStringLiteral(" The voucher was sent and may have been written: check Tally's day book before "
                                    "trying again.");
        done(std::nullopt, error);
    });
}

QString TallyTools::collection(const QString &name, const QString &type, const QStringList &methods,
                               const std::optional<QString> &company)
{
    QString xml = QStringLiteral("<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
                                 "<TYPE>Collection</TYPE><ID>") +
                  name +
                  QStringLiteral("</ID></HEADER><BODY><DESC><STATICVARIABLES>"
                                 "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>") +
                  currentCompany(company) +
                  QStringLiteral("</STATICVARIABLES><TDL><TDLMESSAGE><COLLECTION NAME=\"") + name +
                  QStringLiteral("\" ISMODIFY=\"No\" ISFIXED=\"No\"><TYPE>") + type + QStringLiteral("</TYPE>");
    for (const QString &method : methods)
        xml += QStringLiteral("<NATIVEMETHOD>") + method + QStringLiteral("</NATIVEMETHOD>");
    return xml + QStringLiteral("</COLLECTION></TDLMESSAGE></TDL></DESC></BODY></ENVELOPE>");
}

QString TallyTools::report(const QString &name, const std::optional<QString> &company,
                           const std::optional<QString> &from, const std::optional<QString> &to)
{
    QString xml = QStringLiteral("<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
                                 "<TYPE>Data</TYPE><ID>") +
                  name +
                  QStringLiteral("</ID></HEADER><BODY><DESC><STATICVARIABLES>"
                                 "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>") +
                  currentCompany(company);
    if (from)
        xml += QStringLiteral("<SVFROMDATE>") + tallyDate(*from) + QStringLiteral("</SVFROMDATE>");
    if (to)
        xml += QStringLiteral("<SVTODATE>") + tallyDate(*to) + QStringLiteral("</SVTODATE>");
    return xml + QStringLiteral("</STATICVARIABLES></DESC></BODY></ENVELOPE>");
}

QString TallyTools::importVoucher(const QString &voucherXml, const std::optional<QString> &company)
{
    return QStringLiteral("<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Import</TALLYREQUEST>"
                          "<TYPE>Data</TYPE><ID>Vouchers</ID></HEADER><BODY><DESC><STATICVARIABLES>") +
           currentCompany(company) + QStringLiteral("</STATICVARIABLES></DESC><DATA><TALLYMESSAGE>") + voucherXml +
           QStringLiteral("</TALLYMESSAGE></DATA></BODY></ENVELOPE>");
}

QString TallyTools::tallyDate(const QString &text)
{
    QString digits;
    for (const QChar c : text)
        if (c.isDigit())
            digits.append(c);
    return digits.size() == 8 ? digits : text;
}

bool TallyTools::acceptedDate(const QString &text)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{4}-[0-9]{2}-[0-9]{2}|[0-9]{8}")));
    if (!form.match(text).hasMatch())
        return false;
    return QDate::fromString(tallyDate(text), QStringLiteral("yyyyMMdd")).isValid();
}

QString TallyTools::unescape(const QString &text)
{
    static const QList<QPair<QString, QString>> references{
        {QStringLiteral("&lt;"), QStringLiteral("<")},   {QStringLiteral("&gt;"), QStringLiteral(">")},
        {QStringLiteral("&quot;"), QStringLiteral("\"")}, {QStringLiteral("&apos;"), QStringLiteral("'")},
        {QStringLiteral("&amp;"), QStringLiteral("&")},  {QStringLiteral("&#4;"), QStringLiteral(" ")},
        {QStringLiteral("&#10;"), QStringLiteral(" ")},  {QStringLiteral("&#13;"), QStringLiteral(" ")},
    };
    // One pass, so what a reference decodes to is never decoded again.
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        bool replaced = false;
        if (text.at(i) == QLatin1Char('&')) {
            for (const auto &[reference, character] : references) {
                if (QStringView(text).mid(i).startsWith(reference)) {
                    out += character;
                    i += reference.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text.at(i++);
    }
    return out.trimmed();
}

QStringList TallyTools::values(const QString &reply, const QString &tag)
{
    QStringList out;
    scan(reply, QLatin1Char('<') + tag + QLatin1Char('>'), tag,
         [&](qsizetype, qsizetype inner, qsizetype end, qsizetype) { out.append(unescape(reply.mid(inner, end - inner))); });
    return out;
}

QStringList TallyTools::blocks(const QString &reply, const QString &tag, qsizetype most)
{
    QStringList out;
    scan(
        reply, QLatin1Char('<') + tag, tag,
        [&](qsizetype start, qsizetype, qsizetype, qsizetype after) { out.append(reply.mid(start, after - start)); },
        most);
    return out;
}
