#pragma once
// The small "Plan usage limits" popover by the sidebar's plan chip: the plan
// and one bar per limit, drawn from the account record the app already holds
// (no request). Its link closes it and hands over to the caller, which opens
// the usage window. Main thread only.
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// The target of the popover's link: only the popover shown last answers it.
class DetailsProxy : public QObject {
    Q_OBJECT
public:
    static DetailsProxy *shared();
    std::function<void()> handler;
    void fire()
    {
        if (handler)
            handler();
    }
};

// One limit: its label, its reset with the percentage, and a bar.
class LimitRow : public QWidget {
    Q_OBJECT
public:
    LimitRow(const QString &label, const QString &right, double fraction, QWidget *parent = nullptr);
    QLabel *labelView = nullptr;
    QLabel *rightView = nullptr;
    QWidget *barView = nullptr;
};

class LimitsPopover : public QObject {
    Q_OBJECT
public:
    LimitsPopover();
    ~LimitsPopover() override;

    // Builds the content from the account record and shows it by the anchor.
    void show(QWidget *anchor, const std::optional<QJsonObject> &account, std::function<void()> onDetails);
    void close();

    // The popup window (a Qt::Popup widget), made with the object.
    QWidget *popover() const { return popover_; }
    QWidget *content() const { return content_; }
    QLabel *chip() const { return chip_; }
    QPushButton *link() const { return link_; }
    // Where a popover of that size goes for an anchor (global frames): centred
    // over the anchor, above it when there is room, else below it; then moved
    // to lie inside the anchor's window and the screen's free area (the
    // window's left and top win when the popover is wider or taller).
    static QPoint placement(const QRect &anchor, const QSize &size, const QRect &window, const QRect &screen);
    // The right text of a limit row.
    static QString resetText(const QJsonObject &limit);

private:
    QPointer<QWidget> popover_;
    QWidget *content_ = nullptr;
    QLabel *chip_ = nullptr;
    QPushButton *link_ = nullptr;
};
