// The gallery's catalogue: what survives of the file, the default values of
// the Indian financial year, and the request a started card sends.
#include "core/Globals.h"
#include "skills/Catalog.h"
#include "support/TestKit.h"

using TestKit::HomeTest;

namespace {

class CatalogLoad : public HomeTest {
protected:
    void catalogue(const QByteArray &json) const { home->write(".velto/hallix/skills/hallix-catalog/catalog.json", json); }
    void skill(const QString &name) const { home->write(".velto/hallix/skills/" + name + "/SKILL.md", "x"); }
};

TEST_F(CatalogLoad, KeepsWellFormedEntriesAndInstalledSkills)
{
    skill("gst-monthly");
    skill(".hidden-skill");
    home->write(".velto/hallix/skills/plain-file", "not a folder");
    catalogue(R"({
      "categories": [{"id": "gst", "title": "GST"}, {"id": "itr"}, {"id": "tds", "title": "TDS", "extra": 1}],
      "fields": {"client": {"label": "Client", "placeholder": "Acme", "default": ""},
                 "gstin": {},
                 "period": {"label": 5, "default": "last_quarter"}},
      "items": [
        {"skill": "gst-monthly", "title": "GSTR-3B", "ask": "File {period}", "category": "gst",
         "blurb": "Monthly", "fields": ["client", "period"]},
        {"skill": "not-installed", "title": "x", "ask": "y"},
        {"skill": "gst-monthly", "title": "No ask"},
        {"skill": "gst-monthly", "ask": "No title"},
        {"skill": "plain-file", "title": "A file is enough", "ask": "a", "fields": ["client", 3]},
        {"skill": ".hidden-skill", "title": "Hidden", "ask": "h", "category": 7}
      ],
      "unknown": true
    })");
    const Catalog::Contents c = Catalog::load();
    EXPECT_EQ(c.categories, (QList<Catalog::Category>{{"gst", "GST"}, {"tds", "TDS"}}));
    EXPECT_EQ(c.fields.size(), 3);
    EXPECT_EQ(c.fields.value("client"), (CatalogField{"client", "Client", "Acme", ""}));
    EXPECT_EQ(c.fields.value("gstin"), (CatalogField{"gstin", "Gstin", "", ""}));
    EXPECT_EQ(c.fields.value("period"), (CatalogField{"period", "Period", "", "last_quarter"}));
    EXPECT_EQ(c.cards, (QList<CatalogCard>{
                           {"gst", "gst-monthly", "GSTR-3B", "Monthly", "File {period}", {"client", "period"}},
                           {"", "plain-file", "A file is enough", "", "a", {}},
                           {"", ".hidden-skill", "Hidden", "", "h", {}},
                       }));
}

TEST_F(CatalogLoad, AMalformedMemberCountsAsAbsent)
{
    skill("s");
    struct Case {
        const char *json;
        qsizetype categories, fields, cards;
    };
    const std::vector<Case> cases{
        {R"({"categories": [{"id": "a", "title": "A"}, "b"], "fields": {"f": {}}, "items": [{"skill": "s", "title": "t", "ask": "a"}]})", 0, 1, 1},
        {R"({"categories": [{"id": "a", "title": "A"}], "fields": {"f": {}, "g": "text"}, "items": [{"skill": "s", "title": "t", "ask": "a"}]})", 1, 0, 1},
        {R"({"categories": [{"id": "a", "title": "A"}], "fields": [], "items": [{"skill": "s", "title": "t", "ask": "a"}, 1]})", 1, 0, 0},
        {R"({"categories": {"id": "a"}, "items": {"skill": "s"}})", 0, 0, 0},
        {R"([{"skill": "s", "title": "t", "ask": "a"}])", 0, 0, 0},
        {R"({"items": [)", 0, 0, 0},
    };
    for (const Case &c : cases) {
        catalogue(c.json);
        const Catalog::Contents got = Catalog::load();
        EXPECT_EQ(got.categories.size(), c.categories) << c.json;
        EXPECT_EQ(got.fields.size(), c.fields) << c.json;
        EXPECT_EQ(got.cards.size(), c.cards) << c.json;
    }
}

TEST_F(CatalogLoad, CardsOfUninstalledSkillsAreDropped)
{
    catalogue(R"({"categories": [{"id": "a", "title": "A"}], "items": [{"skill": "s", "title": "t", "ask": "a"}]})");
    // The catalogue's own folder is the only entry of the skills folder.
    EXPECT_TRUE(Catalog::load().cards.isEmpty());
    QFile::remove(Catalog::file());
    EXPECT_TRUE(Catalog::load().categories.isEmpty());
}

