#include "ui/Symbols.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

namespace Symbols {

namespace {

QString path(const QString &name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

// The drawings are made with strokes of 1.75 in a 24 box: the regular weight.
QByteArray weighted(QByteArray svg, QFont::Weight weight)
{
    double width = 1.75;
    if (weight >= QFont::Bold)
        width = 2.35;
    else if (weight >= QFont::DemiBold)
        width = 2.15;
    else if (weight >= QFont::Medium)
        width = 1.95;
    else if (weight <= QFont::Light)
        width = 1.5;
    svg.replace("stroke-width=\"1.75\"", "stroke-width=\"" + QByteArray::number(width) + '"');
    return svg;
}

} // namespace

bool has(const QString &name)
{
    return QFile::exists(path(name));
}

int side(qreal pointSize)
{
    return int(std::lround(pointSize * 1.3));
}

QPixmap image(const QString &name, qreal pointSize, QFont::Weight weight, const QColor &color,
              qreal devicePixelRatio)
{
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QSvgRenderer renderer(weighted(f.readAll(), weight));
    if (!renderer.isValid())
        return {};
    const int px = std::max(1, int(std::lround(side(pointSize) * devicePixelRatio)));
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(0, 0, px, px));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRect(0, 0, px, px), color);
    }
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

QIcon icon(const QString &name, qreal pointSize, QFont::Weight weight, const QColor &color)
{
    QIcon out;
    const QPixmap pm = image(name, pointSize, weight, color);
    if (pm.isNull())
        return out;
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected})
        out.addPixmap(pm, mode);
    return out;
}

} // namespace Symbols
