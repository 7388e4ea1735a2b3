// The panel builders, the status tone and field, the row drawing and the
// theme watch.
#include "ui/PanelKit.h"
#include "platform/Dialogs.h"
#include "ui/Theme.h"
#include "ui/ViewLayer.h"
#include "support/TestKit.h"
#include "UiTestKit.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

using namespace UiTestKit;

namespace {
class PanelKitTest : public UiTest {};

enum class Ink { Muted, Failure, Success, Waiting };

QColor inkColor(Ink ink)
{
    switch (ink) {
    case Ink::Failure: return Theme::stampInk();
    case Ink::Success: return Theme::sealInk();
    case Ink::Waiting: return Theme::amberInk();
    case Ink::Muted: break;
    }
    return Theme::muted();
}
} // namespace

TEST_F(PanelKitTest, ToneFollowsTheWordsFailureBeforeSuccessBeforeWaiting)
{
    const struct {
        const char *text;
        Ink ink;
    } cases[] = {
        {"", Ink::Muted},
        {"Two logins on file", Ink::Muted},
        {"Could not reach the portal", Ink::Failure},
        {"The code has EXPIRED", Ink::Failure},
        {"You are not signed in", Ink::Failure}, // also holds "signed in"
        {"Disconnected", Ink::Success},          // holds "connected"
        {"Saved. No password for this one", Ink::Success},
        {"No password for this one", Ink::Waiting},
        {"Opening the portal", Ink::Waiting},
        {"Opened the portal", Ink::Success},
        {"Signed in as ca@firm.in", Ink::Success},
        {"Working\u2026", Ink::Waiting},
        {"Pick a client", Ink::Waiting},
        {"Picked", Ink::Muted}, // "pick " needs its space
        {"Quit and open again", Ink::Waiting},
        {"The PAN must be ten characters", Ink::Failure},
    };
    for (bool dark : {false, true}) {
        scheme(dark);
        for (const auto &c : cases)
            EXPECT_EQ(PanelKit::tone(QString::fromUtf8(c.text)), inkColor(c.ink)) << c.text << " dark " << dark;
    }
    // The inks themselves: fixed darker colours by day, the base tokens by night.
    scheme(false);
    EXPECT_EQ(Theme::css(PanelKit::tone("failed")), "#C22A40");
    scheme(true);
    EXPECT_EQ(PanelKit::tone("failed"), Theme::stamp());
    EXPECT_EQ(PanelKit::tone("sent"), Theme::seal());
    EXPECT_EQ(PanelKit::tone("pending"), Theme::amber());
}

TEST_F(PanelKitTest, StatusFieldColoursItselfByItsText)
{
    scheme(false);
    PanelStatusField field;
    EXPECT_EQ(field.stringValue(), QString());
    EXPECT_EQ(field.palette().color(QPalette::WindowText), Theme::muted());
    field.setStringValue(QStringLiteral("Saved the login."));
    EXPECT_EQ(field.stringValue(), QStringLiteral("Saved the login."));
    EXPECT_EQ(field.palette().color(QPalette::WindowText), Theme::sealInk());
    field.setText(QStringLiteral("Login failed"));
    EXPECT_EQ(field.palette().color(QPalette::WindowText), Theme::stampInk());
    field.setStringValue(QString());
    EXPECT_EQ(field.palette().color(QPalette::WindowText), Theme::muted());
    // Text is shown as written, never as markup.
    field.setStringValue(QStringLiteral("<b>sent</b>"));
    EXPECT_EQ(field.textFormat(), Qt::PlainText);
}

