// doc_text: every format, PDF pages and ranges, the length limit, and the
// clients folder as the fence.
#include "DocSamples.h"
#include "Resident.h"
#include "ToolFixture.h"

#include "platform/Dispatch.h"
#include "toolserver/DocText.h"

#include <QFile>
#include <QPainter>
#include <QDir>
#include <QPdfWriter>
#include <sys/stat.h>

using namespace McpTest;
using namespace TestKit;

namespace {

class DocTextTest : public ToolTest {
protected:
    ToolAnswer read(const QString &path, const QJsonObject &more = {})
    {
        QJsonObject args = more;
        args.insert("path", path);
        return run("doc_text", args);
    }

    // The three-page notice: text on pages 1 and 3, page 2 a scan.
    void putNotice(const QString &rel = "Quenby/notice.pdf")
    {
        put(rel, DocSamples::pdf({{"Show cause notice", "GSTIN 24AAQFK5512M1Z8"}, {}, {"Reply within 30 days"}}));
    }
};

QString block(int page, int of, const QString &text)
{
    return QStringLiteral("\n--- page %1 of %2 ---\n%3\n").arg(page).arg(of).arg(text);
}

TEST_F(DocTextTest, PdfPagesAndRanges)
{
    putNotice();
    const QString p1 = "Show cause notice\r\nGSTIN 24AAQFK5512M1Z8";
    const QString p3 = "Reply within 30 days";
    const QString scan = " No text on page(s) 2; those are probably scans and must be read as images.";
    const QString head = "notice.pdf: PDF, 3 pages, pages ";

    struct Case {
        QJsonValue from, to;
        QString text;
        bool isError;
    };
    const QString all = head + "1-3 read from the text layer." + scan + "\n" + block(1, 3, p1) + block(2, 3, "") +
                        block(3, 3, p3);
    const std::vector<Case> cases = {
        {QJsonValue(), QJsonValue(), all, false},
        {2, 2, head + "2-2 read from the text layer." + scan + "\n" + block(2, 3, ""), false},
        {3, 10, head + "3-3 read from the text layer.\n" + block(3, 3, p3), false},
        {0, 0, all, false},
        {-4, -1, all, false},
        {1.9, 1.2, head + "1-1 read from the text layer.\n" + block(1, 3, p1), false},
        {"2", "2", all, false}, // not numbers: absent
        {true, true, head + "1-1 read from the text layer.\n" + block(1, 3, p1), false},
        {4, QJsonValue(), "notice.pdf has 3 pages; the range 4-0 is outside it.", true},
        {3, 2, "notice.pdf has 3 pages; the range 3-2 is outside it.", true},
    };
    for (const Case &c : cases) {
        QJsonObject args;
        if (!c.from.isUndefined() && !c.from.isNull())
            args.insert("from_page", c.from);
        if (!c.to.isUndefined() && !c.to.isNull())
            args.insert("to_page", c.to);
        const ToolAnswer a = read("Quenby/notice.pdf", args);
        EXPECT_EQ(a.text.toStdString(), c.text.toStdString()) << show(c.from) << " " << show(c.to);
        EXPECT_EQ(a.isError, c.isError) << show(c.from) << " " << show(c.to);
    }
}

TEST_F(DocTextTest, LongPdfStopsAfterThePageThatCrossesTheLimit)
{
    // Twelve pages of about 45,500 characters: the limit falls inside page 9.
    QList<QStringList> pages;
    for (int p = 1; p <= 12; ++p) {
        QStringList lines;
        for (int l = 0; l < 90; ++l)
            lines.append(QString("p%1 ").arg(p, 2, 10, QLatin1Char('0')) + QString(496, QLatin1Char('x')));
        pages.append(lines);
    }
    put("big.pdf", DocSamples::pdf(pages));
    const ToolAnswer a = read("big.pdf");
    ASSERT_FALSE(a.isError) << a.text.left(300).toStdString();
    EXPECT_TRUE(a.text.startsWith("big.pdf: PDF, 12 pages, pages 1-9 read from the text layer. Stopped at page 9 for "
                                  "length; call again with from_page 10.\n\n--- page 1 of 12 ---\np01 "))
        << a.text.left(300).toStdString();
    EXPECT_FALSE(a.text.contains("--- page 10 of 12 ---"));
    EXPECT_TRUE(a.text.endsWith("p09 " + QString(496, QLatin1Char('x')) + "\n")) << "page 9 is whole";

    // Reading on from page 10 reaches the end: nothing more to say.
    const ToolAnswer rest = read("big.pdf", {{"from_page", 10}});
    EXPECT_TRUE(rest.text.startsWith("big.pdf: PDF, 12 pages, pages 10-12 read from the text layer.\n\n--- page 10"))
        << rest.text.left(200).toStdString();

    // The limit crossed on the last page wanted adds no sentence.
    const ToolAnswer nine = read("big.pdf", {{"to_page", 9}});
    EXPECT_TRUE(nine.text.startsWith("big.pdf: PDF, 12 pages, pages 1-9 read from the text layer.\n\n"))
        << nine.text.left(200).toStdString();
}

TEST_F(DocTextTest, PdfFromAWriterAndPdfFailures)
{
    {
        QPdfWriter writer(put("Firm/letter.PDF", ""));
        QPainter painter(&writer);
        painter.setFont(QFont("DejaVu Sans", 12));
        painter.drawText(QPointF(200, 400), "Engagement letter");
        writer.newPage();
        painter.drawText(QPointF(200, 400), "Fees: 25000");
    }
    const ToolAnswer letter = read("Firm/letter.PDF");
    EXPECT_EQ(letter.text, "letter.PDF: PDF, 2 pages, pages 1-2 read from the text layer.\n" +
                               block(1, 2, "Engagement letter") + block(2, 2, "Fees: 25000"));
    EXPECT_FALSE(letter.isError);

    put("locked.pdf", DocSamples::lockedPdf());
    put("broken.pdf", "%PDF-1.4 this is not a PDF");
    put("empty.pdf", DocSamples::pdf({}));
    struct Case {
        const char *file;
        const char *text;
    };
    for (const Case &c : std::vector<Case>{
             {"locked.pdf", "locked.pdf is password-protected. Ask the CA for an unlocked copy."},
             {"broken.pdf", "broken.pdf could not be opened as a PDF. It may be damaged."},
             {"empty.pdf", "empty.pdf has 0 pages; the range 0-0 is outside it."},
         }) {
        const ToolAnswer a = read(c.file);
        EXPECT_EQ(a.text.toStdString(), std::string(c.text));
        EXPECT_TRUE(a.isError) << c.file;
    }
}

TEST_F(DocTextTest, PdfIsReadOffTheMainThreadAndAnsweredOnIt)
{
    putNotice();
    bool answeredOnMain = false;
    bool answered = false;
    server->call("doc_text", {{"path", "Quenby/notice.pdf"}}, [&](const QJsonObject &) {
        answeredOnMain = Dispatch::isMainThread();
        answered = true;
    });
    EXPECT_FALSE(answered) << "the call returns before the PDF is read";
    ASSERT_TRUE(waitFor([&] { return answered; }, 20000));
    EXPECT_TRUE(answeredOnMain);
}

// The word-processor formats, each with the marks its reader must turn into
// plain text.
TEST_F(DocTextTest, EveryOtherFormat)
{
    const QByteArray docx =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"
 xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006">
<w:body>
<w:p><w:pPr><w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs></w:pPr>
 <w:r><w:t xml:space="preserve">Order under </w:t></w:r><w:r><w:t>section 74</w:t></w:r></w:p>
<w:p><w:r><w:t>Demand</w:t><w:tab/><w:t>₹ 1,20,000</w:t><w:br/><w:t>ब्याज सहित</w:t></w:r>
 <w:del><w:r><w:delText>withdrawn</w:delText></w:r></w:del></w:p>
<w:p><w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:t>Box text</w:t></mc:Choice>
 <mc:Fallback><w:t>Box text</w:t></mc:Fallback></mc:AlternateContent></w:r></w:p>
<w:tbl><w:tr><w:tc><w:p><w:r><w:t>Cell</w:t></w:r></w:p></w:tc></w:tr></w:tbl>
</w:body></w:document>)";
    ASSERT_TRUE(DocSamples::zip(put("order.docx", ""), {{"[Content_Types].xml", "<Types/>"},
                                                        {"word/document.xml", docx}}));

