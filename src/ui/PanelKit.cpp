#include "ui/PanelKit.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"
#include "platform/Appearance.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QProxyStyle>
#include <QStyleOption>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTextEdit>
#include <QWindow>
#include <cmath>
#include <typeinfo>

namespace {

// A label that cuts its text at the tail with an ellipsis when it has no room
// (one line only); its text stays whole.
class KitLabel : public QLabel {
public:
    using QLabel::QLabel;
    bool elides = false;

    QSize minimumSizeHint() const override
    {
        QSize s = QLabel::minimumSizeHint();
        if (elides && !wordWrap())
            s.setWidth(0);
        return s;
    }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        if (!elides || wordWrap()) {
            QLabel::paintEvent(e);
            return;
        }
        QPainter p(this);
        const QRect r = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
        style()->drawItemText(&p, r, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
    }
};

KitLabel *makeLabel(const QString &text, qreal size, QFont::Weight weight, const QColor &color, qreal kern)
{
    auto *l = new KitLabel;
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    l->setAutoFillBackground(false);
    QFont f = Theme::font(size, weight);
    if (kern != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, kern);
    l->setFont(f);
    PanelKit::setTextColor(l, color);
    l->setText(text);
    return l;
}

// The kit's check-box indicator over the app's style: the desktop style
// draws an unchecked box's edge from the window colour, which all but
// vanishes on the dark theme.
class KitCheckStyle : public QProxyStyle {
public:
    static KitCheckStyle *shared()
    {
        static QPointer<KitCheckStyle> style;
        if (!style) {
            style = new KitCheckStyle;
            style->setParent(QCoreApplication::instance());
        }
        return style;
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_IndicatorCheckBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const bool on = option->state & (State_On | State_NoChange);
        const bool enabled = option->state & State_Enabled;
        const qreal side = std::min(option->rect.width(), option->rect.height()) - 1;
        const QRectF box(option->rect.x() + 0.5, option->rect.center().y() - side / 2.0 + 0.5, side, side);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setOpacity(enabled ? 1.0 : 0.45);
        if (on) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(Theme::royal());
            painter->drawRoundedRect(box, 4, 4);
            QPen tick(Theme::hex(0xFFFFFF), std::max(1.5, side / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            painter->setPen(tick);
            painter->setBrush(Qt::NoBrush);
            if (option->state & State_NoChange) {
                painter->drawLine(QPointF(box.left() + side * 0.28, box.center().y()),
                                  QPointF(box.right() - side * 0.28, box.center().y()));
            } else {
                const QPointF points[3] = {{box.left() + side * 0.26, box.top() + side * 0.52},
                                           {box.left() + side * 0.43, box.top() + side * 0.70},
                                           {box.left() + side * 0.75, box.top() + side * 0.32}};
                painter->drawPolyline(points, 3);
            }
        } else {
            painter->setPen(QPen(Theme::muted(), 1.2));
            painter->setBrush(Theme::field());
            painter->drawRoundedRect(box, 4, 4);
        }
        painter->restore();
    }
};

// The rounded field-coloured box that inputs and text areas sit in.
QWidget *fieldBox(const QRect &frame, QWidget *parent)
{
    auto *box = new QWidget(parent);
    box->setGeometry(frame);
    ViewLayer *l = ViewLayer::of(box);
    l->background = Theme::surface2();
    l->cornerRadius = 10;
    l->borderWidth = 1;
    l->borderColor = Theme::line2();
    return box;
}

// Clear backgrounds and the theme's text and selection colours for an editor
// that sits in a box.
void editorPalette(QWidget *w)
{
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, Qt::transparent);
        p.setColor(g, QPalette::Window, Qt::transparent);
        p.setColor(g, QPalette::Button, Qt::transparent);
        p.setColor(g, QPalette::Text, Theme::ink());
        p.setColor(g, QPalette::ButtonText, Theme::ink());
        p.setColor(g, QPalette::WindowText, Theme::ink());
        p.setColor(g, QPalette::PlaceholderText, Theme::muted());
        p.setColor(g, QPalette::Highlight, Theme::selected());
        p.setColor(g, QPalette::HighlightedText, Theme::ink());
    }
    w->setPalette(p);
    w->setAutoFillBackground(false);
    w->setAttribute(Qt::WA_MacShowFocusRect, false);
}

