// The gallery window offscreen: the grid's columns and headings, the chips,
// the search, the client list, starting a card with and without its form,
// the demo typing and both looks.
#include "panels/PanelsTestKit.h"

#include "erp/ErpVault.h"
#include "platform/Appearance.h"
#include "skills/GalleryWindow.h"

#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>

using namespace PanelsTestKit;
using namespace TestKit;

namespace {

class GalleryWindowTest : public PanelTest {
protected:
    std::unique_ptr<GalleryWindow> window;
    decltype(GalleryWindow::askFields) savedAsk;
    std::vector<GalleryWindow::Form> forms;
    std::deque<std::optional<QMap<QString, QString>>> answers;
    QStringList started;

    void SetUp() override
    {
        PanelTest::SetUp();
        savedAsk = GalleryWindow::askFields;
        GalleryWindow::askFields = [this](const GalleryWindow::Form &form) {
            forms.push_back(form);
            EXPECT_FALSE(answers.empty()) << "an unexpected form";
            if (answers.empty())
                return std::optional<QMap<QString, QString>>();
            auto a = answers.front();
            answers.pop_front();
            return a;
        };
    }
    void TearDown() override
    {
        window.reset();
        GalleryWindow::askFields = savedAsk;
        PanelTest::TearDown();
    }

    void skill(const QString &name) const { home->write(".velto/hallix/skills/" + name + "/SKILL.md", "x"); }
    // Cards as (category, skill, title); every skill installed.
    void catalogue(const QList<std::array<QString, 3>> &cards, const QJsonArray &categories = {},
                   const QJsonObject &fields = {}, const QJsonObject &extra = {}) const
    {
        QJsonArray items;
        for (const auto &[category, skillName, title] : cards) {
            skill(skillName);
            QJsonObject item{{"category", category}, {"skill", skillName}, {"title", title},
                             {"blurb", "About " + title}, {"ask", "Do " + title}};
            const QJsonObject more = extra.value(title).toObject();
            for (auto f = more.begin(); f != more.end(); ++f)
                item.insert(f.key(), f.value());
            items.append(item);
        }
        home->write(".velto/hallix/skills/hallix-catalog/catalog.json",
                    QJsonDocument(QJsonObject{{"categories", categories}, {"fields", fields}, {"items", items}})
                        .toJson());
    }
    GalleryWindow &open(int width = 960, int height = 680)
    {
        window = std::make_unique<GalleryWindow>();
        window->onStart = [this](const QString &text) { started << text; };
        window->resize(width, height);
        window->show();
        settle();
        return *window;
    }
    // Waits until the grid has been laid out for the card area's width.
    void settle() const
    {
        spin(30);
        waitFor([&] { return window->cardArea()->width() >= window->scrollArea()->viewport()->width() - 4; }, 2000);
    }
    QList<SkillTileHost *> tiles() const
    {
        return window->cardArea()->findChildren<SkillTileHost *>(Qt::FindDirectChildrenOnly);
    }
    QList<QLabel *> headings() const
    {
        return window->cardArea()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    }
    QStringList chipTitles() const
    {
        QStringList out;
        for (QPushButton *b : window->chips())
            out << shown(b->text());
        return out;
    }
};

TEST(GalleryColumns, ByContentWidth)
{
    const std::vector<std::pair<double, int>> cases{{1000, 3}, {865, 3}, {864, 2}, {565, 2}, {564, 1}, {300, 1}};
    for (const auto &[width, columns] : cases)
        EXPECT_EQ(GalleryWindow::columnsFor(width), columns) << width;
}

TEST(GalleryCompletion, FirstNameInListOrderAnyCase)
{
    const QStringList names{"Ashok Traders", "asha textiles", "Bharat Steel"};
    EXPECT_EQ(GalleryWindow::completion(names, "as"), "Ashok Traders");
    EXPECT_EQ(GalleryWindow::completion(names, "ASHA"), "asha textiles");
    EXPECT_EQ(GalleryWindow::completion(names, "z"), "");
}

TEST_F(GalleryWindowTest, GridColumnsFollowTheWidth)
{
    catalogue({{"gst", "a", "A"}, {"gst", "b", "B"}, {"gst", "c", "C"}}, QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}});
    open(1048, 680); // a card area of 1000
    ASSERT_EQ(window->scrollArea()->viewport()->width(), 1000);
    QList<SkillTileHost *> t = tiles();
    ASSERT_EQ(t.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(t[k]->width(), 322);
        EXPECT_EQ(t[k]->height(), 164);
        EXPECT_NEAR(t[k]->x(), (322.67 + 14) * k, 1);
        EXPECT_EQ(t[k]->y(), 36);
    }

    window->resize(912, 680); // a card area of 864
    settle();
    t = tiles();
    ASSERT_EQ(t.size(), 3);
    EXPECT_EQ(t[0]->width(), 423);
    EXPECT_EQ(t[1]->x(), 437);
    EXPECT_EQ(t[2]->x(), 0);
    EXPECT_EQ(t[2]->y(), 36 + 178);
}

