#include "skills/GalleryWindow.h"

#include "core/Characters.h"
#include "erp/ErpConnect.h"
#include "erp/ErpVault.h"
#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "skills/SkillText.h"
#include "ui/Animation.h"
#include "ui/PanelKit.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"

#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEnterEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextLayout>
#include <QVBoxLayout>
#include <cmath>

using PanelKit::Anchor;
using PanelKit::fromBottom;

namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 680;
constexpr int kMinWidth = 720;
constexpr int kMinHeight = 480;
constexpr int kTileHeight = 164;
constexpr int kGap = 14;

const QString kNoCatalog = QStringLiteral(
    "The skills list has not arrived from Hallix yet. It comes with the next sync \u2014 quit and open Velto again.");
const QString kNothingMatches =
    QStringLiteral("Nothing matches. Try another word, or ask Velto in the chat \u2014 it does more than these cards.");

QString symbolFor(const QString &category)
{
    static const QHash<QString, QString> symbols{
        {QStringLiteral("gst"), QStringLiteral("percent")},
        {QStringLiteral("itr"), QStringLiteral("indianrupeesign.circle")},
        {QStringLiteral("tds"), QStringLiteral("arrow.down.doc")},
        {QStringLiteral("mca"), QStringLiteral("building.columns")},
        {QStringLiteral("payroll"), QStringLiteral("person.2")},
        {QStringLiteral("books"), QStringLiteral("book.closed")},
        {QStringLiteral("reg"), QStringLiteral("checkmark.seal")},
        {QStringLiteral("notices"), QStringLiteral("envelope.open")},
        {QStringLiteral("practice"), QStringLiteral("person.crop.rectangle.stack")},
        {QStringLiteral("research"), QStringLiteral("magnifyingglass")},
    };
    const QString name = symbols.value(category, QStringLiteral("sparkles"));
    return Symbols::has(name) ? name : QStringLiteral("sparkles");
}

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(float(alpha));
    return c;
}

void setShadow(QWidget *view, const QColor &color, qreal radius, QPointF offset)
{
    auto *effect = qobject_cast<QGraphicsDropShadowEffect *>(view->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsDropShadowEffect;
        view->setGraphicsEffect(effect);
    }
    effect->setColor(color);
    effect->setBlurRadius(radius * 2);
    effect->setOffset(offset);
}

// At most two lines of the text at that width, the last cut with "…".
QString twoLines(const QString &text, const QFont &font, int width)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    QStringList lines;
    int consumed = 0;
    for (int i = 0; i < 2; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength());
        consumed = line.textStart() + line.textLength();
    }
    layout.endLayout();
    if (consumed >= text.size())
        return text;
    const QFontMetrics metrics(font);
    const QString last = lines.value(1) + text.mid(consumed);
    return lines.value(0).trimmed() + QLatin1Char('\n') +
           metrics.elidedText(last.simplified(), Qt::ElideRight, width);
}

} // namespace

// ---- SkillTileHost -----------------------------------------------------------

SkillTileHost::SkillTileHost(const QRect &frame, QWidget *parent) : FlippedView(parent)
{
    setGeometry(frame);
    tile_ = new FlippedView(this);
    tile_->setGeometry(0, 0, frame.width(), frame.height());
    Theme::card(tile_, 14);
    paintLook();
}

void SkillTileHost::enterEvent(QEnterEvent *event)
{
    FlippedView::enterEvent(event);
    setHover(true);
}

void SkillTileHost::leaveEvent(QEvent *event)
{
    FlippedView::leaveEvent(event);
    setHover(false);
}

void SkillTileHost::paintLook()
{
    const bool dark = Theme::isDark();
    ViewLayer *layer = ViewLayer::of(tile_);
    layer->borderColor = hovering_ ? withAlpha(Theme::royal(), 0.35) : Theme::line();
    layer->borderWidth = 1;
    const QColor shade = dark ? QColor(Qt::black) : QColor::fromRgbF(0.055f, 0.07f, 0.125f);
    const qreal opacity = hovering_ ? (dark ? 0.5 : 0.14) : (dark ? 0 : 0.06);
    setShadow(tile_, withAlpha(shade, opacity), hovering_ ? 16 : 8, QPointF(0, hovering_ ? 8 : 2));
    layer->apply();
}

