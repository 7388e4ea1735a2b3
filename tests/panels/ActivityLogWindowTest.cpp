// The activity log window: which lines of the engine's log become rows, the
// value rule of a field, the row layout and marks, the summary, the 800-row
// cap, the empty state, and reading only the end of a long log.
#include "PanelsTestKit.h"
#include "panels/ActivityLogWindow.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

using namespace PanelsTestKit;

namespace {

QByteArray evaluated(const QString &time, const QString &kind, const QString &pattern, const QString &action)
{
    QString line = QStringLiteral("INFO  service=permission timestamp=") + time + QStringLiteral(" permission=") + kind +
                   QStringLiteral(" pattern=") + pattern;
    if (!action.isNull())
        line += QStringLiteral(" action.action=") + action;
    return (line + QStringLiteral(" message=evaluated\n")).toUtf8();
}

class ActivityLogWindowTest : public PanelTest {
protected:
    std::unique_ptr<ActivityLogWindow> window;
    qint64 savedTail = ActivityLogWindow::tailBytes;
    void TearDown() override
    {
        window.reset();
        ActivityLogWindow::tailBytes = savedTail;
        PanelTest::TearDown();
    }
    void log(const QByteArray &data) const { home->write(QStringLiteral(".local/share/opencode/log/opencode.log"), data); }
    ActivityLogWindow &open()
    {
        window = std::make_unique<ActivityLogWindow>();
        window->show();
        return *window;
    }
};

TEST_F(ActivityLogWindowTest, FieldValues)
{
    const QString line = QStringLiteral("a=1 pattern=\"git log --oneline\" x.pattern=no open=\"to the end");
    const std::vector<std::pair<QString, QString>> cases{
        {QStringLiteral("a="), QStringLiteral("1")},
        {QStringLiteral("pattern="), QStringLiteral("git log --oneline")},
        {QStringLiteral("open="), QStringLiteral("to the end")},
        {QStringLiteral("missing="), QString()},
        {QStringLiteral("end"), QString()},
    };
    for (const auto &[key, value] : cases)
        EXPECT_EQ(ActivityLogWindow::field(key, line), value) << key.toStdString();
}

TEST_F(ActivityLogWindowTest, RowsAndSummaryFromACraftedLog)
{
    log(evaluated(QStringLiteral("2025-06-01T10:22:33.123Z"), QStringLiteral("webfetch"),
                  QStringLiteral("https://www.gst.gov.in/"), QStringLiteral("allow")) +
        "permission=bash pattern=ls message=other\n"
        "\n" +
        evaluated(QStringLiteral("2025-06-01T10:23:00Z"), QStringLiteral("edit"), QStringLiteral("a.txt"),
                  QStringLiteral("allow")) +
        evaluated(QStringLiteral("2025-06-01T10:24:00Z"), QStringLiteral("bash"), QStringLiteral("\"git status --short\""),
                  QStringLiteral("ask")) +
        evaluated(QStringLiteral("2025-06-01T10:25:00Z"), QStringLiteral("browser_browser_open_tab"),
                  QStringLiteral("mca.gov.in"), QString()) +
        evaluated(QStringLiteral("2025-06-01T10:26:00Z"), QStringLiteral("hallix_gstr1_file_with_a_long_name"),
                  QStringLiteral("client=7"), QStringLiteral("deny")) +
        evaluated(QStringLiteral("2025-06-01T10:27:00Z"), QStringLiteral("browser_snapshot"), QStringLiteral("tab"),
                  QStringLiteral("allow")));
    ActivityLogWindow &w = open();
    EXPECT_EQ(w.summary()->text(),
              QStringLiteral("5 calls \u00b7 1 web fetches \u00b7 log: ~/.local/share/opencode/log/opencode.log"));
    EXPECT_EQ(w.text()->toPlainText(),
              QStringLiteral("  2025-06-01 10:27:00  browser_snapshot        tab\n"
                             "! 2025-06-01 10:26:00  hallix_gstr1_file_with  client=7\n"
                             "! 2025-06-01 10:25:00  browser_open_tab        mca.gov.in\n"
                             "! 2025-06-01 10:24:00  bash                    git status --short\n"
                             "  2025-06-01 10:22:33  webfetch                https://www.gst.gov.in/"));
    EXPECT_EQ(w.text()->textCursor().position(), 0);
}

TEST_F(ActivityLogWindowTest, EmptyStates)
{
    const QString summary = QStringLiteral("Nothing yet. The engine writes this log as it works.");
    const QString text = QStringLiteral("No outbound activity recorded yet.\n\nThis reads the engine's own log, so it "
                                        "fills up as Velto works.");
    ActivityLogWindow &w = open(); // no log at all
    EXPECT_EQ(w.summary()->text(), summary);
    EXPECT_EQ(w.text()->toPlainText(), text);
    for (const QByteArray &data :
         {evaluated(QStringLiteral("2025"), QStringLiteral("edit"), QStringLiteral("x"), QStringLiteral("allow")),
          QByteArray("\xff\xfe permission=bash message=evaluated\n")}) {
        log(data);
        w.reload();
        EXPECT_EQ(w.summary()->text(), summary);
        EXPECT_EQ(w.text()->toPlainText(), text);
    }
}

TEST_F(ActivityLogWindowTest, ShowsTheNewest800AndCountsAll)
{
    QByteArray data;
    for (int i = 0; i < 1000; ++i)
        data += evaluated(QStringLiteral("2025-06-01T10:00:00Z"), i % 4 ? QStringLiteral("bash") : QStringLiteral("webfetch"),
                          QStringLiteral("n") + QString::number(i), QStringLiteral("allow"));
    log(data);
    ActivityLogWindow &w = open();
    EXPECT_EQ(w.summary()->text(),
              QStringLiteral("1000 calls \u00b7 250 web fetches \u00b7 log: ~/.local/share/opencode/log/opencode.log"));
    const QStringList lines = w.text()->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 800);
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("  n999")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("  n200")));
}

