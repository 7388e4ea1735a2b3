// doc_text on documents built to hold a reader: the HTML reader's text, the
// depth and time bounds of every format, and reads stopped at quit.
#include "DocSamples.h"
#include "ToolFixture.h"

#include "platform/Dispatch.h"
#include "toolserver/DocText.h"

#include <QSemaphore>
#include <QThreadPool>

using namespace McpTest;
using namespace TestKit;

namespace {

const QString kSimpler = " Ask the CA for a simpler copy, such as a PDF or plain text.";

class DocBoundTest : public ToolTest {
protected:
    void TearDown() override
    {
        DocText::timeLimitMs = 20000;
        ToolTest::TearDown();
    }

    ToolAnswer read(const QString &path) { return run("doc_text", {{"path", path}}); }

    // A Word document whose body nests its elements depth levels deep.
    void putDeepDocx(const QString &name, int depth)
    {
        const QByteArray open = QByteArray("<w:sdt>").repeated(depth);
        const QByteArray close = QByteArray("</w:sdt>").repeated(depth);
        const QByteArray xml = "<w:document xmlns:w='w'><w:body>" + open + "<w:p><w:r><w:t>deep</w:t></w:r></w:p>" +
                               close + "</w:body></w:document>";
        ASSERT_TRUE(DocSamples::zip(put(name, ""), {{"word/document.xml", xml}}));
    }
};

std::optional<QString> html(const QString &markup)
{
    DocText::Bound bound;
    return DocText::readHtml(markup, bound, DocText::cap);
}

TEST(DocHtml, TextAsAReaderSeesIt)
{
    struct Case {
        QString html;
        QString text;
    };
    const std::vector<Case> cases = {
        {"<p>Pay   &amp;\n file</p><p>by 20<sup>th</sup></p>", "Pay & file\nby 20th"},
        {"<head><title>T</title><script>if (a<b) x='</p>'</script><style>p{}</style></head>"
         "<!-- <p>hidden</p> --><body>Shown<SCRIPT type=x>y</Script ></body>",
         "Shown"},
        {"<table><tr><th>Date<th>Particulars<th>Debit\n<tr><td>01-04-2026</td><td> Sales &nbsp;A/c </td>"
         "<td align='right'>1,20,000.00</td></tr></table>After",
         "Date\tParticulars\tDebit\n01-04-2026\tSales  A/c\t1,20,000.00\nAfter"},
        {"<ul><li>One<li>Two</ul>Line<br>break<BR/>again<pre>  a\n    b</pre>end",
         "One\nTwo\nLine\nbreak\nagain\n  a\n    b\nend"},
        {"&lt;b&gt; &#8377;5 &#x20B9;6 &rsquo;&copy; AT&T &unknown; &#; 1 < 2 &#0;",
         QString::fromUtf8("<b> ₹5 ₹6 ’© AT&T &unknown; &#; 1 < 2 ") + QChar(0xFFFD)},
        {"<a title='a > b' href=\"x\">link</a> <img alt='>'>text", "link text"},
        {"<p>One<p>Two<div>Three</div>Four</p></p>Five", "One\nTwo\nThree\nFour\nFive"},
        {QString::fromUtf8("<h1>सूचना</h1>राशि<![CDATA[ <x> ]]>"), QString::fromUtf8("सूचना\nराशि <x>")},
        {"<!DOCTYPE html><?xml version='1.0'?>  \n  ", ""},
    };
    for (const Case &c : cases) {
        const auto text = html(c.html);
        ASSERT_TRUE(text) << c.html.toStdString();
        EXPECT_EQ(text->toStdString(), c.text.toStdString()) << c.html.toStdString();
    }
}

// A file built to nest without end is answered at once; what HTML lets a
// writer leave open (paragraphs, list items, rows, cells) is no nesting.
TEST_F(DocBoundTest, DeepNestingIsTooComplexInEveryFormat)
{
    put("nested.html", QByteArray("<div>").repeated(200000) + "x");
    put("deep-enough.html", QByteArray("<div>").repeated(DocText::maxDepth) + "x" +
                                QByteArray("</div>").repeated(DocText::maxDepth));
    put("open.html", QByteArray("<p>").repeated(100000) + "x");
    put("ledger.html", "<table>" + QByteArray("<tr><td>a<td>b").repeated(50000));
    put("nested.rtf", "{\\rtf1 " + QByteArray("{").repeated(600) + "x" + QByteArray("}").repeated(600) + "}");
    putDeepDocx("nested.docx", 600);
    putDeepDocx("deep-enough.docx", 100);
    ASSERT_TRUE(DocSamples::zip(
        put("nested.odt", ""),
        {{"content.xml", "<office:document-content xmlns:office='o' xmlns:text='t'><office:body>" +
                             QByteArray("<text:section>").repeated(600) + "<text:p>x</text:p>" +
                             QByteArray("</text:section>").repeated(600) + "</office:body></office:document-content>"}}));

    const QString tooDeep = " is too complex to read: its parts nest more than 512 levels deep." + kSimpler;
    struct Case {
        const char *file;
        QString text;
        bool isError;
    };
    for (const Case &c : std::vector<Case>{
             {"nested.html", "nested.html" + tooDeep, true},
             {"deep-enough.html", "deep-enough.html: HTML, 1 characters.\n\nx", false},
             {"open.html", "open.html: HTML, 1 characters.\n\nx", false},
             {"ledger.html", "ledger.html: HTML, 199999 characters.\n\n" + QString("a\tb\n").repeated(50000).chopped(1),
              false},
             {"nested.rtf", "nested.rtf" + tooDeep, true},
             {"nested.docx", "nested.docx" + tooDeep, true},
             {"deep-enough.docx", "deep-enough.docx: DOCX, 4 characters.\n\ndeep", false},
             {"nested.odt", "nested.odt" + tooDeep, true},
         }) {
        const ToolAnswer a = read(c.file);
        EXPECT_EQ(a.text.left(200).toStdString(), c.text.left(200).toStdString()) << c.file;
        EXPECT_EQ(a.text.size(), c.text.size()) << c.file;
        EXPECT_EQ(a.isError, c.isError) << c.file;
    }
}

// Past the time limit every format answers that the document was too
// complex; with no time at all, that is the first check.
TEST_F(DocBoundTest, EveryFormatStopsAtTheTimeLimit)
{
    put("page.html", "<p>text</p>");
    put("notes.txt", "text");
    put("reply.rtf", "{\\rtf1 text}");
    put("old.doc", DocSamples::word97({{"text\r", true}}));
    put("notice.pdf", DocSamples::pdf({{"text"}}));
    ASSERT_TRUE(DocSamples::zip(put("order.docx", ""),
                                {{"word/document.xml", "<w:document xmlns:w='w'><w:p><w:r><w:t>text</w:t></w:r></w:p>"
                                                       "</w:document>"}}));
    ASSERT_TRUE(DocSamples::zip(put("minutes.odt", ""),
                                {{"content.xml", "<office:document-content xmlns:office='o' xmlns:text='t'>"
                                                 "<text:p>text</text:p></office:document-content>"}}));

    DocText::timeLimitMs = 0;
    for (const char *file : {"page.html", "notes.txt", "reply.rtf", "old.doc", "notice.pdf", "order.docx", "minutes.odt"}) {
        const ToolAnswer a = read(file);
        EXPECT_EQ(a.text.toStdString(),
                  (file + QString(" is too complex to read: reading it took longer than 0 seconds.") + kSimpler)
                      .toStdString());
        EXPECT_TRUE(a.isError) << file;
    }
    DocText::timeLimitMs = 20000;
    EXPECT_EQ(read("page.html").text, "page.html: HTML, 4 characters.\n\ntext");
}

// The quit path stops the reads asked for before it, started or not; reads
// asked for afterwards go ahead.
TEST_F(DocBoundTest, CancelAllStopsTheReadsAskedForBeforeIt)
{
    DocText::Bound before;
    EXPECT_FALSE(before.exceeded());
    DocText::cancelAll();
    DocText::Bound after;
    EXPECT_TRUE(before.exceeded());
    EXPECT_EQ(before.stop(), DocText::Bound::Stop::Cancelled);
    EXPECT_FALSE(after.exceeded());
    EXPECT_EQ(after.stop(), DocText::Bound::Stop::None);

    put("ledger.html", "<table>" + QByteArray("<tr><td>01-04-2026<td>Sales A/c<td>1,20,000.00").repeated(100000));
    put("notice.pdf", DocSamples::pdf({{"text"}}));
    for (const char *file : {"ledger.html", "notice.pdf"}) {
        // Every background thread held: the read is asked for but waits, so
        // however slow the machine, it cannot finish before the quit.
        QThreadPool *pool = QThreadPool::globalInstance();
        const int threads = pool->maxThreadCount();
        QSemaphore busy, release;
        for (int i = 0; i < threads; ++i)
            Dispatch::runInBackground([&] {
                busy.release();
                release.acquire();
            });
        ASSERT_TRUE(busy.tryAcquire(threads, 60000));
        std::optional<QJsonObject> answer;
        server->call("doc_text", {{"path", file}}, [&](const QJsonObject &r) { answer = r; });
        // Queued behind the call's own hop to the main thread: the read is
        // asked for by then.
        Dispatch::onMain([&] {
            DocText::cancelAll();
            release.release(threads);
        });
        ASSERT_TRUE(waitFor([&] { return answer.has_value(); }, 60000)) << file;
        EXPECT_EQ(answer->value("content").toArray().at(0).toObject().value("text").toString().toStdString(),
                  file + std::string(" was not read: Velto is quitting."));
        EXPECT_TRUE(answer->value("isError").toBool());
    }
    EXPECT_EQ(read("notice.pdf").isError, false) << "a read asked for after the cancel goes ahead";
}

// A ledger export far past the length limit is cut there, not read to its end.
TEST_F(DocBoundTest, LongHtmlIsCutAtTheLimit)
{
    const QByteArray row = "<tr><td>01-04-2026</td><td>Sales A/c &amp; GST</td><td>1,20,000.00</td></tr>\n";
    put("ledger.html", "<html><body><table>" + row.repeated(3 * 1024 * 1024 / row.size()) + "</table></body></html>");
    const ToolAnswer a = read("ledger.html");
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(a.text.startsWith("ledger.html: HTML, 400000 characters.\n\n01-04-2026\tSales A/c & GST\t1,20,000.00\n"))
        << a.text.left(100).toStdString();
    EXPECT_TRUE(a.text.endsWith("\n[stopped at 400000 characters for length]"));
}

} // namespace
