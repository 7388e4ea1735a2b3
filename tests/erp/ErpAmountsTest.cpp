#include "erp/ErpTools.h"
#include "support/TestKit.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

TEST(ErpPeriod, ReadsTheThreeFormsOfAMonth)
{
    struct Case {
        QString text, ym, fp, from, to;
    };
    const std::vector<Case> cases = {
        {"2026-08", "2026-08", "082026", "2026-08-01", "2026-08-31"},
        {"2026-8", "2026-08", "082026", "2026-08-01", "2026-08-31"},
        {"082026", "2026-08", "082026", "2026-08-01", "2026-08-31"},
        {"2026-02", "2026-02", "022026", "2026-02-01", "2026-02-28"},
        {"2028-02", "2028-02", "022028", "2028-02-01", "2028-02-29"},
        {"2100-02", "2100-02", "022100", "2100-02-01", "2100-02-28"},
        {"2026-04", "2026-04", "042026", "2026-04-01", "2026-04-30"},
        {"2017-01", "2017-01", "012017", "2017-01-01", "2017-01-31"},
        {"2100-12", "2100-12", "122100", "2100-12-01", "2100-12-31"},
        {"032025", "2025-03", "032025", "2025-03-01", "2025-03-31"},
    };
    for (const Case &c : cases) {
        const auto p = ErpTools::period(c.text);
        ASSERT_TRUE(p) << c.text.toStdString();
        EXPECT_EQ(p->ym, c.ym);
        EXPECT_EQ(p->fp, c.fp);
        EXPECT_EQ(p->from, c.from);
        EXPECT_EQ(p->to, c.to);
    }
    for (const QString bad : {"2026-08 ", " 2026-08", "2026-008", "202608", "2026-00", "2026-13", "2016-05",
                               "2101-01", "2016-12", "132026", "002026", "2026/08", "Aug 2026", "",
                               "\u0662\u0660\u0662\u0666-\u0660\u0668", "2026-8\n"})
        EXPECT_FALSE(ErpTools::period(bad)) << bad.toStdString();
}

TEST(ErpMoney, WritesRupeesWithIndianGrouping)
{
    const std::vector<std::pair<std::optional<QJsonValue>, QString>> cases = {
        {QJsonValue(1234567.5), "\u20B912,34,567.50"},
        {QJsonValue("250"), "\u20B9250.00"},
        {QJsonValue(0), "\u20B90.00"},
        {QJsonValue(-1234), "\u20B9-1,234.00"},
        {QJsonValue(999), "\u20B9999.00"},
        {QJsonValue(1000), "\u20B91,000.00"},
        {QJsonValue(100000), "\u20B91,00,000.00"},
        {QJsonValue(123456789012.0), "\u20B91,23,45,67,89,012.00"},
        {QJsonValue(0.125), "\u20B90.12"},        // half to even
        {QJsonValue(0.135), "\u20B90.14"},        // as the number reads, not its binary neighbour
        {QJsonValue(2.675), "\u20B92.68"},
        {QJsonValue(99999.995), "\u20B91,00,000.00"},
        {QJsonValue(0.004), "\u20B90.00"},
        {QJsonValue(1e-7), "\u20B90.00"},
        {QJsonValue(1e21), "\u20B91,00,00,00,00,00,00,00,00,00,000.00"},
        {QJsonValue(true), "\u20B91.00"},
        {QJsonValue(false), "\u20B90.00"},
        {QJsonValue("-12.5e2"), "\u20B9-1,250.00"},
        {QJsonValue("+.5"), "\u20B90.50"},
        {QJsonValue("7."), "\u20B97.00"},
        {QJsonValue("n/a"), "n/a"},
        {QJsonValue(" 250"), " 250"},
        {QJsonValue("1,234"), "1,234"},
        {QJsonValue(""), ""},
        {QJsonValue(QJsonValue::Null), "null"},
        {QJsonValue(QJsonArray{1}), "[1]"},
        {std::nullopt, ""},
    };
    for (const auto &[value, want] : cases)
        EXPECT_EQ(ErpTools::money(value), want) << (value ? value->toVariant().toString().toStdString() : "none");
}

} // namespace
