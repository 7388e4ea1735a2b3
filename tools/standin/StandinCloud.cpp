// velto-standin-cloud: stands in for the maker's cloud service on loopback.
//   velto-standin-cloud --replies FILE [--port N] [--port-file FILE] [--log FILE]
//
// Every request is answered from the JSON file of canned replies, read afresh
// for each request so a test may change it while the program runs. Its keys
// are "METHOD /path" or "/path" (any method); the first that matches wins. A
// value is a reply object, or an array of them given out in turn (the last
// repeats). A reply object holds:
//   "status"    HTTP status (200)
//   "body"      any JSON value, sent as JSON
//   "raw"       a text sent as it is, instead of "body"
//   "headers"   an object of extra header lines
//   "delay_ms"  answer this much later
//   "hang"      true: never answer
//   "drop"      true: close the connection without answering
// A path without a reply gets 404. Each request is logged, one JSON object a
// line, to --log (or VELTO_STANDIN_LOG). Once listening, the program prints
// its address on standard output and writes its port to --port-file.
#include "StandinServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QProcessEnvironment>

using namespace Standin;

namespace {

Reply cannedReply(const QJsonObject &o)
{
    Reply r;
    if (o.contains(QStringLiteral("raw"))) {
        r.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        r.body = o.value(QStringLiteral("raw")).toString().toUtf8();
    } else if (o.contains(QStringLiteral("body"))) {
        r = Reply::json(o.value(QStringLiteral("body")));
    }
    r.status = o.value(QStringLiteral("status")).toInt(200);
    const QJsonObject headers = o.value(QStringLiteral("headers")).toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        r.headers.append({it.key().toUtf8(), it.value().toString().toUtf8()});
    r.delayMs = o.value(QStringLiteral("delay_ms")).toInt();
    r.hang = o.value(QStringLiteral("hang")).toBool();
    r.drop = o.value(QStringLiteral("drop")).toBool();
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in cloud service for Velto's tests and demo"));
    parser.addHelpOption();
    const QCommandLineOption repliesOpt(QStringLiteral("replies"), QStringLiteral("JSON file of canned replies"),
                                        QStringLiteral("file"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("port (0: any free)"),
                                     QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption portFileOpt(QStringLiteral("port-file"), QStringLiteral("file to write the port to"),
                                         QStringLiteral("file"));
    const QCommandLineOption logOpt(QStringLiteral("log"), QStringLiteral("request log"), QStringLiteral("file"));
    parser.addOptions({repliesOpt, portOpt, portFileOpt, logOpt});
    parser.process(app);

    const QString repliesFile = parser.value(repliesOpt);
    Log log(parser.isSet(logOpt) ? parser.value(logOpt)
                                 : QProcessEnvironment::systemEnvironment().value(QStringLiteral("VELTO_STANDIN_LOG")));
    QHash<QString, int> served; // how many replies each sequence has given

    Server server([&](const Request &req) {
        log.write(req.toJson());
        QJsonObject replies;
        QFile f(repliesFile);
        if (f.open(QIODevice::ReadOnly))
            replies = QJsonDocument::fromJson(f.readAll()).object();
        const QString keys[] = {QString::fromLatin1(req.method) + QLatin1Char(' ') + req.path, req.path};
        for (const QString &key : keys) {
            const QJsonValue v = replies.value(key);
            if (v.isObject())
                return cannedReply(v.toObject());
            if (v.isArray() && !v.toArray().isEmpty()) {
                const QJsonArray seq = v.toArray();
                const int n = served.value(key);
                served.insert(key, n + 1);
                return cannedReply(seq.at(std::min<qsizetype>(n, seq.size() - 1)).toObject());
            }
        }
        return Reply::json(QJsonObject{{QStringLiteral("success"), false},
                                       {QStringLiteral("error"),
                                        QJsonObject{{QStringLiteral("message"), QStringLiteral("Not found")}}}},
                           404);
    });
    if (!listenAndAnnounce(server, "velto-standin-cloud", quint16(parser.value(portOpt).toUInt()), parser.value(portFileOpt)))
        return 1;
    return QCoreApplication::exec();
}