// The kit's vertical scroll bar: a thin rounded handle in a clear track,
// held clear of the rounded corners of the box or card around it. The
// desktop style would fill its track from the clear colours of the box and
// show a dark bar past the corner.
void thinScrollBar(QScrollBar *bar)
{
    QColor handle = Theme::muted();
    handle.setAlphaF(0.45f);
    QColor pressed = Theme::muted();
    pressed.setAlphaF(0.7f);
    bar->setStyleSheet(QStringLiteral("QScrollBar:vertical{background:transparent;border:none;width:10px;"
                                      "margin:8px 1px 8px 0}"
                                      "QScrollBar::handle:vertical{background:%1;border-radius:3px;"
                                      "min-height:28px;margin:0 2px}"
                                      "QScrollBar::handle:vertical:pressed{background:%2}"
                                      "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical"
                                      "{height:0;border:none;background:transparent}"
                                      "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical"
                                      "{background:transparent}")
                           .arg(Theme::qss(handle), Theme::qss(pressed)));
}

QWidget *textAreaIn(QAbstractScrollArea *area, const QRect &frame, QWidget *parent, const QFont &font)
{
    QWidget *box = fieldBox(frame, parent);
    area->setParent(box);
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->viewport()->setAutoFillBackground(false);
    editorPalette(area);
    thinScrollBar(area->verticalScrollBar());
    area->setFont(font);
    // 6 across and 4 down between the box's edge and the text.
    area->setContentsMargins(2, 0, 2, 0);
    ViewLayer::of(box)->layout = [area](QWidget *b) { area->setGeometry(b->rect().adjusted(1, 4, -1, -4)); };
    ViewLayer::of(box)->apply();
    area->show();
    box->show();
    return box;
}

} // namespace

namespace PanelKit {

QString asWritten(const QString &text)
{
    QString out = text;
    return out.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void setTextColor(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::WindowText, c);
        p.setColor(g, QPalette::Text, c);
    }
    w->setPalette(p);
}

void prepare(QWidget *window)
{
    if (!window)
        return;
    window->setPalette(Theme::palette());
    window->setAutoFillBackground(true);
    window->update();
}

QWidget *root(const QSize &size)
{
    auto *v = new QWidget;
    v->setGeometry(QRect(QPoint(0, 0), size));
    ViewLayer *l = ViewLayer::of(v);
    l->background = Theme::bg();
    return v;
}

QLabel *label(const QString &text, qreal size, QFont::Weight weight, const QColor &color, qreal kern)
{
    return makeLabel(text, size, weight, color, kern);
}

QLabel *title(const QString &text)
{
    KitLabel *l = makeLabel(text, 20, QFont::Bold, Theme::ink(), -0.35);
    l->elides = true;
    return l;
}

QLabel *subtitle(const QString &text, bool wrapping)
{
    KitLabel *l = makeLabel(text, 12, QFont::Normal, Theme::muted(), 0);
    l->setWordWrap(wrapping);
    l->elides = !wrapping;
    return l;
}

QLabel *caption(const QString &text)
{
    return makeLabel(text, 11, QFont::Medium, Theme::ink2(), 0);
}

QLabel *section(const QString &text)
{
    return makeLabel(text.toUpper(), 10, QFont::Bold, Theme::muted(), 0.8);
}

