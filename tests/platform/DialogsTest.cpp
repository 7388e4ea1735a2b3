#include "platform/Dialogs.h"
#include "platform/Dispatch.h"
#include "support/TestKit.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

using namespace TestKit;

namespace {

TEST(Modal, WorkWaitsForOpenDialogsInArrivalOrder)
{
    std::vector<QString> ran;
    bool checkedInside = false;
    {
        DialogAnswers answers;
        // While the CA looks at the dialog, three pieces of work arrive.
        Dialogs::Hooks::confirm = [&](const Dialogs::Confirm &) {
            EXPECT_TRUE(Modal::isOpen());
            Modal::whenClosed([&] { ran.push_back("a"); });
            Modal::whenClosed([&] { ran.push_back("b"); });
            Modal::whenClosed([&] { ran.push_back("c"); });
            spin(30); // events keep flowing inside the dialog
            EXPECT_TRUE(ran.empty()) << "nothing runs inside the dialog";
            checkedInside = true;
            return true;
        };
        EXPECT_TRUE(Dialogs::confirm(Dialogs::Confirm{"Submit?", "GSTR-3B"}));
    }
    EXPECT_TRUE(checkedInside);
    EXPECT_FALSE(Modal::isOpen());
    ASSERT_TRUE(waitFor([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<QString>{"a", "b", "c"}));
}

TEST(Modal, WorkThatOpensADialogHoldsTheRest)
{
    std::vector<QString> ran;
    DialogAnswers answers;
    answers.alert(0);
    answers.alert(0);
    Modal::whenClosed([&] {
        ran.push_back("first-start");
        Modal::whenClosed([&] { ran.push_back("queued-inside"); });
        Dialogs::alert("One", "two");
        ran.push_back("first-end");
    });
    Modal::whenClosed([&] { ran.push_back("second"); });
    ASSERT_TRUE(waitFor([&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<QString>{"first-start", "first-end", "second", "queued-inside"}));
    Dialogs::alert("Three", "four");
    EXPECT_EQ(answers.shownAlerts.size(), 2u);
}

TEST(Dialogs, ConfirmFallsBackToTheAlertHook)
{
    DialogAnswers answers;
    Dialogs::Hooks::confirm = &Dialogs::Hooks::defaultConfirm;
    answers.alert(1);
    EXPECT_FALSE(Dialogs::confirm(Dialogs::Confirm{"Write to Tally?", "voucher", "Approve", "Not now"}));
    ASSERT_EQ(answers.shownAlerts.size(), 1u);
    EXPECT_EQ(answers.shownAlerts[0].buttons, (QStringList{"Approve", "Not now"}));
    EXPECT_EQ(answers.shownAlerts[0].style, Dialogs::Style::Warning);
}

TEST(Dialogs, TheExactDataToBeSentShowsInAMonospacedBoxAboveTheButtons)
{
    Dialogs::Hooks::alert = &Dialogs::Hooks::defaultAlert;
    Dialogs::Hooks::confirm = &Dialogs::Hooks::defaultConfirm;
    // A line far wider than the box: it wraps, with no horizontal scroll bar to hide its end.
    const QString data = "{\n    \"customer_id\": \"58\",\n    \"line_items\": [],\n    \"notes\": \"Velto will follow "
                         "these instructions in client work, so install only from a source you trust\"\n}";
    for (const QString press : {"Cancel", "Raise it"}) {
        bool checked = false;
        const auto poll = TestKit::whenMessageBoxShows([&](QMessageBox *box) {
            auto *view = box->findChild<QPlainTextEdit *>("detail");
            auto *buttons = box->findChild<QDialogButtonBox *>();
            EXPECT_TRUE(view && buttons);
            if (view && buttons) {
                EXPECT_EQ(view->toPlainText(), data);
                EXPECT_TRUE(view->isReadOnly());
                EXPECT_EQ(view->size(), QSize(460, 240));
                EXPECT_TRUE(QFontInfo(view->font()).fixedPitch());
                const QTextBlock notes = view->document()->findBlockByNumber(3);
                EXPECT_TRUE(notes.text().endsWith("a source you trust\""));
                EXPECT_GT(notes.layout()->lineCount(), 1) << "the long line wraps";
                EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
                EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
                EXPECT_LT(view->mapTo(box, QPoint(0, view->height())).y(), buttons->mapTo(box, QPoint()).y() + 1);
                const QString shot = qEnvironmentVariable("VELTO_DEMO_SHOT");
                if (!shot.isEmpty())
                    box->grab().save(shot);
                checked = true;
            }
            for (QAbstractButton *b : box->buttons())
                if (b->text() == press)
                    b->click();
        });
        const bool yes = Dialogs::confirm(Dialogs::Confirm{"Raise this invoice in Acme's Zoho Books?", "Read it first.",
                                                           "Raise it", "Cancel", Dialogs::Style::Warning, data});
        EXPECT_TRUE(checked);
        EXPECT_EQ(yes, press == "Raise it");
    }
    TestKit::installFailingDialogs();
}

TEST(Dialogs, APageMessageShowsAsWrittenUnderItsOwnWindowTitle)
{
    // A page's words are data: markup in them is shown, never rendered.
    Dialogs::Hooks::alert = &Dialogs::Hooks::defaultAlert;
    bool checked = false;
    const auto poll = TestKit::whenMessageBoxShows([&](QMessageBox *box) {
        EXPECT_EQ(box->windowTitle(), "gst.gov.in");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        auto *info = box->findChild<QLabel *>("qt_msgbox_informativelabel");
        EXPECT_TRUE(info && info->textFormat() == Qt::PlainText);
        const QString shot = qEnvironmentVariable("VELTO_DEMO_SHOT");
        if (!shot.isEmpty())
            box->grab().save(shot);
        checked = true;
        box->buttons().first()->click();
    });
    Dialogs::askUnheld(Dialogs::Alert{"Message from the page at gst.gov.in", "<b>Velto</b>: Click “Save draft”?",
                                      Dialogs::Style::Informational, {"OK"}, 0, "gst.gov.in"});
    EXPECT_TRUE(checked);
    TestKit::installFailingDialogs();
}

TEST(Dialogs, EnterPressesTheButtonNamedAsDefault)
{
    Dialogs::Hooks::alert = &Dialogs::Hooks::defaultAlert;
    for (int wanted : {0, 1}) {
        const auto poll = TestKit::whenMessageBoxShows([&](QMessageBox *box) {
            QTest::keyClick(box, Qt::Key_Return);
        });
        EXPECT_EQ(Dialogs::ask(Dialogs::Alert{"Let Velto open example.com?", "", Dialogs::Style::Warning,
                                              {"Add example.com", "Keep it blocked"}, wanted}),
                  wanted);
    }
    TestKit::installFailingDialogs();
}

} // namespace
