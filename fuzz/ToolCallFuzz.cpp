// Feeds tools/call arguments to the real tool dispatcher: a listed tool
// picked by the first byte, and arguments that are either the input itself
// (when it is a JSON object) or built from the tool's own input schema with
// wrong types, huge and empty texts, NUL and control characters, and deep
// JSON. Every outside service points at a closed port on loopback (a request
// anywhere else is refused before it leaves), dialogs are answered by their
// hook, and the home is a throwaway folder. Beyond crashes and undefined
// behaviour it checks that every call answers exactly once, with a result
// that has a text content and an isError flag.
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "platform/Http.h"
#include "platform/SecretStore.h"
#include "connectors/MailTools.h"
#include "toolserver/BrowserMCP.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The fuzzer's bytes, read from the front.
struct Bytes {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
    bool empty() const { return at >= size; }
    QByteArray take(size_t n)
    {
        n = std::min(n, size - std::min(at, size));
        QByteArray out(reinterpret_cast<const char *>(data + at), qsizetype(n));
        at += n;
        return out;
    }
};

bool approve = false;

struct World {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<BrowserMCP> server;
    QJsonArray tools;
};

World &world()
{
    static World w = [] {
        World w;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tool_call_fuzz";
        static char *argv[] = {name, nullptr};
        w.app = std::make_unique<QApplication>(argc, argv);
        w.home = std::make_unique<QTemporaryDir>();

        // A port nobody listens on, for every service.
        quint16 closed = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            closed = probe.serverPort();
        }
        const QByteArray nowhere = "http://127.0.0.1:" + QByteArray::number(closed);
        const QByteArray host = "127.0.0.1:" + QByteArray::number(closed);
        qputenv("VELTO_DEMO_HOME", QFile::encodeName(w.home->path()));
        qputenv("VELTO_API", nowhere);
        qputenv("VELTO_TALLY_PORT", QByteArray::number(closed));
        for (const char *var : {"VELTO_GITHUB_HOST", "VELTO_GITHUB_API_HOST", "VELTO_GITHUB_RAW_HOST"})
            qputenv(var, host);
        for (const char *var : {"VELTO_IRP_PRODUCTION", "VELTO_IRP_SANDBOX", "VELTO_QUICKBOOKS_API",
                                "VELTO_QUICKBOOKS_OAUTH", "VELTO_ZOHO_ACCOUNTS", "VELTO_ZOHO_API"})
            qputenv(var, nowhere);
        initGlobals();
        MailBridge::statePath = w.home->path() + QStringLiteral("/bridge.json");
        QFile door(*MailBridge::statePath);
        if (door.open(QIODevice::WriteOnly))
            door.write(R"({"port": )" + QByteArray::number(closed) + R"(, "token": "fuzz-bridge-token"})");
        door.close();

        Dispatch::timeScale = 0.001;
        SecretStore::useMemory();
        const auto sendOnMain = Http::Hooks::send;
        Http::Hooks::send = [sendOnMain](const Http::Request &req, Http::Done done) {
            if (req.url.host() != QLatin1String("127.0.0.1")) {
                Http::Response r;
                r.error = QStringLiteral("refused: not loopback");
                r.failure = Http::Failure::NotSent;
                done(r);
                return;
            }
            sendOnMain(req, std::move(done));
        };
        Dialogs::Hooks::alert = [](const Dialogs::Alert &) { return 0; };
        Dialogs::Hooks::confirm = [](const Dialogs::Confirm &) { return approve; };
        Dialogs::Hooks::openFolder = [](const Dialogs::FolderPanel &) { return std::optional<QString>(); };
        Dialogs::Hooks::textPrompt = [](const Dialogs::TextPrompt &) { return std::optional<QString>(); };
        Dialogs::Hooks::openFiles = [](const Dialogs::FilePanel &) { return QStringList(); };
        Desktop::openUrl = [](const QUrl &) { return true; };
        Desktop::reveal = [](const QString &) { return true; };
        BrowserMCP::onConfirm = [](const QString &, const QString &) { return approve; };

        w.server = std::make_unique<BrowserMCP>(nullptr);
        w.tools = BrowserMCP::tools();
        return w;
    }();
    return w;
}

