#pragma once
// The app's own line icons (resources/icons, named after the system images
// they stand in for: "plus", "xmark", "chevron.left" ...), drawn in a colour
// token. Main thread only.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace Icons {

// Whether the app carries an icon of that name.
bool has(const QString &name);
// The icon drawn in colour at size points, sharp on screens of the given
// pixel ratio; a transparent pixmap for an unknown name.
QPixmap pixmap(const QString &name, const QColor &color, const QSize &size, qreal pixelRatio = 2.0);
// The same as an icon, for buttons.
QIcon icon(const QString &name, const QColor &color, const QSize &size);

} // namespace Icons
