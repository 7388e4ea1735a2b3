#pragma once
// The app's small line icons (folder, envelope, plus, ...), bundled as SVG
// under ":/icons/<name>.svg" and drawn in one colour: a theme token read at
// the moment of drawing. Names follow the symbol names the design uses
// ("square.and.pencil", "chevron.up.chevron.down"). Main thread only.
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Symbols {

// Whether the bundle holds an icon of that name.
bool has(const QString &name);

// The side of the square an icon of that point size takes, in points.
int side(qreal pointSize);

// The icon drawn in colour at the point size, its strokes heavier for heavier
// weights, for a screen of that pixel ratio; a null pixmap for an unknown name.
QPixmap image(const QString &name, qreal pointSize, QFont::Weight weight, const QColor &color,
              qreal devicePixelRatio = 2.0);

// The same as an icon for buttons (the same picture in every mode and state).
QIcon icon(const QString &name, qreal pointSize, QFont::Weight weight, const QColor &color);

} // namespace Symbols