void SkillTileHost::setHover(bool on)
{
    if (on == hovering_)
        return;
    hovering_ = on;
    paintLook();
    const bool reduce = Theme::reduceMotion();
    const QRect target(0, on && !reduce ? -4 : 0, width(), height());
    if (reduce) {
        tile_->setGeometry(target);
        return;
    }
    auto *anim = new QPropertyAnimation(tile_, "geometry", tile_);
    anim->setDuration(350);
    anim->setEasingCurve(Timing::cubic(0.22, 1.0, 0.36, 1.0));
    anim->setStartValue(tile_->geometry());
    anim->setEndValue(target);
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

// ---- GalleryWindow -----------------------------------------------------------

GalleryWindow::GalleryWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Skills"));
    resize(kWidth, kHeight);
    setMinimumSize(kMinWidth, kMinHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    search_ = new QLineEdit;
    search_->setFrame(false);
    search_->setAttribute(Qt::WA_MacShowFocusRect, false);
    search_->setFont(Theme::font(12.5));
    search_->setPlaceholderText(QStringLiteral("Search \u2014 GSTR-1, ITR, payroll\u2026"));
    search_->setAccessibleName(QStringLiteral("Search skills"));
    connect(search_, &QLineEdit::textChanged, this, [this] { layoutCards(); });

    catStack_ = new QWidget;
    catLayout_ = new QHBoxLayout(catStack_);
    catLayout_->setContentsMargins(0, 0, 0, 0);
    catLayout_->setSpacing(6);
    catScroll_ = new QScrollArea;
    catScroll_->setFrameShape(QFrame::NoFrame);
    catScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    catScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    catScroll_->setWidgetResizable(false);
    auto *catDoc = new FlippedView;
    catStack_->setParent(catDoc);
    catScroll_->setWidget(catDoc);

    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setWidgetResizable(false);
    doc_ = new FlippedView;
    scroll_->setWidget(doc_);
    scroll_->viewport()->installEventFilter(this);

    empty_ = new QLabel;
    empty_->setWordWrap(true);
    empty_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    build();
    QPointer<GalleryWindow> self(this);
    watch_ = std::make_unique<PanelThemeWatch>(this, [self] {
        if (self)
            self->repaint();
    });
    reload();
}

GalleryWindow::~GalleryWindow() = default;

bool GalleryWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        // Re-laid after the resize has settled, so the grid reads the new width;
        // a burst of resizes queues one layout.
        if (!layoutQueued_) {
            layoutQueued_ = true;
            QPointer<GalleryWindow> self(this);
            Dispatch::onMain([self] {
                if (!self)
                    return;
                self->layoutQueued_ = false;
                self->layoutCards();
            });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void GalleryWindow::build()
{
    PanelKit::prepare(this);
    const int W = std::max(width() > 0 ? width() : kWidth, kMinWidth);
    const int H = std::max(height() > 0 ? height() : kHeight, kMinHeight);
    QWidget *old = root_;
    QWidget *root = PanelKit::root(QSize(W, H));
    std::vector<Anchor> anchors;
    const bool dark = Theme::isDark();

    QLabel *title = PanelKit::title(QStringLiteral("What Velto can do"));
    title->setParent(root);
    anchors.push_back({title, fromBottom(H, 28, H - 52, W - 330, 28), 0, 0, 1, 0});
    QLabel *subtitle = PanelKit::subtitle(
        QStringLiteral("Pick the job. Velto asks only what it cannot find itself, then does the work \u2014 you step in "
                       "for OTPs, captchas and the final click."));
    subtitle->setParent(root);
    anchors.push_back({subtitle, fromBottom(H, 28, H - 74, W - 56, 18), 0, 0, 1, 0});

    // The search box draws its own magnifier.
    auto *box = new QWidget(root);
    ViewLayer *boxLayer = ViewLayer::of(box);
    boxLayer->background = Theme::surface2();
    boxLayer->cornerRadius = 12;
    boxLayer->borderWidth = 1;
    boxLayer->borderColor = Theme::line2();
    boxLayer->apply();
    anchors.push_back({box, fromBottom(H, W - 288, H - 54, 260, 32), 1, 0, 0, 0});
    auto *glass = new QLabel(box);
    glass->setPixmap(Symbols::image(QStringLiteral("magnifyingglass"), 12, QFont::Medium, Theme::muted(),
                                    devicePixelRatioF()));
    glass->setAlignment(Qt::AlignCenter);
    glass->setGeometry(fromBottom(32, 10, 8, 16, 16));
    search_->setParent(box);
    search_->setGeometry(fromBottom(32, 30, 5, 224, 22));
    search_->setStyleSheet(QStringLiteral("QLineEdit{background:transparent;border:none;color:%1}")
                               .arg(Theme::qss(Theme::ink())));
    QPalette pal = search_->palette();
    pal.setColor(QPalette::PlaceholderText, Theme::muted());
    pal.setColor(QPalette::Text, Theme::ink());
    search_->setPalette(pal);

    // The category bar: a glassy pill holding the chips, which scroll sideways.
    const QRect barFrame = fromBottom(H, 24, H - 132, W - 48, 44);
    auto *bar = new QWidget(root);
    ViewLayer *barLayer = ViewLayer::of(bar);
    barLayer->background = Theme::glass();
    barLayer->cornerRadius = 22;
    barLayer->borderWidth = 1;
    barLayer->borderColor = Theme::glassEdge();
    barLayer->apply();
    setShadow(bar, withAlpha(Qt::black, dark ? 0.35 : 0.06), 10, QPointF(0, 3));
    anchors.push_back({bar, barFrame, 0, 0, 1, 0});
    auto *sheen = new QWidget(bar);
    ViewLayer *sheenLayer = ViewLayer::of(sheen);
    sheenLayer->background = withAlpha(Theme::surface(), dark ? 0.25 : 0.5);
    sheenLayer->cornerRadius = 22;
    sheenLayer->apply();
    catScroll_->setParent(bar);
    catScroll_->setStyleSheet(QStringLiteral("QScrollArea{background:transparent}"));
    catScroll_->viewport()->setAutoFillBackground(false);
    catScroll_->widget()->setAutoFillBackground(false);
    PanelKit::anchorChildren(bar, barFrame.size(),
                             {{sheen, QRect(QPoint(0, 0), barFrame.size()), 0, 0, 1, 1},
                              {catScroll_, QRect(7, 0, barFrame.width() - 14, 44), 0, 0, 1, 0}});

    scroll_->setParent(root);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea{background:transparent}"));
    scroll_->viewport()->setAutoFillBackground(false);
    doc_->setAutoFillBackground(false);
    anchors.push_back({scroll_, fromBottom(H, 24, 0, W - 48, H - 146), 0, 0, 1, 1});

    empty_->setParent(root);
    empty_->setFont(Theme::font(13));
    PanelKit::setTextColor(empty_, Theme::muted());
    anchors.push_back({empty_, fromBottom(H, 60, H - 240, W - 120, 60), 0, 0, 1, 0});

    PanelKit::anchorChildren(root, QSize(W, H), anchors);
    for (QObject *o : root->children())
        if (auto *w = qobject_cast<QWidget *>(o))
            w->show();
    for (QWidget *w : {static_cast<QWidget *>(sheen), static_cast<QWidget *>(catScroll_),
                       static_cast<QWidget *>(glass), static_cast<QWidget *>(search_)})
        w->show();
    sheen->lower();
    PanelKit::replaceRoot(this, old, root);
    root_ = root;
}

QList<QPushButton *> GalleryWindow::chips() const
{
    QList<QPushButton *> out;
    for (int i = 0; i < catLayout_->count(); ++i)
        if (auto *b = qobject_cast<QPushButton *>(catLayout_->itemAt(i)->widget()))
            out << b;
    return out;
}

void GalleryWindow::buildCategories()
{
    // A chip may be the sender of the click being handled: it goes later.
    while (QLayoutItem *item = catLayout_->takeAt(0)) {
        if (QWidget *w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    QList<Catalog::Category> entries{{QString(), QStringLiteral("All")}};
    entries += catalog_.categories;
    for (int i = 0; i < entries.size(); ++i) {
        const QString &id = entries[i].first;
        const QString &title = entries[i].second;
        const qsizetype count =
            id.isEmpty() ? catalog_.cards.size()
                         : std::count_if(catalog_.cards.cbegin(), catalog_.cards.cend(),
                                         [&](const CatalogCard &c) { return c.category == id; });
        if (!id.isEmpty() && count == 0)
            continue;
        const QString shown = title + QStringLiteral("  ") + QString::number(count);
        auto *chip = new QPushButton(PanelKit::asWritten(shown), catStack_);
        chip->setProperty("tag", i);
        chip->setFont(Theme::font(12.5));
        Theme::chip(chip, id == category_);
        chip->setFont(Theme::font(12.5, id == category_ ? QFont::Medium : QFont::Normal));
        chip->setAccessibleName(title + QStringLiteral(", ") + QString::number(count) + QStringLiteral(" skills"));
        chip->setFixedSize(int(std::ceil(QFontMetricsF(chip->font()).horizontalAdvance(shown))) + 28, 30);
        connect(chip, &QPushButton::clicked, this, [this, i] { pickCategory(i); });
        catLayout_->addWidget(chip);
        chip->show(); // a layout leaves hidden widgets out of its size
    }
    catLayout_->activate();
    const QSize fit = catStack_->sizeHint();
    catStack_->setGeometry(0, (44 - fit.height()) / 2, fit.width(), fit.height());
    catScroll_->widget()->resize(std::max(catScroll_->viewport()->width(), fit.width()), 44);
}

void GalleryWindow::pickCategory(int tag)
{
    QList<Catalog::Category> entries{{QString(), QStringLiteral("All")}};
    entries += catalog_.categories;
    category_ = tag >= 0 && tag < entries.size() ? entries[tag].first : QString();
    const int position = catScroll_->horizontalScrollBar()->value();
    buildCategories();
    catScroll_->horizontalScrollBar()->setValue(position);
    layoutCards();
}

QList<CatalogCard> GalleryWindow::shown() const
{
    const QString query = Characters::trimSpacesTabs(search_->text().toLower());
    QList<CatalogCard> out;
    for (const CatalogCard &c : catalog_.cards) {
        if (!category_.isEmpty() && c.category != category_)
            continue;
        if (!query.isEmpty() &&
            !(c.title + u' ' + c.blurb + u' ' + c.skill).toLower().contains(query))
            continue;
        out << c;
    }
    return out;
}

int GalleryWindow::columnsFor(double contentWidth)
{
    const double w = std::max(contentWidth - 4, 400.0);
    return w > 860 ? 3 : (w > 560 ? 2 : 1);
}

void GalleryWindow::layoutCards()
{
    for (QWidget *child : doc_->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        delete child;
    const QList<CatalogCard> cards = shown();
    empty_->setText(catalog_.cards.isEmpty() ? kNoCatalog : (cards.isEmpty() ? kNothingMatches : QString()));
    empty_->setVisible(!empty_->text().isEmpty());

    const double W = std::max(double(scroll_->viewport()->width()) - 4, 400.0);
    const int columns = columnsFor(scroll_->viewport()->width());
    const double c = (W - kGap * (columns - 1)) / columns;
    double y = 10;
    QString remembered;
    for (int i = 0; i < cards.size(); ++i) {
        const CatalogCard &card = cards[i];
        const int k = i % columns;
        if (category_.isEmpty() && k == 0 && card.category != remembered) {
            QString heading = card.category;
            for (const auto &[id, title] : catalog_.categories)
                if (id == card.category) {
                    heading = title;
                    break;
                }
            const int g = remembered.isEmpty() ? 2 : 10;
            QLabel *section = PanelKit::section(heading);
            section->setParent(doc_);
            section->setGeometry(4, int(y) + g, 400, 14);
            section->show();
            y += remembered.isEmpty() ? 26 : 34;
        }
        if (k == 0)
            remembered = card.category;
        auto *host = new SkillTileHost(QRect(int(std::round((c + kGap) * k)), int(y), int(c), kTileHeight), doc_);
        fillTile(host, card, i, int(c));
        host->show();
        if (k == columns - 1 || i == cards.size() - 1)
            y += kTileHeight + kGap;
    }
    doc_->resize(int(W), std::max(scroll_->viewport()->height(), int(y) + 16));
}

void GalleryWindow::fillTile(SkillTileHost *host, const CatalogCard &card, int index, int c)
{
    FlippedView *tile = host->tile();
    auto *badge = new QWidget(tile);
    badge->setGeometry(18, 18, 40, 40);
    ViewLayer *badgeLayer = ViewLayer::of(badge);
    badgeLayer->background = Theme::selected();
    badgeLayer->cornerRadius = 12;
    badgeLayer->apply();
    auto *icon = new QLabel(badge);
    icon->setGeometry(9, 9, 22, 22);
    icon->setAlignment(Qt::AlignCenter);
    const QPixmap image =
        Symbols::image(symbolFor(card.category), 17, QFont::Medium, Theme::royal(), devicePixelRatioF());
    icon->setPixmap(image.scaled(QSize(22, 22) * image.devicePixelRatio(), Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation));
    icon->setObjectName(QStringLiteral("symbol:") + symbolFor(card.category));

    QLabel *title = PanelKit::label(QString(), 15, QFont::Bold, Theme::ink(), -0.2);
    title->setParent(tile);
    title->setGeometry(18, 68, c - 36, 20);
    title->setText(title->fontMetrics().elidedText(card.title, Qt::ElideRight, c - 36));
    title->setAccessibleName(card.title);

    QLabel *blurb = PanelKit::label(QString(), 12, Theme::ink2());
    blurb->setParent(tile);
    blurb->setWordWrap(true);
    blurb->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    blurb->setGeometry(18, 90, c - 36, 34);
    blurb->setText(twoLines(card.blurb, blurb->font(), c - 36));

    QLabel *skill = PanelKit::label(QString(), 11, Theme::muted());
    skill->setFont(Theme::mono(11));
    skill->setParent(tile);
    skill->setGeometry(18, 134, c - 116, 14);
    skill->setText(skill->fontMetrics().elidedText(card.skill, Qt::ElideRight, std::max(0, c - 116)));

    auto *start = new QPushButton(QStringLiteral("Start"), tile);
    start->setGeometry(c - 90, 124, 72, 28);
    Theme::primaryButton(start);
    start->setProperty("tag", index);
    start->setAccessibleName(QStringLiteral("Start ") + card.title);
    connect(start, &QPushButton::clicked, this, [this, index] { startCard(index); });
}

void GalleryWindow::reload()
{
    catalog_ = Catalog::load();
    if (!category_.isEmpty() &&
        std::none_of(catalog_.categories.cbegin(), catalog_.categories.cend(),
                     [&](const Catalog::Category &c) { return c.first == category_; }))
        category_.clear();
    buildCategories();
    layoutCards();

    QPointer<GalleryWindow> self(this);
    ErpConnect::clients([self](const QList<QJsonObject> &list, const std::optional<QString> &) {
        if (!self)
            return;
        QStringList names;
        for (const QJsonObject &client : list) {
            const QJsonValue name = client.value(QStringLiteral("company_name"));
            if (name.isString())
                names << name.toString();
        }
        for (const ErpConnection &c : ErpVault::all())
            names << c.company;
        names.removeDuplicates();
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(names.begin(), names.end(),
                         [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
        self->clientNames_ = names;
    });
}

void GalleryWindow::repaint()
{
    build();
    buildCategories();
    layoutCards();
}

QString GalleryWindow::completion(const QStringList &names, const QString &typed)
{
    const QString lower = typed.toLower();
    for (const QString &name : names)
        if (name.toLower().startsWith(lower))
            return name;
    return QString();
}

std::optional<QMap<QString, QString>> GalleryWindow::defaultAskFields(const Form &form)
{
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(form.title);
    PanelKit::prepare(&dialog);
    auto *layout = new QVBoxLayout(&dialog);
    QLabel *title = PanelKit::label(form.title, 13, QFont::Bold, Theme::ink());
    layout->addWidget(title);
    if (!form.blurb.isEmpty()) {
        QLabel *blurb = PanelKit::label(form.blurb, 11.5, Theme::ink2());
        blurb->setWordWrap(true);
        blurb->setFixedWidth(320);
        layout->addWidget(blurb);
    }
    auto *stack = new QWidget;
    auto *stackLayout = new QVBoxLayout(stack);
    stackLayout->setContentsMargins(0, 6, 0, 0);
    stackLayout->setSpacing(6);
    QList<std::pair<QString, std::function<QString()>>> readers;
    QWidget *first = nullptr;
    for (const FormInput &in : form.inputs) {
        stackLayout->addWidget(PanelKit::label(in.label, 11, QFont::DemiBold, Theme::ink()));
        QWidget *input = nullptr;
        if (in.kind == FormInput::Kind::Client) {
            auto *combo = new QComboBox;
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->addItems(form.clientNames);
            auto *completer = new QCompleter(form.clientNames, combo);
            completer->setCaseSensitivity(Qt::CaseInsensitive);
            completer->setCompletionMode(QCompleter::InlineCompletion);
            combo->setCompleter(completer);
            combo->setEditText(in.initial);
            combo->lineEdit()->setPlaceholderText(in.placeholder);
            combo->setFixedSize(320, 24);
            readers.append({in.id, [combo] { return combo->currentText(); }});
            input = combo;
        } else {
            auto *field = new QLineEdit(in.initial);
            field->setPlaceholderText(in.placeholder);
            field->setFixedSize(320, in.kind == FormInput::Kind::Details ? 48 : 24);
            readers.append({in.id, [field] { return field->text(); }});
            input = field;
        }
        stackLayout->addWidget(input);
        if (!first)
            first = input;
    }
    layout->addWidget(stack);
    auto *buttons = new QDialogButtonBox;
    QPushButton *start = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    start->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (first)
        first->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QMap<QString, QString> values;
    for (const auto &[id, read] : readers)
        values.insert(id, read());
    return values;
}

void GalleryWindow::startCard(int tag)
{
    const QList<CatalogCard> cards = shown();
    if (tag < 0 || tag >= cards.size())
        return;
    const CatalogCard card = cards[tag];
    QMap<QString, QString> values;
    if (!card.fields.isEmpty()) {
        Form form{card.title, card.blurb, {}, clientNames_};
        const QDateTime now = QDateTime::currentDateTime();
        for (const QString &id : card.fields) {
            const CatalogField field =
                catalog_.fields.value(id, CatalogField{id, Catalog::capitalised(id), QString(), QString()});
            FormInput in{id, field.label, field.placeholder, Catalog::defaultValue(field.defaultRule, now)};
            if (id == QStringLiteral("client"))
                in.kind = FormInput::Kind::Client;
            else if (id == QStringLiteral("details"))
                in.kind = FormInput::Kind::Details;
            form.inputs << in;
        }
        std::optional<QMap<QString, QString>> answer;
        {
            Modal::Scope modal;
            answer = askFields(form);
        }
        if (!answer)
            return;
        values = *answer;
    }
    if (onStart)
        onStart(Catalog::message(card, values));
    hide();
}

void GalleryWindow::demoType(const QString &text)
{
    search_->blockSignals(true);
    search_->clear();
    search_->blockSignals(false);
    const qsizetype n = SkillText::characterCount(text);
    QPointer<GalleryWindow> self(this);
    for (qsizetype k = 0; k < n; ++k)
        Dispatch::after(0.07 * double(k), [self, text, k] {
            if (!self)
                return;
            self->search_->blockSignals(true);
            self->search_->setText(Characters::left(text, int(k + 1)));
            self->search_->blockSignals(false);
            self->layoutCards();
        });
}