    const QByteArray odt =
        R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0">
<office:automatic-styles><style/></office:automatic-styles>
<office:body><office:text>
<text:h text:outline-level="1">Minutes</text:h>
<text:p>  Board   met <text:s text:c="3"/>at<text:tab/>10<text:line-break/>in Surat
 <text:note><text:note-body><text:p>a footnote</text:p></text:note-body></text:note></text:p>
<text:p>गुजरात</text:p>
</office:text></office:body></office:document-content>)";
    ASSERT_TRUE(DocSamples::zip(put("minutes.odt", ""), {{"mimetype", "application/vnd.oasis.opendocument.text"},
                                                         {"content.xml", odt}}));

    put("reply.rtf", R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}{\colortbl;\red0\green0\blue0;})"
                     R"({\*\generator Writer;}{\info{\title Draft}}\f0 Notice \'96 GST\par Amount: \u8377?5,000\tab )"
                     R"(Due\line next {\field{\*\fldinst HYPERLINK "https://x"}{\fldrslt link}}\par {\pict\pngblip )"
                     R"(89504e47}\uc2\u2360\'3f\'3fok \{1\}\par})");

    put("old.doc", DocSamples::word97({{QString("Notice u/s 73\r") + QChar(0x13) + " HYPERLINK \"x\" " + QChar(0x14) +
                                            "see portal" + QChar(0x15) + "\rTotal: € 5,000\r",
                                        true},
                                       {QString("सूचना") + QChar(0x07) + "राशि" + QChar(0x07) + "\r", false}},
                                      "footnote text\r"));

    put("page.html", "<html><head><title>T</title><style>p{color:red}</style></head>"
                     "<body><h1>Order</h1><p>Pay &amp; file by 20<sup>th</sup></p></body></html>");
    put("notes.md", "\xEF\xBB\xBF# Checklist\n- GSTR-1 ✓\n");
    put("Notes.TXT", "plain\ttext\n");

    struct Case {
        const char *file;
        QString answer;
    };
    const std::vector<Case> cases = {
        {"order.docx", "order.docx: DOCX, 61 characters.\n\nOrder under section 74\nDemand\t₹ 1,20,000\nब्याज सहित\n"
                       "Box text\nCell"},
        {"minutes.odt", "minutes.odt: ODT, 40 characters.\n\nMinutes\nBoard met    at\t10\nin Surat\nगुजरात"},
        {"reply.rtf", "reply.rtf: RTF, 50 characters.\n\nNotice – GST\nAmount: ₹5,000\tDue\nnext link\nसok {1}\n"},
        {"old.doc", "old.doc: DOC, 47 characters.\n\nNotice u/s 73\nsee portal\nTotal: € 5,000\nसूचना\tराशि\t"},
        {"page.html", "page.html: HTML, 24 characters.\n\nOrder\nPay & file by 20th"},
        {"notes.md", "notes.md: MD, 23 characters.\n\n# Checklist\n- GSTR-1 ✓\n"},
        {"Notes.TXT", "Notes.TXT: TXT, 11 characters.\n\nplain\ttext\n"},
    };
    for (const Case &c : cases) {
        const ToolAnswer a = read(c.file);
        EXPECT_EQ(a.text.toStdString(), c.answer.toStdString());
        EXPECT_FALSE(a.isError) << c.file;
    }
}

