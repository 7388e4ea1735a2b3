#pragma once
// The panels' fixture: a throwaway home whose cloud address is a loopback
// fake, a seat token, the light or dark look forced, the desktop's opener
// recorded, and grabs of windows for a look.
#include "core/Globals.h"
#include "platform/Desktop.h"
#include "support/FakeHttpServer.h"
#include "support/TestKit.h"
#include "ui/Theme.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QWidget>

namespace PanelsTestKit {

class PanelTest : public TestKit::HomeTest {
protected:
    std::unique_ptr<TestKit::FakeHttpServer> cloud;
    std::optional<QString> savedOverride;
    decltype(Desktop::openUrl) savedOpen;
    QList<QUrl> opened;

    void SetUp() override
    {
        HomeTest::SetUp();
        cloud = std::make_unique<TestKit::FakeHttpServer>();
        home->refill({{QStringLiteral("VELTO_API"), cloud->baseUrl()}});
        savedOverride = Theme::override();
        Theme::setOverride(QStringLiteral("light"));
        savedOpen = Desktop::openUrl;
        Desktop::openUrl = [this](const QUrl &u) {
            opened << u;
            return true;
        };
    }
    void TearDown() override
    {
        Desktop::openUrl = savedOpen;
        Theme::setOverride(savedOverride);
        cloud.reset();
        HomeTest::TearDown();
    }

    void seat(const QString &token) const
    {
        home->write(QStringLiteral(".velto/seat.env"), ("PAVI_SEAT_TOKEN=" + token + "\n").toUtf8());
    }
    static void dark(bool on) { Theme::setOverride(on ? QStringLiteral("dark") : QStringLiteral("light")); }

    // Every label text under w, in child order.
    static QStringList texts(QWidget *w)
    {
        QStringList out;
        for (QLabel *l : w->findChildren<QLabel *>())
            if (!l->text().isEmpty())
                out << l->text();
        return out;
    }
    static bool hasText(QWidget *w, const QString &text) { return texts(w).contains(text); }

    // A grab of the window, saved under VELTO_PANEL_SHOTS (when set) for a look.
    static QImage shot(QWidget *w, const QString &name)
    {
        const QImage image = w->grab().toImage();
        const QString dir = qEnvironmentVariable("VELTO_PANEL_SHOTS");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
        }
        return image;
    }
    // Whether the picture's corner shows the look's background.
    static bool paintedIn(const QImage &image, bool darkLook)
    {
        const QColor c = image.pixelColor(2, image.height() - 3);
        return darkLook ? c.lightnessF() < 0.3 : c.lightnessF() > 0.7;
    }
};

} // namespace PanelsTestKit
