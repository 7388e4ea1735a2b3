#pragma once
// A window of its own laid over a small animated view, on which the view's
// frames are shown. A top-level window that holds web views is composed
// whole (with the GPU, or in software without one) whenever any part of it
// repaints, so a mark animating inside it would cost a whole-window
// composition per frame; on its own window a frame costs its own pixels only.
// The view still paints itself as usual (for grabs, and whenever what lies
// around it repaints); the surface draws what lies beneath the view, then the
// view, and takes no input: clicks reach whatever is under the view.
#include <QObject>
#include <QPointer>

class QBackingStore;
class QWidget;
class QWindow;

class FrameSurface : public QObject {
    Q_OBJECT
public:
    explicit FrameSurface(QWidget *view);
    ~FrameSurface() override;

    // Shows the view's current frame on the surface. False when the surface
    // cannot show it (not on screen, or not in use): the caller then
    // repaints the view itself.
    bool present();
    // Off while the view draws beyond its bounds (a glow): its frames are
    // then painted in the window like any other widget's.
    void setInUse(bool inUse);
    bool inUse() const { return inUse_; }
    // True while the view is being painted as the backdrop of its own
    // surface: its paintEvent then draws nothing.
    bool drawingBackdrop() const { return backdrop_; }
    // The view painted itself (its surroundings changed): the surface
    // follows once the events at hand are handled.
    void viewPainted();

    // Surfaces are set aside (everything paints in its window) while
    // something is drawn over the whole window, such as the theme reveal:
    // from each hold to its release.
    static void hold();
    static void release();
    static bool allowed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sync();

    QPointer<QWidget> view_;
    QWindow *window_ = nullptr;
    QBackingStore *store_ = nullptr;
    QWidget *container_ = nullptr;
    bool inUse_ = true;
    bool backdrop_ = false;
    bool presenting_ = false;
    bool queued_ = false;
};
