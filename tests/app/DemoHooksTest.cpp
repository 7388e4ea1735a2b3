// The window snapshots of a demo run: the built program, offscreen, writes
// the main window's picture and the named panel's, then ends itself with
// status 0.
#include "AppTestKit.h"
#include "support/FakeHttpServer.h"

#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QImage>

using namespace AppTestKit;

namespace {

struct SnapshotRun {
    QString panel;           // VELTO_OPEN_PANEL; empty: unset
    bool wantPanel = false;  // a panel picture is written
    QSize panelSize;         // when known
    bool folder = true;      // the pictures' folder exists
};

TEST(WindowSnapshots, MainAndPanelPicturesThenTheAppEndsItself)
{
    ScopedTimeScale realTime(1);
    TestKit::FakeHttpServer cloud;
    const QList<SnapshotRun> runs{
        {"usage", true, {}},
        // Not signed in: the sign-in window is the one on show.
        {"login", true, QSize(460, 470)},
        {"", false, {}},
        // Nowhere to write: no pictures, and still the app ends itself.
        {"usage", false, {}, false},
    };
    // The runs go side by side, each in its own home: each waits 6 s before
    // its pictures.
    TestKit::TempHome home;
    QStringList homes;
    std::vector<std::unique_ptr<Process>> apps;
    for (const SnapshotRun &run : runs) {
        const QString own = home.file("run" + QString::number(homes.size()));
        const QString engine = home.write(own.mid(home.path().size() + 1) + "/.velto/bin/velto-engine", "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(engine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (run.folder)
            QDir().mkpath(own + "/shots");
        QMap<QString, QString> env{{"VELTO_DEMO_HOME", own}, {"VELTO_SNAPSHOT", own + "/shots/shot"}};
        if (!run.panel.isEmpty())
            env.insert("VELTO_OPEN_PANEL", run.panel);
        apps.push_back(launchVelto(home, cloud.baseUrl(), env));
        ASSERT_TRUE(apps.back());
        homes << own;
    }
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const SnapshotRun &run = runs[i];
        SCOPED_TRACE(run.panel.toStdString());
        ASSERT_TRUE(apps[size_t(i)]->waitForExit(60000)) << "the app did not end itself";
        EXPECT_EQ(apps[size_t(i)]->exitCode(), 0);
        if (!run.folder) {
            EXPECT_FALSE(QFile::exists(homes[i] + "/shots"));
            continue;
        }
        const QImage main(homes[i] + "/shots/shot-main.png");
        ASSERT_FALSE(main.isNull());
        EXPECT_GE(main.width(), 1000);
        EXPECT_GE(main.height(), 640);
        const QImage panel(homes[i] + "/shots/shot-panel.png");
        EXPECT_EQ(!panel.isNull(), run.wantPanel);
        if (run.wantPanel) {
            EXPECT_NE(panel.size(), main.size()) << "the panel's own window, not the main one";
        }
        if (run.panelSize.isValid()) {
            EXPECT_EQ(panel.size(), run.panelSize);
        }
        EXPECT_EQ(QDir(homes[i] + "/shots").entryList(QDir::Files).size(), run.wantPanel ? 2 : 1);
    }
}

} // namespace
