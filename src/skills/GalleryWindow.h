#pragma once
// The gallery: the catalogue's task cards as a grid of tiles, narrowed by
// category chips and search words. Starting a card may first ask for its
// input fields; the finished request goes to onStart (the app starts a new
// engine session with it) and the gallery hides. Follows the app's light or
// dark look and re-lays its grid on resize. Main thread only.
#include "skills/Catalog.h"

#include <QMap>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class PanelThemeWatch;

// A view whose children are placed from the top left (the body of a tile and
// the document of the scroll areas).
class FlippedView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

// One card tile: the visible body (`tile`) lifts and casts a deeper shadow
// while the pointer is over it.
class SkillTileHost : public FlippedView {
    Q_OBJECT
public:
    explicit SkillTileHost(const QRect &frame, QWidget *parent = nullptr);
    FlippedView *tile() const { return tile_; }
    bool hovering() const { return hovering_; }
    void setHover(bool on);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void paintLook();
    FlippedView *tile_;
    bool hovering_ = false;
};

class GalleryWindow : public QWidget {
    Q_OBJECT
public:
    explicit GalleryWindow(QWidget *parent = nullptr);
    ~GalleryWindow() override;

    // Receives the request text of a started card.
    std::function<void(const QString &)> onStart;

    // Re-reads the catalogue and the client names and redraws.
    void reload();
    // Rebuilds the whole content in the current look.
    void repaint();
    // Types the text into the search field one character every 0.07 s.
    void demoType(const QString &text);

    // Chooses the chip at `tag` in "All" followed by the categories.
    void pickCategory(int tag);
    // Starts the card at `tag` in the shown cards.
    void startCard(int tag);

    // The input form of a card that asks for fields.
    struct FormInput {
        QString id;
        QString label;
        QString placeholder;
        QString initial;
        enum class Kind { Line, Details, Client } kind = Kind::Line;
    };
    struct Form {
        QString title; // the card's title
        QString blurb;
        QList<FormInput> inputs;
        QStringList clientNames; // offered by the client input
    };
    // Shows the form modally; the typed text of every input by its id, or
    // nothing when the CA did not choose "Start". Tests answer it.
    static std::optional<QMap<QString, QString>> defaultAskFields(const Form &form);
    static inline std::function<std::optional<QMap<QString, QString>>(const Form &)> askFields =
        &GalleryWindow::defaultAskFields;

    // The first name, in the list's order, that begins with the typed text in
    // any case; empty when none does.
    static QString completion(const QStringList &names, const QString &typed);
    // How many columns a card area of that content width holds.
    static int columnsFor(double contentWidth);

    // For the app and the tests.
    const Catalog::Contents &catalog() const { return catalog_; }
    const QString &category() const { return category_; }
    QList<CatalogCard> shown() const;
    const QStringList &clientNames() const { return clientNames_; }
    QLineEdit *searchField() const { return search_; }
    QLabel *emptyLabel() const { return empty_; }
    QWidget *cardArea() const { return doc_; }
    QScrollArea *scrollArea() const { return scroll_; }
    QList<QPushButton *> chips() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void buildCategories();
    void layoutCards();
    void fillTile(SkillTileHost *host, const CatalogCard &card, int index, int width);

    Catalog::Contents catalog_;
    QString category_;
    QStringList clientNames_;
    QLineEdit *search_ = nullptr;
    QWidget *catStack_ = nullptr;
    QHBoxLayout *catLayout_ = nullptr;
    QScrollArea *catScroll_ = nullptr;
    QScrollArea *scroll_ = nullptr;
    FlippedView *doc_ = nullptr;
    QLabel *empty_ = nullptr;
    QWidget *root_ = nullptr;
    bool layoutQueued_ = false; // a layout after a resize is waiting to run
    std::unique_ptr<PanelThemeWatch> watch_;
};
