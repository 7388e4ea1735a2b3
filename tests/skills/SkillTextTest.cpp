#include "skills/SkillText.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// A quoted value reads back as the very text, whatever it holds; the escapes
// used are common to double-quoted front matter and JSON, so JSON checks it.
TEST(SkillText, QuotedValuesReadBackWhole)
{
    for (const QString &text : {QStringLiteral("GSTR-1: monthly"), QStringLiteral("# not a comment"),
                                QStringLiteral("- not a list"), QStringLiteral("\"quoted\" and \\back\\slash"),
                                QStringLiteral("tab\there, bell\x07, del\x7F"),
                                QStringLiteral("line\u2028separator\u0085next"), QStringLiteral("₹ और ગુજરાતી"),
                                QString()}) {
        const QString q = SkillText::quoted(text);
        EXPECT_TRUE(q.startsWith('"') && q.endsWith('"')) << q.toStdString();
        for (QChar c : q)
            EXPECT_TRUE(c.unicode() >= 0x20 && c.unicode() != 0x7F && c.unicode() != 0x2028 && c.unicode() != 0x85)
                << q.toStdString();
        const QJsonDocument doc = QJsonDocument::fromJson(("[" + q + "]").toUtf8());
        EXPECT_EQ(doc.array().at(0).toString().toStdString(), text.toStdString());
    }
    EXPECT_EQ(SkillText::quoted("a \"b\" c:\\d"), "\"a \\\"b\\\" c:\\\\d\"");
}

TEST(SkillText, CharactersAsTheyAreSeen)
{
    EXPECT_EQ(SkillText::characterCount(""), 0);
    EXPECT_EQ(SkillText::characterCount("abc"), 3);
    EXPECT_EQ(SkillText::characterCount(QStringLiteral("e\u0301🇮🇳")), 2);
}

} // namespace