TEST(CatalogDefaults, IndianFinancialYearInIndiaTime)
{
    const auto saved = Catalog::timeZone;
    Catalog::timeZone = [] { return QTimeZone("Asia/Kolkata"); };
    // Instants in UTC; the rule sees the date in India.
    auto at = [](const char *utc) { return QDateTime::fromString(utc, Qt::ISODate); };
    struct Case {
        const char *utc;
        QString month, quarter, fy;
    };
    const std::vector<Case> cases{
        {"2026-12-09T06:00:00Z", "2026-11", "Q2 FY 2026-27", "FY 2025-26"},
        {"2026-05-15T06:00:00Z", "2026-04", "Q4 FY 2025-26", "FY 2025-26"},
        {"2027-01-03T06:00:00Z", "2026-12", "Q3 FY 2026-27", "FY 2025-26"},
        {"2027-02-10T06:00:00Z", "2027-01", "Q3 FY 2026-27", "FY 2025-26"},
        {"2027-04-01T06:00:00Z", "2027-03", "Q4 FY 2026-27", "FY 2026-27"},
        {"2027-07-01T06:00:00Z", "2027-06", "Q1 FY 2027-28", "FY 2026-27"},
        {"2027-10-01T06:00:00Z", "2027-09", "Q2 FY 2027-28", "FY 2026-27"},
        {"2027-03-31T06:00:00Z", "2027-02", "Q3 FY 2026-27", "FY 2025-26"},
        // 1 April 01:30 in India is still 31 March in UTC.
        {"2027-03-31T20:00:00Z", "2027-03", "Q4 FY 2026-27", "FY 2026-27"},
        {"2099-06-01T06:00:00Z", "2099-05", "Q4 FY 2098-99", "FY 2098-99"},
        {"2100-01-15T06:00:00Z", "2099-12", "Q3 FY 2099-00", "FY 2098-99"},
    };
    for (const Case &c : cases) {
        const QDateTime now = at(c.utc);
        EXPECT_EQ(Catalog::defaultValue("last_month", now), c.month) << c.utc;
        EXPECT_EQ(Catalog::defaultValue("last_quarter", now), c.quarter) << c.utc;
        EXPECT_EQ(Catalog::defaultValue("last_fy", now), c.fy) << c.utc;
        for (const char *other : {"", "last_mnth", "Last_month"})
            EXPECT_EQ(Catalog::defaultValue(other, now), "") << other;
    }
    Catalog::timeZone = saved;
}

TEST(CatalogMessage, FillsTidiesAndNamesTheSkill)
{
    const QString tail = "\n\n(Skill: gst-monthly. Start now and take it to the end — use the client folder, Hallix, "
                         "the ERP and the portal for what they hold, and ask me only for what is really missing, all "
                         "at once.)";
    struct Case {
        QString ask;
        QMap<QString, QString> values;
        QString want;
    };
    const std::vector<Case> cases{
        {"File GSTR-3B for {client} — {period}", {{"client", " Acme Traders \n"}}, "File GSTR-3B for Acme Traders"},
        {"File for {client} — {period}", {{"client", "Acme"}, {"period", "Q2 FY 2026-27"}},
         "File for Acme — Q2 FY 2026-27"},
        {"Reconcile {client}: {details}", {}, "Reconcile"},
        {"Check: {client} - done {x1}", {}, "Check: - done {x1}"},
        {"Notes:\n{details}", {{"details", "line one\nline two"}}, "Notes:\nline one\nline two"},
        {"Notes:\n\n{details}", {{"details", "a  b \n c"}}, "Notes: a b c"},
        {"\t  Ask {a_b}  ", {{"a_b", "{client}"}, {"client", "x"}}, QString()},
        {"{client}", {{"client", "  "}}, ""},
    };
    CatalogCard card{"gst", "gst-monthly", "t", "b", "", {}};
    for (const Case &c : cases) {
        card.ask = c.ask;
        const QString got = Catalog::message(card, c.values);
        if (c.want.isNull()) {
            // Keys in no particular order: either the value's own braces stay, or they were filled.
            EXPECT_TRUE(got == "Ask {client}" + tail || got == "Ask x" + tail || got == "Ask" + tail) << got.toStdString();
            continue;
        }
        EXPECT_EQ(got, c.want + tail) << c.ask.toStdString();
    }
}

} // namespace