TEST_F(DocTextTest, DamagedFilesAndTypesItDoesNotRead)
{
    put("fake.docx", "PK not really");
    ASSERT_TRUE(DocSamples::zip(put("empty.odt", ""), {{"mimetype", "x"}}));
    put("fake.doc", "not a compound file");
    put("locked.doc", DocSamples::word97({{"secret\r", true}}, {}, true));
    put("fake.rtf", "plain words");
    put("latin.txt", "caf\xE9");
    put("sheet.xlsx", "x");
    put("scan.png", "x");
    put("README", "x");

    const QString damaged = " It may be damaged or not really that format.";
    const QString notRead =
        " is not a type doc_text reads (PDF, DOCX, DOC, RTF, ODT, HTML, TXT, MD). For a photo or scan, read it as an "
        "image.";
    struct Case {
        const char *file;
        QString text;
    };
    for (const Case &c : std::vector<Case>{
             {"fake.docx", "fake.docx could not be read as DOCX." + damaged},
             {"empty.odt", "empty.odt could not be read as ODT." + damaged},
             {"fake.doc", "fake.doc could not be read as DOC." + damaged},
             {"locked.doc", "locked.doc could not be read as DOC." + damaged},
             {"fake.rtf", "fake.rtf could not be read as RTF." + damaged},
             {"latin.txt", "latin.txt could not be read as TXT." + damaged},
             {"sheet.xlsx", "sheet.xlsx: .xlsx" + notRead},
             {"scan.png", "scan.png: .png" + notRead},
             {"README", "README: ." + notRead},
         }) {
        const ToolAnswer a = read(c.file);
        EXPECT_EQ(a.text.toStdString(), c.text.toStdString());
        EXPECT_TRUE(a.isError) << c.file;
    }
}