TEST_F(PanelKitTest, BarFillsItsFractionInTheColourOfItsLevel)
{
    scheme(false);
    const struct {
        double fraction;
        int width;      // of a 200 pt track
        QColor end;
        bool fadedStart;
    } cases[] = {
        {0.5, 100, Theme::royal(), false},
        {0.8, 160, Theme::amber(), true},
        {0.95, 190, Theme::stamp(), true},
        {1.7, 200, Theme::stamp(), true},
        {-0.3, 0, Theme::royal(), false},
        {std::nan(""), 200, Theme::stamp(), true},
    };
    for (const auto &c : cases) {
        std::unique_ptr<QWidget> track(PanelKit::bar(200, c.fraction));
        EXPECT_EQ(track->size(), QSize(200, 5));
        EXPECT_EQ(ViewLayer::find(track.get())->background.color(), Theme::bg2());
        auto *fill = track->findChild<QWidget *>(QStringLiteral("fill"));
        ASSERT_NE(fill, nullptr);
        EXPECT_EQ(fill->width(), c.width) << c.fraction;
        const QGradientStops stops = ViewLayer::find(fill)->background.gradient()->stops();
        ASSERT_EQ(stops.size(), 2);
        EXPECT_EQ(stops[1].second, c.end) << c.fraction;
        QColor start = c.end;
        start.setAlphaF(0.75f);
        EXPECT_EQ(stops[0].second, c.fadedStart ? start : QColor(124, 155, 255)) << c.fraction;
        if (c.width > 10) {
            const QImage img = grab(track.get());
            EXPECT_TRUE(near(img.pixelColor(c.width - 4, 2), c.end, 30)) << c.fraction;
        }
    }
    std::unique_ptr<QWidget> tall(PanelKit::bar(100, 8, 0.5));
    EXPECT_EQ(tall->size(), QSize(100, 8));
}

TEST_F(PanelKitTest, InputBoxesTheFieldAndKeepsItCentred)
{
    scheme(false);
    QWidget parent, old;
    auto *edit = new QLineEdit(&old);
    QWidget *box = PanelKit::input(edit, QRect(10, 20, 240, 30), &parent);
    EXPECT_EQ(box->parentWidget(), &parent);
    EXPECT_EQ(box->geometry(), QRect(10, 20, 240, 30));
    EXPECT_EQ(edit->parentWidget(), box);
    EXPECT_FALSE(edit->hasFrame());
    ViewLayer *l = ViewLayer::find(box);
    EXPECT_EQ(l->background.color(), Theme::surface2());
    EXPECT_EQ(l->cornerRadius, 10);
    EXPECT_EQ(l->borderColor, Theme::line2());
    EXPECT_DOUBLE_EQ(Theme::fontSize(edit->font()), 12.5);
    EXPECT_EQ(edit->palette().color(QPalette::Text), Theme::ink());

    const int h = int(std::ceil(QFontMetricsF(edit->font()).height())) + 2;
    EXPECT_EQ(edit->geometry(), QRect(9, (30 - h) / 2, 222, h));
    parent.show();
    box->resize(300, 30);
    EXPECT_EQ(edit->width(), 282) << "the field follows the box's width";

    // A box lower than the text leaves the field at the top.
    auto *low = new QLineEdit;
    PanelKit::input(low, QRect(0, 0, 100, 8), &parent, Theme::mono(14));
    EXPECT_EQ(low->y(), 0);
    EXPECT_EQ(low->font(), Theme::mono(14));

    auto *combo = new QComboBox;
    PanelKit::input(combo, QRect(0, 40, 120, 30), &parent);
    EXPECT_FALSE(combo->hasFrame());
    // Its pop-up list is a window: opaque colours, a light mark in the light theme.
    const QPalette list = combo->view()->palette();
    EXPECT_EQ(list.color(QPalette::Base), Theme::panel());
    EXPECT_EQ(list.color(QPalette::Highlight).alpha(), 255);
    EXPECT_GT(list.color(QPalette::Highlight).lightnessF(), 0.8);
}