QWidget *input(QWidget *field, const QRect &frame, QWidget *parent, std::optional<QFont> font)
{
    QWidget *box = fieldBox(frame, parent);
    field->setParent(box);
    if (auto *edit = qobject_cast<QLineEdit *>(field))
        edit->setFrame(false);
    editorPalette(field);
    if (auto *combo = qobject_cast<QComboBox *>(field)) {
        combo->setFrame(false);
        // The box draws the field; a button drawn in the clear button colour
        // comes out as a black bar, so the pop-up draws no button of its own.
        // A style sheet keeps its own text colour, so the theme's goes in it,
        // and its own selection colours: without them a focused box is
        // marked in a dark bar whatever the theme.
        combo->setStyleSheet(QStringLiteral("QComboBox { background: transparent; border: none; padding-left: 2px; "
                                            "color: %1; selection-background-color: transparent; "
                                            "selection-color: %1; }")
                                 .arg(Theme::ink().name(QColor::HexArgb)));
        // The pop-up list is a window of its own: it gets the theme's opaque
        // colours, not the clear ones the field takes inside its box (clear
        // comes out black in a window).
        QPalette list = Theme::palette();
        const QColor mark = Theme::selected();
        const QColor under = Theme::panel();
        const QColor opaqueMark = Theme::over(under, mark, mark.alphaF());
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            list.setColor(g, QPalette::Base, under);
            list.setColor(g, QPalette::Window, under);
            list.setColor(g, QPalette::Highlight, opaqueMark);
            list.setColor(g, QPalette::HighlightedText, Theme::ink());
        }
        combo->view()->setPalette(list);
    }
    const QFont f = font ? *font : Theme::font(12.5);
    field->setFont(f);
    const int h = int(std::ceil(QFontMetricsF(f).height())) + 2;
    ViewLayer::of(box)->layout = [field, h](QWidget *b) {
        field->setGeometry(9, std::max(0, (b->height() - h) / 2), b->width() - 18, h);
    };
    ViewLayer::of(box)->apply();
    field->show();
    box->show();
    return box;
}

QWidget *textArea(QPlainTextEdit *text, const QRect &frame, QWidget *parent, const QFont &font)
{
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text->document()->setDocumentMargin(4);
    return textAreaIn(text, frame, parent, font);
}

QWidget *textArea(QTextEdit *text, const QRect &frame, QWidget *parent, const QFont &font)
{
    text->setAcceptRichText(false);
    text->setLineWrapMode(QTextEdit::WidgetWidth);
    text->document()->setDocumentMargin(4);
    return textAreaIn(text, frame, parent, font);
}

QWidget *listCard(QTableView *table, const QRect &frame, QWidget *parent)
{
    auto *box = new QWidget(parent);
    box->setGeometry(frame);
    Theme::card(box, 14);
    table->setParent(box);
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->setShowGrid(false);
    table->setFrameShape(QFrame::NoFrame);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->viewport()->setAutoFillBackground(false);
    thinScrollBar(table->verticalScrollBar());
    QPalette p = table->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, Qt::transparent);
        p.setColor(g, QPalette::AlternateBase, Qt::transparent);
        p.setColor(g, QPalette::Text, Theme::ink());
        // The selection is the row view's to draw, not the table's.
        p.setColor(g, QPalette::Highlight, Qt::transparent);
        p.setColor(g, QPalette::HighlightedText, Theme::ink());
    }
    table->setPalette(p);
    // The table's own default delegate gives way to the panels' row drawing.
    QAbstractItemDelegate *d = table->itemDelegate();
    if (d && typeid(*d) == typeid(QStyledItemDelegate))
        table->setItemDelegate(new PanelRowView(table));
    ViewLayer::of(box)->layout = [table](QWidget *b) { table->setGeometry(b->rect().adjusted(1, 6, -1, -6)); };
    ViewLayer::of(box)->apply();
    table->show();
    box->show();
    return box;
}

