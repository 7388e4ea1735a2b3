#pragma once
#include <QBrush>
#include <QColor>
#include <QObject>
#include <functional>

class QWidget;

// What a layer gives a view here: a fill (a colour or a gradient), a border
// and rounded corners, drawn beneath the view's own painting, and a hook that
// places the view's children whenever it is resized. A view has at most one;
// it is made on first use and lives as the view's child.
class ViewLayer : public QObject {
    Q_OBJECT
public:
    // The view's layer, made when it has none.
    static ViewLayer *of(QWidget *view);
    // The view's layer, or null.
    static ViewLayer *find(const QWidget *view);

    QBrush background;                        // Qt::NoBrush: no fill
    qreal borderWidth = 0;
    QColor borderColor;
    qreal cornerRadius = 0;
    std::function<void(QWidget *view)> layout;  // runs on every resize

    QWidget *view() const { return view_; }
    // Repaints the view (after the fields above changed) and lays it out.
    void apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit ViewLayer(QWidget *view);
    QWidget *view_;
};