TEST_F(PanelKitTest, TextAreaAndListCardWrapTheirViews)
{
    scheme(true);
    QWidget parent;
    auto *text = new QPlainTextEdit;
    QWidget *area = PanelKit::textArea(text, QRect(0, 0, 200, 100), &parent, Theme::mono(12));
    EXPECT_EQ(text->parentWidget(), area);
    EXPECT_EQ(text->geometry(), QRect(1, 4, 198, 92));
    EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(text->palette().color(QPalette::Highlight), Theme::selected());
    EXPECT_EQ(ViewLayer::find(area)->background.color(), Theme::surface2());

    auto *table = new QTableWidget(3, 1);
    QWidget *card = PanelKit::listCard(table, QRect(0, 110, 220, 150), &parent);
    EXPECT_EQ(table->parentWidget(), card);
    EXPECT_EQ(table->geometry(), QRect(1, 6, 218, 138));
    EXPECT_FALSE(table->horizontalHeader()->isVisibleTo(card));
    EXPECT_FALSE(table->showGrid());
    EXPECT_NE(qobject_cast<PanelRowView *>(table->itemDelegate()), nullptr);
    EXPECT_EQ(ViewLayer::find(card)->cornerRadius, 14);
    EXPECT_EQ(ViewLayer::find(card)->background.color(), Theme::panel());

    // A table that draws its own cells keeps its delegate.
    auto *own = new QTableView;
    struct Custom : QStyledItemDelegate {};
    auto *custom = new Custom;
    custom->setParent(own);
    own->setItemDelegate(custom);
    PanelKit::listCard(own, QRect(0, 0, 100, 100), &parent);
    EXPECT_EQ(own->itemDelegate(), custom);
}