void dressDialog(QDialog *dialog)
{
    if (!dialog)
        return;
    prepare(dialog);
    dialog->setFont(Theme::font(12.5));
    for (QLabel *label : dialog->findChildren<QLabel *>()) {
        if (label->pixmap().isNull() == false)
            continue;
        const bool headline = label->objectName() == QLatin1String("qt_msgbox_label");
        label->setFont(Theme::font(headline ? 14 : 12.5, headline ? QFont::Bold : QFont::Normal));
        setTextColor(label, headline ? Theme::ink() : Theme::ink2());
    }
    QPushButton *preferred = nullptr;
    const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
    for (QPushButton *b : buttons)
        if (b->isDefault() && !preferred)
            preferred = b;
    if (!preferred && !buttons.isEmpty())
        preferred = buttons.first();
    for (QPushButton *b : buttons) {
        b == preferred ? Theme::primaryButton(b) : Theme::secondaryButton(b);
        b->setMinimumSize(96, 32);
    }
    if (auto *detail = dialog->findChild<QPlainTextEdit *>(QStringLiteral("detail"))) {
        QPalette p = detail->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(g, QPalette::Base, Theme::field());
            p.setColor(g, QPalette::Text, Theme::ink());
            p.setColor(g, QPalette::Highlight, Theme::selected());
            p.setColor(g, QPalette::HighlightedText, Theme::ink());
        }
        detail->setPalette(p);
        detail->setFrameShape(QFrame::NoFrame);
        detail->setStyleSheet(QStringLiteral("QPlainTextEdit{border:1px solid %1;border-radius:8px;background:%2}")
                                  .arg(Theme::qss(Theme::line2()), Theme::qss(Theme::field())));
        thinScrollBar(detail->verticalScrollBar());
        detail->setFont(Theme::mono(11));
    }
}

void checkBox(QCheckBox *box)
{
    box->setStyle(KitCheckStyle::shared());
}

QWidget *hairline(const QRect &rect)
{
    auto *v = new QWidget;
    v->setGeometry(rect);
    ViewLayer::of(v)->background = Theme::line();
    return v;
}

QWidget *bar(int width, int height, double fraction)
{
    auto *track = new QWidget;
    track->setGeometry(0, 0, width, height);
    ViewLayer *t = ViewLayer::of(track);
    t->background = Theme::bg2();
    t->cornerRadius = 3;

    const double f = std::isnan(fraction) ? 1.0 : std::clamp(fraction, 0.0, 1.0);
    const QColor end = f > 0.9 ? Theme::stamp() : f > 0.7 ? Theme::amber() : Theme::royal();
    QColor start = QColor::fromRgb(124, 155, 255);
    if (f > 0.7) {
        start = end;
        start.setAlphaF(0.75f);
    }
    auto *fill = new QWidget(track);
    fill->setObjectName(QStringLiteral("fill"));
    fill->setGeometry(0, 0, int(std::lround(f * width)), height);
    fill->setAttribute(Qt::WA_TransparentForMouseEvents);
    QLinearGradient g(0, 0.5, 1, 0.5);
    g.setCoordinateMode(QGradient::ObjectBoundingMode);
    g.setColorAt(0, start);
    g.setColorAt(1, end);
    ViewLayer *l = ViewLayer::of(fill);
    l->background = QBrush(g);
    l->cornerRadius = 3;
    return track;
}

QColor tone(const QString &text)
{
    const QString t = text.toLower();
    if (t.isEmpty())
        return Theme::muted();
    auto any = [&t](std::initializer_list<const char16_t *> words) {
        for (const char16_t *w : words)
            if (t.contains(QStringView(w)))
                return true;
        return false;
    };
    if (any({u"could not", u"not accepted", u"expired", u"failed", u"refused", u"error", u"did not",
             u"not signed in", u"must be"}))
        return Theme::stampInk();
    if (any({u"connected", u"saved", u"removed", u"copied", u"sent", u"opened", u"password is in", u"signed in"}))
        return Theme::sealInk();
    if (any({u"waiting", u"asking", u"checking", u"sending", u"opening", u"requested", u"pending", u"\u2026",
             u"pick ", u"needed", u"give it", u"no password", u"restart", u"quit and"}))
        return Theme::amberInk();
    return Theme::muted();
}

