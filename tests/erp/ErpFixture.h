#pragma once
#include "FakeErp.h"
#include "core/EnvFile.h"
#include "core/Globals.h"
#include "erp/ErpClient.h"
#include "erp/ErpVault.h"
#include "platform/Dispatch.h"
#include "platform/SecretStore.h"
#include "support/TestKit.h"

// A throwaway home whose cloud address is the fake cloud, a fake ERP, the
// CA signed in, and tokens in the in-memory secret store.
class ErpTest : public ::testing::Test {
protected:
    std::unique_ptr<ErpFakes::FakeCloud> cloud;
    std::unique_ptr<ErpFakes::FakeErp> erp;
    std::unique_ptr<TestKit::TempHome> home;
    double savedScale = 0;

    void SetUp() override
    {
        TestKit::FakeHttpServer::trustTestCa();
        SecretStore::useMemory();
        ErpVault::store = ErpVault::keychain();
        // Request time-outs stay long enough for a loaded machine; no test
        // here waits for one to run out.
        savedScale = Dispatch::timeScale;
        Dispatch::timeScale = 0.2;
        cloud = std::make_unique<ErpFakes::FakeCloud>();
        erp = std::make_unique<ErpFakes::FakeErp>();
        home = std::make_unique<TestKit::TempHome>(QMap<QString, QString>{{"VELTO_API", cloud->base()}});
        writeSecret(SEAT_ENV, "PAVI_SEAT_TOKEN=seat-1\n");
    }

    void TearDown() override
    {
        home.reset();
        erp.reset();
        cloud.reset();
        Dispatch::timeScale = savedScale;
        ErpVault::store = ErpVault::keychain();
    }
};

// Runs an operation that answers through a completion and waits for it; the
// answer must come once, on the main thread, and never before the call returns.
template <typename T, typename Start>
T await(Start start)
{
    std::optional<T> got;
    int calls = 0;
    bool returned = false;
    bool early = false;
    bool offMain = false;
    start([&](const T &value) {
        ++calls;
        early |= !returned;
        offMain |= !Dispatch::isMainThread();
        got = value;
    });
    returned = true;
    EXPECT_TRUE(TestKit::waitFor([&] { return calls > 0; }, 20000));
    TestKit::spin(30);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(early) << "answered before the call returned";
    EXPECT_FALSE(offMain);
    return got.value_or(T{});
}