TEST_F(GalleryWindowTest, HeadingsStartRowsInTheAllView)
{
    catalogue({{"gst", "g1", "G1"}, {"gst", "g2", "G2"}, {"itr", "i1", "I1"}, {"itr", "i2", "I2"},
               {"odd", "o1", "O1"}, {"odd", "o2", "O2"}, {"odd", "o3", "O3"}, {"", "e1", "E1"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}, QJsonObject{{"id", "itr"}, {"title", "Income tax"}}});
    open(1048, 680);
    const QList<SkillTileHost *> t = tiles();
    ASSERT_EQ(t.size(), 8);
    // Row 1: gst, gst, itr under the GST heading; row 2: itr, odd, odd under
    // the Income tax heading; row 3: odd and the empty category under the raw id.
    const QList<QLabel *> h = headings();
    ASSERT_EQ(h.size(), 3);
    EXPECT_EQ(h[0]->text(), "GST");
    EXPECT_EQ(h[0]->geometry(), QRect(4, 12, 400, 14));
    EXPECT_EQ(h[1]->text(), "INCOME TAX");
    EXPECT_EQ(h[1]->y(), 36 + 178 + 10);
    EXPECT_EQ(h[2]->text(), "ODD");
    EXPECT_EQ(t[0]->y(), 36);
    EXPECT_EQ(t[2]->y(), 36);
    EXPECT_EQ(t[3]->y(), 36 + 178 + 34);
    EXPECT_EQ(t[6]->y(), 36 + 2 * (178 + 34));
    EXPECT_EQ(t[7]->y(), t[6]->y());

    // In a category's own view there are no headings.
    window->pickCategory(2);
    EXPECT_EQ(window->category(), "itr");
    EXPECT_TRUE(headings().isEmpty());
    EXPECT_EQ(tiles().size(), 2);
    EXPECT_EQ(tiles().at(0)->y(), 10);
}

TEST_F(GalleryWindowTest, AnEmptyCategoryAfterAnotherGetsAnEmptyHeading)
{
    catalogue({{"gst", "g1", "G1"}, {"gst", "g2", "G2"}, {"", "e1", "E1"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}});
    open(700 + 48, 680); // two columns
    const QList<QLabel *> h = headings();
    ASSERT_EQ(h.size(), 2);
    EXPECT_EQ(h[1]->text(), "");
    EXPECT_EQ(tiles().at(2)->y(), 36 + 178 + 34);
}

TEST_F(GalleryWindowTest, ChipsCountCardsAndFilter)
{
    catalogue({{"gst", "g1", "GSTR-1 monthly"}, {"gst", "g2", "Annual"}, {"tds", "t1", "TDS return"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}, QJsonObject{{"id", "mca"}, {"title", "MCA"}},
                         QJsonObject{{"id", "tds"}, {"title", "Audit & books"}}});
    GalleryWindow &w = open();
    // A title from the catalogue shows as written, "&" and all.
    EXPECT_EQ(chipTitles(), (QStringList{"All  3", "GST  2", "Audit & books  1"}));
    EXPECT_EQ(w.chips().at(1)->accessibleName(), "GST, 2 skills");
    EXPECT_EQ(w.chips().at(0)->property("veltoStyle"), "chip-on");

    w.chips().at(2)->click(); // TDS: index 3 in All + categories
    EXPECT_EQ(w.category(), "tds");
    EXPECT_EQ(w.chips().at(2)->property("veltoStyle"), "chip-on");
    EXPECT_EQ(tiles().size(), 1);
    w.pickCategory(99);
    EXPECT_EQ(w.category(), "");

    // A reload that loses the chosen category goes back to All.
    w.pickCategory(3);
    catalogue({{"gst", "g1", "GSTR-1 monthly"}}, QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}});
    w.reload();
    EXPECT_EQ(w.category(), "");
    EXPECT_EQ(chipTitles(), (QStringList{"All  1", "GST  1"}));
}

