#include "erp/ErpTools.h"
#include "erp/ErpText.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

std::optional<ErpTools::Period> ErpTools::period(const QString &text)
{
    static const QRegularExpression dashed(QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{4})-([0-9]{1,2})")));
    static const QRegularExpression compact(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{6}")));
    int year = 0, month = 0;
    if (const auto m = dashed.match(text); m.hasMatch()) {
        year = m.captured(1).toInt();
        month = m.captured(2).toInt();
    } else if (compact.match(text).hasMatch()) {
        month = text.left(2).toInt();
        year = text.right(4).toInt();
    } else {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || year < 2017 || year > 2100)
        return std::nullopt;
    // Return periods are months of the Indian calendar day; the Gregorian
    // month length is the same in every zone, so the date alone decides.
    const QDate first(year, month, 1);
    Period p;
    p.ym = QString::asprintf("%04d-%02d", year, month);
    p.fp = QString::asprintf("%02d%04d", month, year);
    p.from = p.ym + QStringLiteral("-01");
    p.to = p.ym + QLatin1Char('-') + QString::number(first.daysInMonth());
    return p;
}

namespace {

// The digits of a finite, non-negative number rounded to two decimals, half
// to even on its shortest decimal form (what the number reads as, not the
// binary value behind it): "1234567.50" for 1234567.5.
QString twoDecimals(double value)
{
    // Shortest round-trip form, as digits and a decimal exponent.
    const QString shortest = QString::number(value, 'e', QLocale::FloatingPointShortest);
    const qsizetype e = shortest.indexOf(QLatin1Char('e'));
    QString mantissa = shortest.left(e);
    const int exponent = shortest.mid(e + 1).toInt();
    mantissa.remove(QLatin1Char('.'));
    // value = 0.d1d2d3... * 10^(exponent + 1)
    const int point = exponent + 1;
    QString intPart, frac;
    if (point <= 0) {
        intPart = QStringLiteral("0");
        frac = QString(-point, QLatin1Char('0')) + mantissa;
    } else if (point >= mantissa.size()) {
        intPart = mantissa + QString(point - mantissa.size(), QLatin1Char('0'));
    } else {
        intPart = mantissa.left(point);
        frac = mantissa.mid(point);
    }
    while (frac.size() < 3)
        frac.append(QLatin1Char('0'));
    QString kept = intPart + frac.left(2);
    const QString rest = frac.mid(2);
    bool up = false;
    if (rest.at(0) > QLatin1Char('5'))
        up = true;
    else if (rest.at(0) == QLatin1Char('5')) {
        const bool beyond = rest.mid(1).contains(QRegularExpression(QStringLiteral("[1-9]")));
        up = beyond || (kept.back().digitValue() % 2 == 1);
    }
    if (up) {
        qsizetype i = kept.size() - 1;
        while (i >= 0) {
            if (kept.at(i) == QLatin1Char('9')) {
                kept[i] = QLatin1Char('0');
                --i;
            } else {
                kept[i] = QChar(kept.at(i).unicode() + 1);
                break;
            }
        }
        if (i < 0)
            kept.prepend(QLatin1Char('1'));
    }
    while (kept.size() > 3 && kept.at(0) == QLatin1Char('0'))
        kept.remove(0, 1);
    return kept.left(kept.size() - 2) + QLatin1Char('.') + kept.right(2);
}

// Indian grouping: the last three integer digits, then groups of two.
QString grouped(const QString &digits)
{
    if (digits.size() <= 3)
        return digits;
    QString head = digits.left(digits.size() - 3);
    const QString tail = digits.right(3);
    QStringList groups;
    while (head.size() > 2) {
        groups.prepend(head.right(2));
        head.chop(2);
    }
    groups.prepend(head);
    return groups.join(QLatin1Char(',')) + QLatin1Char(',') + tail;
}

QString formatted(double value)
{
    const QString sign = std::signbit(value) && value != 0 ? QStringLiteral("-") : QString();
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return sign + QStringLiteral("\u221E");
    const QString fixed = twoDecimals(std::fabs(value));
    const qsizetype dot = fixed.indexOf(QLatin1Char('.'));
    return sign + grouped(fixed.left(dot)) + fixed.mid(dot);
}

} // namespace

QString ErpTools::money(const std::optional<QJsonValue> &value)
{
    double number = 0;
    if (value && value->isDouble()) {
        number = value->toDouble();
    } else if (value && value->isBool()) {
        number = value->toBool() ? 1 : 0;
    } else {
        const QString text = value ? ErpText::plain(*value) : QString();
        static const QRegularExpression numeric(QRegularExpression::anchoredPattern(
            QStringLiteral("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?")));
        if (!numeric.match(text).hasMatch())
            return text;
        bool ok = false;
        number = QLocale::c().toDouble(text, &ok);
        if (!ok && !std::isinf(number)) // too small to tell from zero
            number = 0;
    }
    return QStringLiteral("\u20B9") + formatted(number);
}
