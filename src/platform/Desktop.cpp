#include "platform/Desktop.h"

#include <QDesktopServices>

bool Desktop::defaultOpenUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
