#pragma once
// The dialog every connector family asks the CA with before it writes into
// an outside system: the exact data in a read-only box, approve or cancel.
#include "platform/Dialogs.h"

namespace ConnectorDialog {

// Brings the app's window to the front and asks on the main thread; a caller
// on another thread waits for the answer. True only for the approve button.
bool confirm(const Dialogs::Confirm &c);

} // namespace ConnectorDialog
