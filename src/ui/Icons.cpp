#include "ui/Icons.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace Icons {

namespace {
QString pathOf(const QString &name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}
} // namespace

bool has(const QString &name)
{
    return QFile::exists(pathOf(name));
}

QPixmap pixmap(const QString &name, const QColor &color, const QSize &size, qreal pixelRatio)
{
    QPixmap px(size * pixelRatio);
    px.setDevicePixelRatio(pixelRatio);
    px.fill(Qt::transparent);
    QSvgRenderer svg(pathOf(name));
    if (!svg.isValid())
        return px;
    QPainter p(&px);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    // The drawing's own colour is ignored: only its shape takes the token.
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), color);
    return px;
}

QIcon icon(const QString &name, const QColor &color, const QSize &size)
{
    QIcon i;
    i.addPixmap(pixmap(name, color, size, 1.0));
    i.addPixmap(pixmap(name, color, size, 2.0));
    return i;
}

} // namespace Icons
