// CKesPluginRegistrar: plug-ins that are applications, exact names, the list
// read once.
#include <kes/registrar/kespluginregistrar.h>

#include "support.h"

#include <list>
#include <string>

namespace regtest {
namespace {

class Plugins : public RegistrarTest {
  protected:
    void SetUp() override {
        RegistrarTest::SetUp();
        // Workbench hosts Capture (an application) and Ghost (none).
        CreateApp("Workbench\\Plugins\\Capture");
        CreateApp("Workbench\\Plugins\\Ghost");
        CreateApp("Capture");
        // Routing hosts Latency.
        CreateApp("Routing\\Plugins\\Latency");
        CreateApp("Latency");
    }
};

TEST_F(Plugins, OnlyPluginsThatAreApplicationsCountAndNamesMatchExactly) {
    CKesPluginRegistrar plugins;
    ASSERT_EQ(plugins.Open(w("Workbench")), 0);
    EXPECT_TRUE(plugins.IsPluginRegistered(w("Capture")));
    EXPECT_TRUE(plugins.IsPluginRegistered(std::string("Capture")));
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Ghost")));
    EXPECT_FALSE(plugins.IsPluginRegistered(w("capture")));
    EXPECT_FALSE(plugins.IsPluginRegistered(w("CAPTURE")));

    std::list<std::string> names = {"stale"};
    EXPECT_EQ(plugins.ListPluginNames(names), 0);
    EXPECT_EQ(names, std::list<std::string>{"Capture"});
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Plugins, TheListIsFrozenOnceFilledEvenAcrossAnotherOpen) {
    CKesPluginRegistrar plugins;
    ASSERT_EQ(plugins.Open(std::string("Workbench")), 0);
    std::list<host::wstring> names = {w("stale")};
    EXPECT_EQ(plugins.ListPluginNames(names), 0);
    EXPECT_EQ(names, std::list<host::wstring>{w("Capture")});

    // A plug-in added later, and the application Ghost appearing, change nothing.
    CreateApp("Workbench\\Plugins\\Analyzer");
    CreateApp("Analyzer");
    CreateApp("Ghost");
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Analyzer")));
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Ghost")));

    // Closing and opening another application keeps the first one's list.
    EXPECT_EQ(plugins.Close(), 0);
    ASSERT_EQ(plugins.Open(w("Routing")), 0);
    EXPECT_TRUE(plugins.IsPluginRegistered(w("Capture")));
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Latency")));
    EXPECT_EQ(plugins.ListPluginNames(names), 0);
    EXPECT_EQ(names, std::list<host::wstring>{w("Capture")});

    // A new registrar reads the registry as it is now.
    CKesPluginRegistrar fresh;
    ASSERT_EQ(fresh.Open(w("Workbench")), 0);
    EXPECT_EQ(fresh.ListPluginNames(names), 0);
    EXPECT_EQ(names, (std::list<host::wstring>{w("Analyzer"), w("Capture"), w("Ghost")}));
}

TEST_F(Plugins, AnEmptyOrUnopenedListIsLookedForAgainAtEveryCall) {
    CKesPluginRegistrar plugins;
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Capture")));  // nothing open
    std::list<host::wstring> names = {w("stale")};
    EXPECT_EQ(plugins.ListPluginNames(names), 0);
    EXPECT_TRUE(names.empty());

    CreateApp("Empty\\Plugins");
    ASSERT_EQ(plugins.Open(w("Empty")), 0);
    EXPECT_FALSE(plugins.IsPluginRegistered(w("Capture")));
    CreateApp("Empty\\Plugins\\Capture");  // found by the next call
    EXPECT_TRUE(plugins.IsPluginRegistered(w("Capture")));
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(Plugins, OpenFailsQuietlyWithoutAPluginsKeyAndLoudlyWhenAlreadyOpen) {
    CKesPluginRegistrar plugins;
    EXPECT_EQ(plugins.Open(w("Capture")), KES_E_NOT_FOUND);
    EXPECT_EQ(TakeRaised(), Raises{});
    ASSERT_EQ(plugins.Open(w("Workbench")), 0);
    EXPECT_EQ(plugins.Open(w("Routing")), KES_E_INVALID_STATE);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_INVALID_STATE, "registry key already open"}}));
    // The open key is read-only.
    EXPECT_EQ(plugins.SetValue(w("x"), 1u), KES_E_VALUE_ACCESS);
    TakeRaised();
}

}  // namespace
}  // namespace regtest
