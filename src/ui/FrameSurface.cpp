#include "ui/FrameSurface.h"

#include <QBackingStore>
#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

namespace {

int gHolds = 0;

// Every surface, so that they can all be set aside at once.
QList<QPointer<FrameSurface>> &surfaces()
{
    static QList<QPointer<FrameSurface>> all;
    return all;
}

// The surface's window only shows frames; exposing it asks for one.
class SurfaceWindow : public QWindow {
public:
    explicit SurfaceWindow(FrameSurface *surface) : surface_(surface)
    {
        setSurfaceType(QSurface::RasterSurface);
        setFlag(Qt::WindowTransparentForInput);
    }

protected:
    void exposeEvent(QExposeEvent *) override
    {
        if (isExposed() && surface_)
            surface_->present();
    }

private:
    QPointer<FrameSurface> surface_;
};

} // namespace

FrameSurface::FrameSurface(QWidget *view) : QObject(view), view_(view)
{
    window_ = new SurfaceWindow(this);
    store_ = new QBackingStore(window_);
    container_ = QWidget::createWindowContainer(window_, view);
    container_->setAttribute(Qt::WA_TransparentForMouseEvents);
    container_->setFocusPolicy(Qt::NoFocus);
    container_->setGeometry(view->rect());
    view->installEventFilter(this);
    surfaces().append(this);
    sync();
}

FrameSurface::~FrameSurface()
{
    surfaces().removeAll(QPointer<FrameSurface>(this));
    delete store_;
    // The container, the view's child, owns the window and goes with the view.
}

void FrameSurface::hold()
{
    if (++gHolds != 1)
        return;
    for (const QPointer<FrameSurface> &s : std::as_const(surfaces()))
        if (s)
            s->sync();
}

void FrameSurface::release()
{
    if (gHolds == 0 || --gHolds != 0)
        return;
    for (const QPointer<FrameSurface> &s : std::as_const(surfaces()))
        if (s)
            s->sync();
}

bool FrameSurface::allowed()
{
    return gHolds == 0;
}

void FrameSurface::setInUse(bool inUse)
{
    if (inUse_ == inUse)
        return;
    inUse_ = inUse;
    sync();
}

// The container shows only while the surface is in use; otherwise the view's
// own painting in the window is what shows.
void FrameSurface::sync()
{
    if (!view_)
        return;
    const bool on = inUse_ && allowed();
    if (container_->isHidden() == !on)
        return;
    container_->setVisible(on);
    if (on)
        present();
    else
        view_->update();
}

bool FrameSurface::present()
{
    if (!view_ || !inUse_ || !allowed() || container_->isHidden() || !window_->isExposed())
        return false;
    const QSize size = view_->size();
    if (size.isEmpty())
        return false;
    presenting_ = true;
    const QRect rect(QPoint(), size);
    store_->resize(size);
    store_->beginPaint(QRegion(rect));
    QPaintDevice *device = store_->paintDevice();
    {
        QPainter clear(device);
        clear.setCompositionMode(QPainter::CompositionMode_Source);
        clear.fillRect(rect, Qt::transparent);
    }
    // What lies beneath the view, as its window paints it, without the view.
    QWidget *top = view_->window();
    backdrop_ = true;
    top->render(device, QPoint(), QRegion(QRect(view_->mapTo(top, QPoint()), size)),
                QWidget::DrawWindowBackground | QWidget::DrawChildren);
    backdrop_ = false;
    // Then the view's frame over it.
    view_->render(device, QPoint(), QRegion(rect), QWidget::RenderFlags());
    store_->endPaint();
    store_->flush(QRegion(rect));
    presenting_ = false;
    return true;
}

void FrameSurface::viewPainted()
{
    if (presenting_ || backdrop_ || queued_ || !inUse_ || !allowed())
        return;
    queued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            queued_ = false;
            present();
        },
        Qt::QueuedConnection);
}

bool FrameSurface::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view_ && event->type() == QEvent::Resize)
        container_->setGeometry(view_->rect());
    return false;
}