TEST_F(GalleryWindowTest, SearchAndEmptyTexts)
{
    GalleryWindow &w = open();
    EXPECT_EQ(w.emptyLabel()->text(), "The skills list has not arrived from Hallix yet. It comes with the next sync — "
                                      "quit and open Velto again.");
    EXPECT_FALSE(w.emptyLabel()->isHidden());

    catalogue({{"gst", "gst-returns", "Monthly filing"}, {"gst", "b2b", "GSTR-1 invoices"}, {"itr", "itr", "ITR"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}});
    w.reload();
    EXPECT_TRUE(w.emptyLabel()->isHidden());
    struct Case {
        QString query;
        int count;
    };
    for (const Case &c : std::vector<Case>{{"gstr", 1}, {"GST", 2}, {"about itr", 1}, {"   ", 3}, {"zzz", 0}}) {
        w.searchField()->setText(c.query);
        EXPECT_EQ(tiles().size(), c.count) << c.query.toStdString();
    }
    EXPECT_EQ(w.emptyLabel()->text(),
              "Nothing matches. Try another word, or ask Velto in the chat — it does more than these cards.");
}

TEST_F(GalleryWindowTest, ClientNamesFromTheCloudAndTheStoredConnections)
{
    seat("tok");
    cloud->on("GET", "/cli/clients",
              FakeReply::json(QJsonObject{{"clients", QJsonArray{QJsonObject{{"company_name", "zenith labs"}},
                                                                 QJsonObject{{"company_name", "Ashok Traders"}},
                                                                 QJsonObject{{"company_name", "ashok traders"}},
                                                                 QJsonObject{{"gstin", "no name"}},
                                                                 QJsonObject{{"company_name", "Bharat Steel"}}}}}));
    ASSERT_TRUE(ErpVault::upsert(ErpConnection{"ID1", 0, "Bharat Steel", "24AAQFK5512M1Z8", "https://erp.example.in",
                                               "Bharat", "24AAQFK5512M1Z8", "o@example.in", {"read"}, 0, 0},
                                 "tok-1"));
    ASSERT_TRUE(ErpVault::upsert(ErpConnection{"ID2", 0, "Chirag & Co", "27AAAAA0000A1Z5", "https://erp.example.in",
                                               "Chirag", "27AAAAA0000A1Z5", "o@example.in", {"read"}, 0, 0},
                                 "tok-2"));
    GalleryWindow &w = open();
    ASSERT_TRUE(waitFor([&] { return !w.clientNames().isEmpty(); }));
    EXPECT_EQ(w.clientNames(), (QStringList{"Ashok Traders", "ashok traders", "Bharat Steel", "Chirag & Co", "zenith labs"}));
    EXPECT_EQ(cloud->requestsTo("/cli/clients").at(0).header("authorization"), "Bearer tok");

    // Not signed in: only the stored connections.
    QFile::remove(SEAT_ENV);
    w.reload();
    ASSERT_TRUE(waitFor([&] { return w.clientNames().size() == 2; }));
    EXPECT_EQ(w.clientNames(), (QStringList{"Bharat Steel", "Chirag & Co"}));
}

