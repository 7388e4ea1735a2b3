#pragma once
// The one look of the app's settings-style panels: builders for the window,
// its root view, labels, boxed inputs, a boxed text area, a list card around a
// table, a hairline and a usage bar; the status tone; a status field whose
// colour follows its words; the row drawing of the panels' tables; and the
// watch that repaints a panel once whenever the app turns light or dark.
// Everything takes its colours and fonts from Theme at the moment it is
// called. Main thread only.
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QDialog;
class QPlainTextEdit;
class QTextEdit;
class QTableView;

namespace PanelKit {

// The window's background and its dark or light look; nothing without a window.
void prepare(QWidget *window);
// The panel's root view: at the origin with that size, filled with Theme::bg.
// Make it the window's content (central widget or layout) so it follows the
// window's size.
QWidget *root(const QSize &size);

// A label: not editable, not selectable, no border or background.
QLabel *label(const QString &text, qreal size, QFont::Weight weight, const QColor &color, qreal kern = 0);
inline QLabel *label(const QString &text, qreal size, const QColor &color, qreal kern = 0)
{
    return label(text, size, QFont::Normal, color, kern);
}
// 20 pt bold, ink, letter spacing -0.35, cut at the tail when too long.
QLabel *title(const QString &text);
// 12 pt, muted; wrapping over several lines, or one line cut at the tail.
QLabel *subtitle(const QString &text, bool wrapping = false);
// 11 pt medium, ink2: a field's caption.
QLabel *caption(const QString &text);
// The text upper-cased, 10 pt bold, muted, letter spacing 0.8.
QLabel *section(const QString &text);

// Puts a single-line field (a line edit or a combo box) into a rounded
// field-coloured box at frame in parent; answers the box.
QWidget *input(QWidget *field, const QRect &frame, QWidget *parent, std::optional<QFont> font = std::nullopt);
// Puts a plain-text view into such a box, scrolling vertically; answers the box.
QWidget *textArea(QPlainTextEdit *text, const QRect &frame, QWidget *parent, const QFont &font);
QWidget *textArea(QTextEdit *text, const QRect &frame, QWidget *parent, const QFont &font);
// Puts a table into a scrolling card at frame in parent; answers the card.
// The table's rows are drawn by PanelRowView (installed unless the table
// already has a delegate of its own).
QWidget *listCard(QTableView *table, const QRect &frame, QWidget *parent);
// The table's first selected row, or -1 when nothing is selected.
int selectedRow(const QTableView *table);
// Selects the row, or clears the selection when the table has no such row.
void selectRow(QTableView *table, int row);
// Gives a check box the kit's box: a rounded square with a muted edge on the
// field colour, filled royal with a white tick when checked; drawn from the
// tokens in force at every paint, so it shows in both schemes.
void checkBox(QCheckBox *box);

// Gives a message box (or any dialog) the app's look in the scheme in force:
// the theme's palette, the app's fonts (its headline 14 pt bold, the rest
// 12.5 pt), the default button a primary pill and the others secondary
// pills, and a box named "detail" the field look with the thin scroll bar.
void dressDialog(QDialog *dialog);

// A one-point separator at rect; the caller adds it.
QWidget *hairline(const QRect &rect);
// A usage bar of that size, filled left to right to fraction (held to 0..1;
// not a number counts as full); the caller places and adds it.
QWidget *bar(int width, int height, double fraction);
inline QWidget *bar(int width, double fraction) { return bar(width, 5, fraction); }

// The text for a button, chip, tab, menu item or group title, which Qt reads
// with "&" as a shortcut marker: every "&" doubled, so the text shows exactly
// as written and gains no Alt shortcut. Every such title from data or with an
// "&" goes through here.
QString asWritten(const QString &text);

// Sets the text colour of a label or a field, in every state.
void setTextColor(QWidget *widget, const QColor &color);

// The colour of a status text, from the words in it: failure (stampInk) over
// success (sealInk) over waiting (amberInk), else muted.
QColor tone(const QString &text);

// Frames given in points from the bottom left of a parent of that height,
// turned into Qt's frames from the top left.
QRect fromBottom(int parentHeight, int x, int y, int w, int h);

// How a child follows its parent's growth: the parts of the extra width and
// height added to its x, y, width and height (0, 0, 0, 0 keeps it pinned to
// the top left at its size).
struct Anchor {
    QPointer<QWidget> view;
    QRect frame; // at the parent's base size, origin top left
    double x = 0, y = 0, w = 0, h = 0;
};
// Places the anchored children now and whenever the parent is resized.
void anchorChildren(QWidget *parent, QSize base, std::vector<Anchor> anchors);

// Makes root the whole content of a window laid out by one box layout, in
// place of old (deleted; the controls kept across builds must have moved to
// root already). old leaves the layout first, so root gets the whole window
// at once and its children are placed for that size.
void replaceRoot(QWidget *window, QWidget *old, QWidget *root);

} // namespace PanelKit

// A status line whose colour follows its text: a panel only sets the text.
class PanelStatusField : public QLabel {
    Q_OBJECT
public:
    explicit PanelStatusField(QWidget *parent = nullptr);
    QString stringValue() const { return text(); }
    void setStringValue(const QString &text);
    // Hides QLabel::setText so that every way of setting the text colours it.
    void setText(const QString &text) { setStringValue(text); }
};

// Draws the panels' table rows: a rounded selection in Theme::selected inset
// 6 by 2 with radius 10, a hairline separator along each row's bottom edge
// (from x 12, width less 24), no row fill; cell text keeps its ordinary colour
// on a selected row. Panels drawing their own cells override paintCell().
class PanelRowView : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit PanelRowView(QObject *parent = nullptr) : QStyledItemDelegate(parent) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;

    // The row-wide drawing, in the row's rectangle.
    static void drawSelection(QPainter *painter, const QRect &row);
    static void drawBackground(QPainter *painter, const QRect &row);

protected:
    // One cell, with the selection state taken out of option.
    virtual void paintCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;
};

// Repaints a panel once whenever Theme::isDark() changes: checked when the
// panel's window becomes active (any window when none is given), when the
// theme-change broadcast arrives and when the desktop's scheme changes. The
// panel keeps it in its `watch` field for as long as it lives.
class PanelThemeWatch : public QObject {
    Q_OBJECT
public:
    PanelThemeWatch(QWidget *window, std::function<void()> repaint);
    // Repaints when the scheme differs from the one last painted.
    void check();
    bool painted() const { return painted_; }

private:
    bool painted_;
    bool anyWindow_;
    QPointer<QWidget> window_;
    std::function<void()> repaint_;
};
