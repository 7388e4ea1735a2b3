// Runs the tool server on its own for clients outside this process (the MCP
// client test). Prints "<port> <token>" once listening and runs until its
// standard input closes.
//   --pane    the browser window counts as open
//   --family  adds a family with one tool, "test_echo", that answers its
//             "text" argument from a background thread
#include "toolserver/BrowserMCP.h"
#include "toolserver/Families.h"
#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QObject pane;

    if (args.contains(QStringLiteral("--family"))) {
        const ToolFamily echo{
            [] { return QSet<QString>{QStringLiteral("test_echo")}; },
            [](Tool::Obj obj) {
                return QJsonArray{QJsonObject{
                    {QStringLiteral("name"), QStringLiteral("test_echo")},
                    {QStringLiteral("description"), QStringLiteral("Answers its text.")},
                    {QStringLiteral("inputSchema"),
                     obj({{QStringLiteral("text"), QJsonObject{{QStringLiteral("type"), QStringLiteral("string")}}}},
                         {QStringLiteral("text")})}}};
            },
            [](const QString &, const QJsonObject &a, Tool::Done done) {
                const QString text = a.value(QStringLiteral("text")).toString();
                Dispatch::runInBackground([done, text] { done(QStringLiteral("echo: ") + text, false); });
            }};
        Families::listed = {echo};
        Families::routed = {echo};
    }

    BrowserMCP server(args.contains(QStringLiteral("--pane")) ? &pane : nullptr);
    BrowserMCP::onActivity = [](const QString &name) { std::fprintf(stderr, "activity %s\n", qPrintable(name)); };
    if (!server.start()) {
        std::fprintf(stderr, "the tool server did not start\n");
        return 1;
    }
    std::printf("%u %s\n", unsigned(server.port()), qPrintable(server.token()));
    std::fflush(stdout);

    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        Dispatch::onMain([] { QCoreApplication::quit(); });
    }).detach();
    return app.exec();
}
