#pragma once
// A fixture for the kit's tests: the desktop's answers (dark or light,
// reduced motion) are scripted, and the theme's choice is put back afterwards.
#include "platform/Appearance.h"
#include "ui/Theme.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>

namespace UiTestKit {

inline bool desktopDark = false;
inline bool desktopReduceMotion = false;

class UiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedMode_ = Theme::mode();
        savedOverride_ = Theme::override();
        savedDark_ = Appearance::Hooks::prefersDark;
        savedMotion_ = Appearance::Hooks::reduceMotion;
        desktopDark = false;
        desktopReduceMotion = false;
        Appearance::Hooks::prefersDark = [] { return desktopDark; };
        Appearance::Hooks::reduceMotion = [] { return desktopReduceMotion; };
        Theme::setMode(QStringLiteral("system"));
        Theme::setOverride(std::nullopt);
    }
    void TearDown() override
    {
        Theme::setMode(savedMode_);
        Theme::setOverride(savedOverride_);
        Appearance::Hooks::prefersDark = savedDark_;
        Appearance::Hooks::reduceMotion = savedMotion_;
    }

    // Forces the scheme for the rest of the test.
    static void scheme(bool dark) { Theme::setOverride(dark ? QStringLiteral("dark") : QStringLiteral("light")); }
    // Changes the desktop's reduce-motion setting and announces it.
    static void reduceMotion(bool on)
    {
        desktopReduceMotion = on;
        emit Appearance::shared()->reduceMotionChanged();
    }

private:
    QString savedMode_;
    std::optional<QString> savedOverride_;
    std::function<bool()> savedDark_, savedMotion_;
};

// Gives a host widget a plain opaque background of one colour.
inline void backdrop(QWidget &host, const QColor &color, const QSize &size)
{
    host.resize(size);
    host.setAutoFillBackground(true);
    QPalette p = host.palette();
    p.setColor(QPalette::Window, color);
    host.setPalette(p);
}

// The widget drawn at one device pixel per point.
inline QImage grab(QWidget *w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Whether two colours are within tol on every channel (0..255), alpha included.
inline ::testing::AssertionResult near(const QColor &actual, const QColor &expected, int tol = 12)
{
    const QColor a = actual.toRgb(), e = expected.toRgb();
    const int d = std::max({std::abs(a.red() - e.red()), std::abs(a.green() - e.green()),
                            std::abs(a.blue() - e.blue()), std::abs(a.alpha() - e.alpha())});
    if (d <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "colour " << a.name(QColor::HexArgb).toStdString() << " is not near "
                                         << e.name(QColor::HexArgb).toStdString() << " (off by " << d << ")";
}

// `over` composited on an opaque `under`.
inline QColor composite(const QColor &over, const QColor &under)
{
    const float a = over.alphaF();
    return QColor::fromRgbF(over.redF() * a + under.redF() * (1 - a), over.greenF() * a + under.greenF() * (1 - a),
                            over.blueF() * a + under.blueF() * (1 - a), 1.0f);
}

} // namespace UiTestKit
