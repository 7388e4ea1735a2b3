#include "toolserver/DocTools.h"
#include "platform/Dispatch.h"
#include "toolserver/DocText.h"
#include "toolserver/WorkPaths.h"

#include <QFileInfo>
#include <cmath>
#include <limits>

namespace DocTools {

namespace {

// A page bound: a JSON number truncated toward zero (true and false count as
// 1 and 0); anything else, 0.
int pageArg(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    if (!value.isDouble())
        return 0;
    const double v = std::trunc(value.toDouble());
    return int(std::clamp(v, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max())));
}

} // namespace

void docText(QObject &, const QJsonObject &args, const BrowserMCP::Done &done)
{
    const QJsonValue pathArg = args.value(QStringLiteral("path"));
    const QString path = pathArg.isString() ? pathArg.toString() : QString();
    if (path.isEmpty()) {
        done(BrowserMCP::text(QStringLiteral("path is required."), true));
        return;
    }
    const QString root = WorkPaths::root();
    const QString file = WorkPaths::resolved(WorkPaths::standard(path, root));
    if (!WorkPaths::inside(file, root)) {
        done(BrowserMCP::text(QStringLiteral("Refused: ") + file + QStringLiteral(" is outside the clients folder."),
                              true));
        return;
    }
    if (!QFileInfo::exists(file)) {
        done(BrowserMCP::text(QStringLiteral("No file at ") + file + QStringLiteral("."), true));
        return;
    }
    const int from = pageArg(args.value(QStringLiteral("from_page")));
    const int to = pageArg(args.value(QStringLiteral("to_page")));

    // A long document, a slow disk or a file that is not what its name says
    // must not hold up the window or the other tool calls.
    // Bounded from now: a quit while the read still waits for a thread stops it too.
    const DocText::Bound bound;
    Dispatch::runInBackground([file, from, to, bound, done] {
        const auto [text, isError] = DocText::read(file, from, to, bound);
        Dispatch::onMain([done, text = text, isError = isError] { done(BrowserMCP::text(text, isError)); });
    });
}

} // namespace DocTools
