#pragma once
#include "toolserver/BrowserMCP.h"

namespace DocTools {

// doc_text: the text of a document inside the clients folder. Documents are
// read off the main thread; the answer comes back on it.
void docText(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

} // namespace DocTools