TEST_F(ActivityLogWindowTest, ReadsOnlyTheEndOfALongLog)
{
    const QByteArray old = evaluated(QStringLiteral("2024-01-01T00:00:00Z"), QStringLiteral("webfetch"),
                                     QStringLiteral("https://old.example/"), QStringLiteral("allow"));
    const QByteArray recent = evaluated(QStringLiteral("2025-06-01T10:00:00Z"), QStringLiteral("bash"),
                                        QStringLiteral("recent"), QStringLiteral("allow"));
    // The cut falls inside the second old line: it is dropped whole, not read
    // from its middle.
    ActivityLogWindow::tailBytes = recent.size() * 2 + old.size() / 2;
    log(old + old + recent + recent);
    const QList<ActivityLogWindow::Row> rows = ActivityLogWindow::rows();
    ASSERT_EQ(rows.size(), 2);
    for (const ActivityLogWindow::Row &r : rows)
        EXPECT_EQ(r.target, QStringLiteral("recent"));
}

TEST_F(ActivityLogWindowTest, RepaintKeepsTheTextAndLooksRightInBothThemes)
{
    log(evaluated(QStringLiteral("2025-06-01T10:22:33Z"), QStringLiteral("webfetch"), QStringLiteral("https://www.gst.gov.in/"),
                  QStringLiteral("allow")) +
        evaluated(QStringLiteral("2025-06-01T10:24:00Z"), QStringLiteral("bash"), QStringLiteral("\"python3 make_gstr1.py\""),
                  QStringLiteral("ask")));
    ActivityLogWindow &w = open();
    const QString text = w.text()->toPlainText();
    shot(&w, QStringLiteral("activity-light"));
    dark(true);
    w.repaint();
    EXPECT_EQ(w.text()->toPlainText(), text);
    // The rebuilt content fills the window as the first build did.
    TestKit::waitFor([&] { return w.text()->parentWidget()->geometry() == QRect(22, 100, 736, 418); }, 1000);
    EXPECT_EQ(w.text()->parentWidget()->geometry(), QRect(22, 100, 736, 418));
    EXPECT_TRUE(paintedIn(shot(&w, QStringLiteral("activity-dark")), true));
}

} // namespace