// How far apart two colours look: the largest channel difference.
static int apart(const QColor &a, const QColor &b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

TEST_F(PanelKitTest, ScrollBarsAndCheckBoxesShowInBothThemes)
{
    for (bool dark : {false, true}) {
        scheme(dark);
        QWidget parent;
        backdrop(parent, Theme::bg(), QSize(300, 260));
        auto *text = new QPlainTextEdit;
        QWidget *area = PanelKit::textArea(text, QRect(10, 10, 260, 160), &parent, Theme::mono(12));
        QStringList lines;
        for (int i = 0; i < 200; ++i)
            lines << QStringLiteral("line %1").arg(i);
        text->setPlainText(lines.join(u'\n'));
        auto *box = new QCheckBox(QStringLiteral("enabled"), &parent);
        box->setGeometry(10, 200, 120, 24);
        PanelKit::setTextColor(box, Theme::ink());
        PanelKit::checkBox(box);
        parent.show();
        QCoreApplication::sendPostedEvents();
        ASSERT_TRUE(text->verticalScrollBar()->isVisible());

        // The scroll bar's track, below its handle, is the box's own colour:
        // no dark bar down the box's edge.
        const QImage shot = grab(area);
        const QColor track = shot.pixelColor(area->width() - 6, area->height() - 24);
        EXPECT_TRUE(near(track, Theme::surface2(), 10)) << (dark ? "dark " : "light ") << track.name().toStdString();
        EXPECT_TRUE(near(shot.pixelColor(area->width() - 3, 3), Theme::bg(), 40)) << "the corner stays round";

        // An unchecked box stands out from what it sits on.
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage unchecked = grab(box);
        int strongest = 0;
        for (int y = indicator.top(); y <= indicator.bottom(); ++y)
            for (int x = indicator.left(); x <= indicator.right(); ++x)
                strongest = std::max(strongest, apart(unchecked.pixelColor(x, y), Theme::bg()));
        EXPECT_GT(strongest, 70) << (dark ? "dark" : "light");
        box->setChecked(true);
        const QImage checked = grab(box);
        EXPECT_TRUE(near(checked.pixelColor(indicator.left() + 3, indicator.top() + 3), Theme::royal(), 30));
    }
}

TEST_F(PanelKitTest, DressedDialogsWearTheThemeAndPillButtons)
{
    for (bool dark : {false, true}) {
        scheme(dark);
        QMessageBox box;
        box.setText(QStringLiteral("Velto 1.3.0 is available"));
        box.setInformativeText(QStringLiteral("You are on 1.2.0."));
        QPushButton *update = box.addButton(QStringLiteral("Update now"), QMessageBox::AcceptRole);
        QPushButton *later = box.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        box.setDefaultButton(update);
        auto *detail = new QPlainTextEdit(&box);
        detail->setObjectName(QStringLiteral("detail"));
        PanelKit::dressDialog(&box);
        EXPECT_EQ(box.palette().color(QPalette::Window), Theme::bg());
        EXPECT_EQ(update->property("veltoStyle"), "primary");
        EXPECT_EQ(later->property("veltoStyle"), "secondary");
        EXPECT_GE(update->minimumHeight(), 32);
        EXPECT_EQ(detail->palette().color(QPalette::Base), Theme::field());
        EXPECT_EQ(detail->palette().color(QPalette::Text), Theme::ink());
        auto *headline = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(headline, nullptr);
        EXPECT_EQ(headline->palette().color(QPalette::WindowText), Theme::ink());
        EXPECT_EQ(headline->font().weight(), QFont::Bold);
    }
}

TEST_F(PanelKitTest, AFocusedComboBoxGainsNoDarkBar)
{
    scheme(false);
    QWidget parent;
    backdrop(parent, Theme::bg(), QSize(240, 60));
    auto *combo = new QComboBox;
    combo->addItems({QStringLiteral("GST"), QStringLiteral("Income tax")});
    QWidget *box = PanelKit::input(combo, QRect(10, 10, 200, 30), &parent);
    parent.show();
    QApplication::setActiveWindow(&parent);
    auto darkPixels = [&] {
        const QImage shot = grab(box);
        int dark = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                dark += shot.pixelColor(x, y).lightnessF() < 0.35 ? 1 : 0;
        return dark;
    };
    combo->clearFocus();
    const int plain = darkPixels();
    combo->setFocus();
    ASSERT_TRUE(TestKit::waitFor([&] { return combo->hasFocus(); }, 5000));
    EXPECT_LE(darkPixels(), plain + 20) << "only the text is dark, focused or not";
}

TEST_F(PanelKitTest, AConfirmWithItsExactDataIsDressedAndWrapsInBothThemes)
{
    // The install dialog's shape: a warning, then the file to install in the
    // exact-data box, its long lines wrapped.
    const QString data = QStringLiteral("---\nname: gst-reco\n---\nVelto will follow these instructions in client "
                                        "work, so install only from a source you trust. Match the purchase register "
                                        "against GSTR-2B and list every difference by supplier and invoice.\n");
    Dialogs::Hooks::confirm = &Dialogs::Hooks::defaultConfirm;
    Dialogs::Hooks::dress = &PanelKit::dressDialog;
    const QString shot = qEnvironmentVariable("VELTO_DEMO_SHOT");
    for (bool dark : {false, true}) {
        scheme(dark);
        bool checked = false;
        const auto poll = TestKit::whenMessageBoxShows([&](QMessageBox *box) {
            auto *view = box->findChild<QPlainTextEdit *>(QStringLiteral("detail"));
            EXPECT_NE(view, nullptr);
            if (view) {
                EXPECT_EQ(box->palette().color(QPalette::Window), Theme::bg());
                EXPECT_EQ(view->palette().color(QPalette::Base), Theme::field());
                EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
                EXPECT_GT(view->document()->findBlockByNumber(3).layout()->lineCount(), 1);
                for (QAbstractButton *b : box->buttons())
                    EXPECT_TRUE(b->styleSheet().contains(QStringLiteral("border-radius:%1px").arg(b->height() / 2.0)))
                        << b->text().toStdString() << " is a pill";
                if (!shot.isEmpty())
                    box->grab().save(QFileInfo(shot).path() + QStringLiteral("/confirm-") +
                                     (dark ? QStringLiteral("dark.png") : QStringLiteral("light.png")));
                checked = true;
            }
            for (QAbstractButton *b : box->buttons())
                if (TestKit::shown(b->text()) == QLatin1String("Cancel"))
                    b->click();
        });
        const bool yes = Dialogs::confirm(Dialogs::Confirm{QStringLiteral("Install the skill \u201cgst-reco\u201d?"),
                                                           QStringLiteral("Read what it tells Velto to do."),
                                                           QStringLiteral("Install"), QStringLiteral("Cancel"),
                                                           Dialogs::Style::Warning, data});
        EXPECT_TRUE(checked);
        EXPECT_FALSE(yes);
    }
    Dialogs::Hooks::dress = nullptr;
    TestKit::installFailingDialogs();
}

TEST_F(PanelKitTest, RowsDrawTheirSelectionAndSeparator)
{
    scheme(false);
    QWidget parent;
    parent.resize(240, 140);
    PanelKit::prepare(&parent);
    auto *table = new QTableWidget(3, 1);
    table->verticalHeader()->setDefaultSectionSize(30);
    for (int i = 0; i < 3; ++i)
        table->setItem(i, 0, new QTableWidgetItem(QString()));
    QWidget *card = PanelKit::listCard(table, QRect(0, 0, 240, 140), &parent);
    table->selectRow(1);
    parent.show();
    TestKit::spin(20);
    const QImage img = grab(card);
    // Row 1 spans y 36..65 in the card (table at y 6); its selection is inset
    // by 6 across and 2 down.
    const QColor fill = composite(Theme::selected(), Theme::panel());
    EXPECT_TRUE(near(img.pixelColor(120, 50), fill, 4)) << "selected row";
    EXPECT_TRUE(near(img.pixelColor(120, 20), Theme::panel(), 4)) << "unselected row";
    EXPECT_TRUE(near(img.pixelColor(4, 50), Theme::panel(), 4)) << "outside the rounded selection";
    // The separator on the bottom line of row 0 (y 35), from x 13 (12 in the table).
    const QColor hair = composite(Theme::line(), Theme::panel());
    EXPECT_TRUE(near(img.pixelColor(120, 35), hair, 3));
    EXPECT_TRUE(near(img.pixelColor(8, 35), Theme::panel(), 3)) << "the separator starts at 12";
    EXPECT_FALSE(near(img.pixelColor(120, 35), Theme::panel(), 2)) << "the separator is drawn";
}

TEST_F(PanelKitTest, LabelsTakeTheirFontsAndColours)
{
    scheme(true);
    std::unique_ptr<QLabel> title(PanelKit::title(QStringLiteral("Portal logins")));
    EXPECT_EQ(title->font(), [] {
        QFont f = Theme::font(20, QFont::Bold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, -0.35);
        return f;
    }());
    EXPECT_EQ(title->palette().color(QPalette::WindowText), Theme::ink());
    EXPECT_EQ(title->textFormat(), Qt::PlainText);

    std::unique_ptr<QLabel> section(PanelKit::section(QStringLiteral("Saved logins")));
    EXPECT_EQ(section->text(), QStringLiteral("SAVED LOGINS"));
    EXPECT_EQ(section->palette().color(QPalette::WindowText), Theme::muted());

    std::unique_ptr<QLabel> wrap(PanelKit::subtitle(QStringLiteral("a"), true));
    EXPECT_TRUE(wrap->wordWrap());
    std::unique_ptr<QLabel> caption(PanelKit::caption(QStringLiteral("User id")));
    EXPECT_EQ(caption->palette().color(QPalette::WindowText), Theme::ink2());
    EXPECT_EQ(caption->font().weight(), Theme::font(11, QFont::Medium).weight());

    // A long title is cut at the tail but keeps its whole text.
    const QString longText = QStringLiteral("A very long title for a narrow panel that cannot hold it");
    std::unique_ptr<QLabel> cut(PanelKit::title(longText));
    cut->resize(80, 28);
    EXPECT_EQ(cut->text(), longText);
    EXPECT_LE(cut->minimumSizeHint().width(), 80);
}

TEST_F(PanelKitTest, SamplePanelPaintsInBothThemes)
{
    for (bool dark : {false, true}) {
        scheme(dark);
        QWidget window;
        window.resize(320, 200);
        PanelKit::prepare(&window);
        EXPECT_EQ(window.palette().color(QPalette::Window), Theme::bg());
        QWidget *root = PanelKit::root(QSize(320, 200));
        root->setParent(&window);
        QLabel *title = PanelKit::title(QStringLiteral("Usage"));
        title->setParent(root);
        title->setGeometry(20, 14, 200, 28);
        // A primary button inside a card: both carry shadows in light mode.
        auto *box = new QWidget(root);
        box->setGeometry(10, 140, 200, 50);
        Theme::card(box);
        auto *save = new QPushButton(QStringLiteral("Save"), box);
        save->setGeometry(10, 10, 90, 30);
        Theme::primaryButton(save);
        QWidget *line = PanelKit::hairline(QRect(20, 60, 280, 1));
        line->setParent(root);
        window.show();
        TestKit::spin(20);
        const QImage img = grab(&window);
        EXPECT_TRUE(near(img.pixelColor(300, 100), Theme::bg(), 1)) << "background, dark " << dark;
        EXPECT_TRUE(near(img.pixelColor(150, 60), composite(Theme::line(), Theme::bg()), 2));
        EXPECT_TRUE(near(img.pixelColor(26, 165), Theme::hex(0x3558E3), 14));
        EXPECT_TRUE(near(img.pixelColor(180, 165), Theme::panel(), 2)) << "the card";
        // Some of the title is drawn in ink.
        bool inked = false;
        for (int x = 20; x < 90 && !inked; ++x)
            for (int y = 14; y < 42 && !inked; ++y)
                inked = near(img.pixelColor(x, y), Theme::ink(), 40);
        EXPECT_TRUE(inked);
    }
}

TEST_F(PanelKitTest, ThemeWatchRepaintsOncePerChange)
{
    scheme(false);
    int repaints = 0;
    auto watch = std::make_unique<PanelThemeWatch>(nullptr, [&] { ++repaints; });
    EXPECT_FALSE(watch->painted());
    ThemeBroadcast::postThemeDidChange();
    ThemeBroadcast::postThemeDidChange();
    EXPECT_EQ(repaints, 0) << "no change, no repaint";

    // Light to dark: the broadcast and the desktop's change both arrive.
    Theme::setOverride(std::nullopt);
    desktopDark = true;
    ThemeBroadcast::postThemeDidChange();
    emit Appearance::shared()->colorSchemeChanged();
    EXPECT_TRUE(TestKit::waitFor([&] { return repaints >= 1; }, 20000));
    TestKit::spin(30);
    EXPECT_EQ(repaints, 1) << "one repaint for the two";
    EXPECT_TRUE(watch->painted());

    // The desktop's change alone is enough, and arrives through the main queue.
    desktopDark = false;
    emit Appearance::shared()->colorSchemeChanged();
    EXPECT_EQ(repaints, 1);
    EXPECT_TRUE(TestKit::waitFor([&] { return repaints == 2; }, 20000));

    // A released watch hears nothing.
    watch.reset();
    desktopDark = true;
    ThemeBroadcast::postThemeDidChange();
    emit Appearance::shared()->colorSchemeChanged();
    TestKit::spin(30);
    EXPECT_EQ(repaints, 2);
}

TEST_F(PanelKitTest, ThemeWatchChecksWhenItsWindowBecomesActive)
{
    scheme(false);
    QWidget panel, other, third;
    panel.resize(100, 100);
    other.resize(100, 100);
    third.resize(100, 100);
    int repaints = 0;
    PanelThemeWatch watch(&panel, [&] { ++repaints; });
    panel.show();
    other.show();
    other.activateWindow();
    ASSERT_TRUE(TestKit::waitFor([&] { return QGuiApplication::focusWindow() == other.windowHandle(); }, 20000));

    // The theme changed while the panel was in the background and missed the broadcast.
    scheme(true);
    third.show();
    third.activateWindow();
    ASSERT_TRUE(TestKit::waitFor([&] { return QGuiApplication::focusWindow() == third.windowHandle(); }, 20000));
    EXPECT_EQ(repaints, 0) << "another window becoming active does not concern this panel";
    panel.activateWindow();
    EXPECT_TRUE(TestKit::waitFor([&] { return repaints == 1; }, 20000));
}