TEST_F(GalleryWindowTest, StartingACard)
{
    catalogue({{"gst", "gst-3b", "GSTR-3B"}, {"gst", "gst-quick", "Quick look"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}},
              QJsonObject{{"client", QJsonObject{{"label", "Client"}, {"placeholder", "Pick a client"}}},
                          {"period", QJsonObject{{"label", "Period"}, {"default", "last_quarter"}}}},
              QJsonObject{{"GSTR-3B", QJsonObject{{"fields", QJsonArray{"client", "period", "details", "gstin"}},
                                                  {"ask", "File 3B for {client} — {period}"}}}});
    GalleryWindow &w = open();

    // Cancelling the form sends nothing and leaves the gallery open.
    answers.push_back(std::nullopt);
    w.startCard(0);
    ASSERT_EQ(forms.size(), 1u);
    const GalleryWindow::Form &form = forms[0];
    EXPECT_EQ(form.title, "GSTR-3B");
    EXPECT_EQ(form.blurb, "About GSTR-3B");
    ASSERT_EQ(form.inputs.size(), 4);
    EXPECT_EQ(form.inputs[0].kind, GalleryWindow::FormInput::Kind::Client);
    EXPECT_EQ(form.inputs[0].placeholder, "Pick a client");
    EXPECT_EQ(form.inputs[1].label, "Period");
    EXPECT_EQ(form.inputs[1].initial, Catalog::defaultValue("last_quarter"));
    EXPECT_TRUE(form.inputs[1].initial.startsWith("Q"));
    EXPECT_EQ(form.inputs[2].kind, GalleryWindow::FormInput::Kind::Details);
    EXPECT_EQ(form.inputs[3].label, "Gstin"); // not defined by the catalogue
    EXPECT_EQ(form.inputs[3].kind, GalleryWindow::FormInput::Kind::Line);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_TRUE(w.isVisible());

    answers.push_back(QMap<QString, QString>{{"client", " Ashok Traders "}, {"period", ""}, {"details", ""}, {"gstin", ""}});
    w.startCard(0);
    ASSERT_EQ(started.size(), 1);
    EXPECT_TRUE(started[0].startsWith("File 3B for Ashok Traders\n\n(Skill: gst-3b. Start now")) << started[0].toStdString();
    EXPECT_FALSE(w.isVisible());

    // Without fields it goes at once; a tag outside the list does nothing.
    w.show();
    w.startCard(1);
    ASSERT_EQ(started.size(), 2);
    EXPECT_TRUE(started[1].startsWith("Do Quick look\n\n(Skill: gst-quick."));
    EXPECT_EQ(forms.size(), 2u);
    w.show();
    w.startCard(5);
    EXPECT_EQ(started.size(), 2);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(GalleryWindowTest, DemoTypingFiltersAsItTypes)
{
    catalogue({{"payroll", "payroll-run", "Payroll run"}, {"gst", "g", "GST"}});
    GalleryWindow &w = open();
    QStringList seen;
    QObject::connect(w.searchField(), &QLineEdit::textChanged, [&](const QString &t) { seen << t; });
    w.demoType("payroll");
    EXPECT_TRUE(w.searchField()->text().isEmpty());
    ASSERT_TRUE(waitFor([&] { return w.searchField()->text() == "payroll"; }));
    EXPECT_EQ(tiles().size(), 1);
    EXPECT_TRUE(seen.isEmpty()); // each step lays the grid out itself
}

TEST_F(GalleryWindowTest, BothLooks)
{
    catalogue({{"gst", "g1", "GSTR-1"}, {"itr", "i1", "ITR-4 for a small business"}, {"research", "r1", "Case law"}},
              QJsonArray{QJsonObject{{"id", "gst"}, {"title", "GST"}}, QJsonObject{{"id", "itr"}, {"title", "ITR"}},
                         QJsonObject{{"id", "research"}, {"title", "Research"}}});
    GalleryWindow &w = open();
    EXPECT_TRUE(paintedIn(shot(&w, "gallery-light"), false));
    const QList<QLabel *> symbols = w.cardArea()->findChildren<QLabel *>();
    QStringList names;
    for (QLabel *l : symbols)
        if (l->objectName().startsWith("symbol:"))
            names << l->objectName();
    EXPECT_EQ(names, (QStringList{"symbol:percent", "symbol:indianrupeesign.circle", "symbol:magnifyingglass"}));

    dark(true);
    ThemeBroadcast::postThemeDidChange();
    EXPECT_TRUE(waitFor([&] { return paintedIn(shot(&w, "gallery-dark"), true); }, 20000));
    // The chips are drawn after the repaint too.
    for (QPushButton *b : w.chips())
        EXPECT_TRUE(b->isVisible() && b->parentWidget()->rect().contains(b->geometry())) << b->text().toStdString();
    EXPECT_EQ(tiles().size(), 3);

    // Hovering lifts a tile unless motion is reduced.
    const auto savedMotion = Appearance::Hooks::reduceMotion;
    Appearance::Hooks::reduceMotion = [] { return false; };
    SkillTileHost *tile = tiles().at(0);
    tile->setHover(true);
    EXPECT_TRUE(tile->hovering());
    ASSERT_TRUE(waitFor([&] { return tile->tile()->y() == -4; }));
    tile->setHover(false);
    ASSERT_TRUE(waitFor([&] { return tile->tile()->y() == 0; }));
    Appearance::Hooks::reduceMotion = [] { return true; };
    tile->setHover(true);
    EXPECT_TRUE(tile->hovering());
    spin(50);
    EXPECT_EQ(tile->tile()->y(), 0);
    Appearance::Hooks::reduceMotion = savedMotion;
}

} // namespace