TEST_F(DocTextTest, PlainTextIsCutAtTheLimitInCharactersAsSeen)
{
    // Each "é" here is two code points, one character as the CA sees it.
    const QString e = QStringLiteral("e\u0301");
    put("long.txt", e.repeated(500000).toUtf8());
    const ToolAnswer a = read("long.txt");
    EXPECT_FALSE(a.isError);
    EXPECT_EQ(a.text, "long.txt: TXT, 400000 characters.\n\n" + e.repeated(400000) +
                          "\n[stopped at 400000 characters for length]");

    put("exact.txt", e.repeated(DocText::cap).toUtf8());
    EXPECT_EQ(read("exact.txt").text, "exact.txt: TXT, 400000 characters.\n\n" + e.repeated(400000))
        << "at the limit nothing is cut";
}

TEST_F(DocTextTest, PipesAndHugeFilesDoNotHoldTheApp)
{
    // A pipe named like a text file, a link to it and a folder: refused at
    // once, without waiting for a writer.
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe.txt").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(root + "/pipe.txt", root + "/notes.md"));
    ASSERT_TRUE(QDir(root).mkdir("folder.txt"));
    const QString notOrdinary =
        " is not an ordinary file (it is a pipe, a device or a folder), so doc_text does not read it.";
    for (const auto &[asked, named] : std::vector<std::pair<QString, QString>>{
             {"pipe.txt", "pipe.txt"}, {"notes.md", "pipe.txt"}, {"folder.txt", "folder.txt"}}) {
        const ToolAnswer a = read(asked);
        EXPECT_EQ(a.text, named + notOrdinary) << asked.toStdString();
        EXPECT_TRUE(a.isError);
    }

    // 1.5 GB, sparse: text at the start, then nothing but zero bytes.
    auto sparse = [&](const QString &name, const QByteArray &start) {
        QFile f(root + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(start);
        ASSERT_TRUE(f.resize(1536LL * 1024 * 1024));
    };
    sparse("big.txt", QByteArray("Ledger line\n").repeated(100000));
    sparse("zeros.txt", {});
    sparse("big.docx", "PK");
    sparse("big.pdf", "%PDF-1.4\n");

    const qint64 before = residentKiB();
    std::optional<QJsonObject> big;
    server->call("doc_text", {{"path", "big.txt"}}, [&](const QJsonObject &r) { big = r; });
    EXPECT_FALSE(big) << "read off the main thread";
    // Other calls are answered meanwhile.
    EXPECT_EQ(read("folder.txt").text, "folder.txt" + notOrdinary);
    ASSERT_TRUE(waitFor([&] { return big.has_value(); }, 20000));
    const QString text = big->value("content").toArray().at(0).toObject().value("text").toString();
    EXPECT_TRUE(text.startsWith("big.txt: TXT, 400000 characters.\n\nLedger line\n")) << text.left(80).toStdString();
    EXPECT_TRUE(text.endsWith("\n[stopped at 400000 characters for length]"));
    EXPECT_FALSE(big->value("isError").toBool());
    const qint64 grown = residentKiB() - before;
    EXPECT_LT(grown, 64 * 1024) << "resident memory grew by " << grown << " KiB";

    struct Case {
        const char *file;
        QString text;
    };
    for (const Case &c : std::vector<Case>{
             {"zeros.txt", "zeros.txt could not be read as TXT. It may be damaged or not really that format."},
             {"big.docx", "big.docx is 1536 MB; doc_text reads DOCX files of up to 64 MB. Ask the CA for a smaller "
                          "copy or only the part that matters."},
             {"big.pdf", "big.pdf is 1536 MB; doc_text reads PDF files of up to 256 MB. Ask the CA for a smaller "
                         "copy or only the part that matters."},
         }) {
        const ToolAnswer a = read(c.file);
        EXPECT_EQ(a.text, c.text);
        EXPECT_TRUE(a.isError) << c.file;
    }
    EXPECT_LT(residentKiB() - before, 64 * 1024);
}

TEST_F(DocTextTest, OnlyFilesInsideTheClientsFolder)
{
    put("Quenby/a.txt", "inside");
    home->write("secret.txt", "outside");
    const QString outside = QFileInfo(home->file("secret.txt")).canonicalFilePath();
    ASSERT_TRUE(QFile::link(home->file("secret.txt"), home->file("Clients/Quenby/link.txt")));
    ASSERT_TRUE(QFile::link(home->path(), home->file("Clients/up")));
    ASSERT_TRUE(QFile::link(root + "/Quenby/a.txt", home->file("Clients/inner.txt")));

    struct Case {
        QJsonValue path;
        QString text;
        bool isError;
    };
    const QString refused = " is outside the clients folder.";
    const std::vector<Case> cases = {
        {QJsonValue(), "path is required.", true},
        {"", "path is required.", true},
        {42, "path is required.", true},
        {"Quenby/a.txt", "a.txt: TXT, 6 characters.\n\ninside", false},
        {"./Quenby/../Quenby/a.txt", "a.txt: TXT, 6 characters.\n\ninside", false},
        {root + "/Quenby/a.txt", "a.txt: TXT, 6 characters.\n\ninside", false},
        {"inner.txt", "a.txt: TXT, 6 characters.\n\ninside", false}, // a link that stays inside
        {"../secret.txt", "Refused: " + outside + refused, true},
        {outside, "Refused: " + outside + refused, true},
        {"Quenby/link.txt", "Refused: " + outside + refused, true},
        {"up/secret.txt", "Refused: " + outside + refused, true},
        {"/etc/hostname", "Refused: /etc/hostname" + refused, true},
        {".", "Refused: " + root + refused, true},
        {root, "Refused: " + root + refused, true},
        {"Quenby/missing.pdf", "No file at " + root + "/Quenby/missing.pdf.", true},
    };
    for (const Case &c : cases) {
        QJsonObject args;
        if (!c.path.isUndefined() && !c.path.isNull())
            args.insert("path", c.path);
        const ToolAnswer a = run("doc_text", args);
        EXPECT_EQ(a.text.toStdString(), c.text.toStdString()) << show(c.path);
        EXPECT_EQ(a.isError, c.isError) << show(c.path);
    }

    // Without a clients folder the home folder is the fence.
    QFile::remove(WORK_ENV);
    EXPECT_EQ(read("secret.txt").text, "secret.txt: TXT, 7 characters.\n\noutside");
}

} // namespace
