#include "platform/SecretStore.h"
#include "support/TestKit.h"

namespace {

void exerciseStore()
{
    const QString svc = "in.hallix.velto.test";
    SecretStore::remove(svc, "ca@firm");
    EXPECT_FALSE(SecretStore::get(svc, "ca@firm"));
    EXPECT_TRUE(SecretStore::set(svc, "ca@firm", "pässwörd 1"));
    EXPECT_EQ(SecretStore::get(svc, "ca@firm"), QString("pässwörd 1"));
    EXPECT_TRUE(SecretStore::set(svc, "ca@firm", "second"));
    EXPECT_EQ(SecretStore::get(svc, "ca@firm"), QString("second")) << "saving replaces";
    EXPECT_FALSE(SecretStore::get(svc, "other"));
    EXPECT_FALSE(SecretStore::get("in.hallix.velto.other", "ca@firm")) << "services are apart";
    EXPECT_TRUE(SecretStore::remove(svc, "ca@firm"));
    EXPECT_FALSE(SecretStore::get(svc, "ca@firm"));
    EXPECT_TRUE(SecretStore::remove(svc, "ca@firm")) << "removing nothing is fine";
}

TEST(SecretStore, MemoryStore)
{
    SecretStore::useMemory();
    exerciseStore();
}

// The desktop's secret service; the test command runs a private, unlocked
// keyring. Outside it (no session bus) there is nothing to test against.
TEST(SecretStore, DesktopSecretService)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || !qEnvironmentVariableIsSet("VELTO_TEST_KEYRING"))
        GTEST_SKIP() << "no private keyring in this run";
    SecretStore::useKeychain();
    exerciseStore();
    SecretStore::useMemory();
}

} // namespace