QString text(Bytes &in)
{
    switch (in.next() % 6) {
    case 0:
        return QString();
    case 1:
        return QString(QChar(0)) + QString::fromUtf8(in.take(8));
    case 2:
        return QString(200000 + in.next() * 1000, QChar(u'\u0928')); // long, and not ASCII
    case 3:
        return QStringLiteral("../../../etc/passwd");
    case 4:
        return QStringLiteral("  ") + QString::fromUtf8(in.take(in.next() % 64)) + QStringLiteral("\r\n");
    default:
        return QString::fromUtf8(in.take(in.next()));
    }
}

QJsonValue deep(int depth)
{
    QJsonValue v = QJsonArray{1};
    for (int i = 0; i < depth; ++i)
        v = (i % 2) ? QJsonValue(QJsonArray{v}) : QJsonValue(QJsonObject{{QStringLiteral("a"), v}});
    return v;
}

QJsonValue value(Bytes &in, const QJsonObject &schema)
{
    const QString type = schema.value(QStringLiteral("type")).toString();
    switch (in.next() % 10) {
    case 0:
        return QJsonValue(); // null
    case 1:
        return in.next() & 1;
    case 2: {
        const double numbers[] = {0, -1, 1e308, -1e308, 0.5, 4294967296.0, 1e-300, 13, -0.0};
        return numbers[in.next() % 9];
    }
    case 3:
        return deep(1 + in.next() * 4);
    case 4: {
        QJsonArray a;
        for (int n = in.next() % 5; n > 0; --n)
            a.append(text(in));
        return a;
    }
    case 5: {
        const QJsonArray choices = schema.value(QStringLiteral("enum")).toArray();
        if (!choices.isEmpty())
            return choices.at(in.next() % choices.size());
        return text(in);
    }
    default:
        // Mostly the type the schema asks for, so calls get past the first checks.
        if (type == QLatin1String("number") || type == QLatin1String("integer"))
            return double(int8_t(in.next())) * (in.next() % 7);
        if (type == QLatin1String("boolean"))
            return bool(in.next() & 1);
        if (type == QLatin1String("array")) {
            QJsonArray a;
            const QJsonObject items = schema.value(QStringLiteral("items")).toObject();
            for (int n = in.next() % 4; n > 0; --n)
                a.append(value(in, items));
            return a;
        }
        if (type == QLatin1String("object")) {
            QJsonObject o;
            const QJsonObject props = schema.value(QStringLiteral("properties")).toObject();
            for (auto it = props.begin(); it != props.end(); ++it)
                if (in.next() & 1)
                    o.insert(it.key(), value(in, it.value().toObject()));
            return o;
        }
        return text(in);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    if (size < 2 || w.tools.isEmpty())
        return 0;
    Bytes in{data, size};
    const QJsonObject tool = w.tools.at(in.next() % w.tools.size()).toObject();
    const QString name = tool.value(QStringLiteral("name")).toString();
    approve = in.next() & 1;

    QJsonObject args;
    const QByteArray rest = QByteArray(reinterpret_cast<const char *>(data + in.at), qsizetype(size - in.at));
    const QJsonDocument given = QJsonDocument::fromJson(rest);
    if (given.isObject()) {
        args = given.object();
    } else {
        const QJsonObject props = tool.value(QStringLiteral("inputSchema")).toObject().value(QStringLiteral("properties")).toObject();
        for (auto it = props.begin(); it != props.end(); ++it)
            if (in.next() % 4)
                args.insert(it.key(), value(in, it.value().toObject()));
        if (in.next() % 8 == 0)
            args.insert(text(in), text(in)); // a name the schema does not know
    }

    auto answers = std::make_shared<int>(0);
    auto result = std::make_shared<QJsonObject>();
    w.server->call(name, args, [answers, result](const QJsonObject &r) {
        ++*answers;
        *result = r;
    });
    QDeadlineTimer deadline(60000);
    while (*answers == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    check(*answers == 1);
    const QJsonArray content = result->value(QStringLiteral("content")).toArray();
    check(!content.isEmpty());
    check(result->value(QStringLiteral("isError")).isBool());
    // A late second answer would show here.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    check(*answers == 1);
    return 0;
}
