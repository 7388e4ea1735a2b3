#include "erp/ErpTools.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "support/TestKit.h"

#include <QFile>

using namespace TestKit;

namespace {

using WorkRootTest = HomeTest;

TEST_F(WorkRootTest, FollowsTheWorkEnvFileAtEveryCall)
{
    EXPECT_EQ(ErpTools::workRoot(), HOME) << "no work env file";

    writeSecret(WORK_ENV, "PAVI_OTHER=1\n");
    EXPECT_EQ(ErpTools::workRoot(), HOME) << "no VELTO_WORK in it";

    writeSecret(WORK_ENV, "VELTO_WORK=\"/srv/CA Clients\"\n");
    EXPECT_EQ(ErpTools::workRoot(), "/srv/CA Clients") << "a new choice counts at once";

    writeSecret(WORK_ENV, "VELTO_WORK=/srv/other/../Clients\n");
    EXPECT_EQ(ErpTools::workRoot(), "/srv/other/../Clients") << "taken as written";

    // An empty value would make every path look inside the clients folder.
    writeSecret(WORK_ENV, "VELTO_WORK=\n");
    EXPECT_EQ(ErpTools::workRoot(), HOME);

    QFile::remove(WORK_ENV);
    EXPECT_EQ(ErpTools::workRoot(), HOME);
}

} // namespace
