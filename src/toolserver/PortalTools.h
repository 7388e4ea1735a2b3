#pragma once
// The engine's view of the CA's saved portal logins: a list without any
// password, and a sign-in that the browser pane types itself. Main thread only.
#include "toolserver/BrowserMCP.h"

#include <QJsonObject>
#include <QObject>

namespace PortalTools {

void logins(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);
void signIn(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

} // namespace PortalTools
