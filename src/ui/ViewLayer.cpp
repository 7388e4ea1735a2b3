#include "ui/ViewLayer.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

ViewLayer::ViewLayer(QWidget *view) : QObject(view), view_(view)
{
    setObjectName(QStringLiteral("velto-layer"));
    view->installEventFilter(this);
}

ViewLayer *ViewLayer::of(QWidget *view)
{
    if (ViewLayer *l = find(view))
        return l;
    return new ViewLayer(view);
}

ViewLayer *ViewLayer::find(const QWidget *view)
{
    return view ? view->findChild<ViewLayer *>(QStringLiteral("velto-layer"), Qt::FindDirectChildrenOnly)
                : nullptr;
}

void ViewLayer::apply()
{
    if (layout)
        layout(view_);
    view_->update();
}

bool ViewLayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != view_)
        return false;
    if (event->type() == QEvent::Resize && layout) {
        layout(view_);
    } else if (event->type() == QEvent::Paint) {
        const bool fill = background.style() != Qt::NoBrush;
        const bool stroke = borderWidth > 0 && borderColor.isValid() && borderColor.alpha() > 0;
        if (fill || stroke) {
            QPainter p(view_);
            p.setRenderHint(QPainter::Antialiasing);
            const QRectF bounds = view_->rect();
            const qreal r = std::min(cornerRadius, std::min(bounds.width(), bounds.height()) / 2);
            if (fill) {
                QPainterPath path;
                path.addRoundedRect(bounds, r, r);
                p.fillPath(path, background);
            }
            if (stroke) {
                const qreal h = borderWidth / 2;
                const QRectF inner = bounds.adjusted(h, h, -h, -h);
                const qreal ri = std::max<qreal>(0, r - h);
                p.setPen(QPen(borderColor, borderWidth));
                p.setBrush(Qt::NoBrush);
                p.drawRoundedRect(inner, ri, ri);
            }
        }
    }
    return false;
}
