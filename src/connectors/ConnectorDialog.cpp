#include "connectors/ConnectorDialog.h"
#include "platform/Dispatch.h"

#include <QApplication>
#include <QWidget>

namespace ConnectorDialog {

bool confirm(const Dialogs::Confirm &c)
{
    auto ask = [c] {
        // The CA answers with the window in front of them.
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isWindow() && !(w->windowFlags() & Qt::Popup)) {
                w->raise();
                w->activateWindow();
                break;
            }
        }
        return Dialogs::confirm(c);
    };
    if (Dispatch::isMainThread())
        return ask();
    bool yes = false;
    QMetaObject::invokeMethod(qApp, [&] { yes = ask(); }, Qt::BlockingQueuedConnection);
    return yes;
}

} // namespace ConnectorDialog