QRect fromBottom(int parentHeight, int x, int y, int w, int h)
{
    return QRect(x, parentHeight - y - h, w, h);
}

void anchorChildren(QWidget *parent, QSize base, std::vector<Anchor> anchors)
{
    ViewLayer::of(parent)->layout = [base, anchors](QWidget *p) {
        const int ew = p->width() - base.width();
        const int eh = p->height() - base.height();
        for (const Anchor &a : anchors) {
            if (!a.view)
                continue;
            a.view->setGeometry(a.frame.x() + int(a.x * ew), a.frame.y() + int(a.y * eh),
                                std::max(0, a.frame.width() + int(a.w * ew)),
                                std::max(0, a.frame.height() + int(a.h * eh)));
        }
    };
    ViewLayer::of(parent)->apply();
}

void replaceRoot(QWidget *window, QWidget *old, QWidget *root)
{
    if (old) {
        window->layout()->removeWidget(old);
        old->hide();
    }
    window->layout()->addWidget(root);
    root->show();
    delete old;
}

int selectedRow(const QTableView *table)
{
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void selectRow(QTableView *table, int row)
{
    if (row < 0 || !table->model() || row >= table->model()->rowCount())
        table->clearSelection();
    else
        table->selectRow(row);
}

} // namespace PanelKit

PanelStatusField::PanelStatusField(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setStringValue(QString());
}

void PanelStatusField::setStringValue(const QString &text)
{
    QLabel::setText(text);
    PanelKit::setTextColor(this, PanelKit::tone(QLabel::text()));
}

void PanelRowView::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    QRect row = option.rect;
    if (view) {
        row.setLeft(0);
        row.setWidth(view->viewport()->width());
    }
    painter->save();
    painter->setClipRect(option.rect);
    painter->setRenderHint(QPainter::Antialiasing);
    drawBackground(painter, row);
    const bool selectable = !view || view->selectionMode() != QAbstractItemView::NoSelection;
    if (selectable && (option.state & QStyle::State_Selected))
        drawSelection(painter, row);
    painter->restore();

    QStyleOptionViewItem cell(option);
    cell.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    paintCell(painter, cell, index);
}

QWidget *PanelRowView::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor) {
        // The table hides its own selection colour; an editor shows its text selection.
        QPalette p = editor->palette();
        p.setColor(QPalette::Highlight, Theme::selected());
        p.setColor(QPalette::HighlightedText, Theme::ink());
        editor->setPalette(p);
    }
    return editor;
}

void PanelRowView::paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
}

void PanelRowView::drawSelection(QPainter *painter, const QRect &row)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(row).adjusted(6, 2, -6, -2), 10, 10);
    painter->fillPath(path, Theme::selected());
}

void PanelRowView::drawBackground(QPainter *painter, const QRect &row)
{
    const int width = std::max(0, row.width() - 24);
    painter->fillRect(QRect(row.x() + 12, row.y() + row.height() - 1, width, 1), Theme::line());
}

PanelThemeWatch::PanelThemeWatch(QWidget *window, std::function<void()> repaint)
    : painted_(Theme::isDark()), anyWindow_(window == nullptr), window_(window), repaint_(std::move(repaint))
{
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::focusWindowChanged, this, [this](QWindow *w) {
            if (!w)
                return;
            if (anyWindow_ || (window_ && window_->window()->windowHandle() == w))
                check();
        });
        // The desktop's change may arrive from anywhere; the check runs on the main queue.
        connect(Appearance::shared(), &Appearance::colorSchemeChanged, this, &PanelThemeWatch::check,
                Qt::QueuedConnection);
    }
    connect(ThemeBroadcast::shared(), &ThemeBroadcast::veltoThemeDidChange, this, &PanelThemeWatch::check);
}

void PanelThemeWatch::check()
{
    const bool dark = Theme::isDark();
    if (dark == painted_)
        return;
    painted_ = dark;
    if (repaint_)
        repaint_();
}
