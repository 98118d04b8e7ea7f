// SPDX-License-Identifier: Apache-2.0
// Server activation and the host service sets.
#include <gtest/gtest.h>

#include "base/host_globals.h"
#include "entry/servers.h"
#include "tests/support/fake_host.h"

using namespace velmora;
using testhost::FakeHost;

namespace {

const std::vector<std::string> kShaderSet = {"LW Item Info 3",      "LW Light Info 3",      "LW Object Info 4",
                                             "LW Scene Info 3",     "Global Render Memory", "LW Image List 3",
                                             "Surface Functions 2", "LW Backdrop Info 2"};
const std::vector<std::string> kVparamSet = {"LWVParmFuncs 2", "Animation Envelopes", "Texture Functions 3",
                                             "Channel Info 2"};
const std::vector<std::string> kLibrarySet = {
    "LW Item Info 3", "LW Light Info 3",     "LW Object Info 4",    "Texture Functions 3", "LW Image List 3",
    "LWVParmFuncs 2", "Animation Envelopes", "Surface Functions 2", "Channel Info 2",      "Scene Objects 4"};

class Activation : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostGlobals();
        host.makeCurrent();
    }
    void TearDown() override { resetHostGlobals(); }

    int activateShader(int version, LWShaderHandler *handler) {
        return shaderHandlerActivate(version, FakeHost::lookup, handler, nullptr);
    }

    FakeHost host;
    LWInstanceFuncs inst = {};
    LWItemFuncs item = {};
    LWRenderFuncs rend = {};
};

bool allNull(const ShaderGlobals &g) {
    return !g.itemInfo && !g.lightInfo && !g.objectInfo && !g.sceneInfo && !g.globalPool && !g.imageList &&
           !g.surfaceFuncs && !g.backdropInfo;
}

}  // namespace

TEST(ModuleDescriptor, HoldsTheHostWordsAndTwoServers) {
    EXPECT_EQ(_mod_descrip.sysSync, 0x04121994u);
    EXPECT_EQ(_mod_descrip.sysVersion, 3u);
    EXPECT_EQ(_mod_descrip.sysMachine, 0x300u);
    ASSERT_NE(_mod_descrip.startup, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(_mod_descrip.startup()), 4u);

    const ServerRecord *s = _mod_descrip.serverDefs;
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s[0].className, "ShaderHandler");
    EXPECT_STREQ(s[0].name, "QZ_velmora");
    EXPECT_STREQ(s[1].className, "ShaderInterface");
    EXPECT_STREQ(s[1].name, "QZ_velmora");
    EXPECT_EQ(s[0].tagInfo, nullptr);
    EXPECT_EQ(s[2].className, nullptr);
    EXPECT_EQ(s[2].activate, nullptr);
}

TEST_F(Activation, WrongVersionsStoreNothing) {
    for (int version : {3, 5}) {
        LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
        EXPECT_EQ(activateShader(version, &handler), 1) << "version " << version;
        EXPECT_EQ(handler.evaluate, nullptr);
        EXPECT_EQ(inst.create, nullptr);
        EXPECT_EQ(hostGlobal, nullptr);
        EXPECT_TRUE(allNull(shaderGlobals));

        LWInterface ui = {nullptr, reinterpret_cast<LWXPanelID>(1), nullptr, nullptr};
        EXPECT_EQ(shaderInterfaceActivate(version, FakeHost::lookup, &ui, nullptr), 1);
        EXPECT_EQ(ui.panel, reinterpret_cast<LWXPanelID>(1));
        EXPECT_EQ(panelFuncs, nullptr);
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Activation, FillsTheHandlerAndLooksUpTheShaderSetInOrder) {
    LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
    ASSERT_EQ(activateShader(4, &handler), 0);
    EXPECT_EQ(host.names(), kShaderSet);
    for (const auto &c : host.calls) EXPECT_EQ(c.second, 0) << c.first;

    EXPECT_NE(handler.evaluate, nullptr);
    EXPECT_NE(handler.flags, nullptr);
    EXPECT_NE(inst.create, nullptr);
    EXPECT_NE(inst.destroy, nullptr);
    EXPECT_NE(inst.copy, nullptr);
    EXPECT_NE(inst.load, nullptr);
    EXPECT_NE(inst.save, nullptr);
    EXPECT_NE(inst.descln, nullptr);
    EXPECT_NE(item.useItems, nullptr);
    EXPECT_NE(item.changeID, nullptr);
    EXPECT_NE(rend.init, nullptr);
    EXPECT_NE(rend.cleanup, nullptr);
    EXPECT_NE(rend.newTime, nullptr);
    EXPECT_EQ(hostGlobal, &FakeHost::lookup);
    EXPECT_EQ(shaderGlobals.itemInfo, host.tables["LW Item Info 3"]);
    EXPECT_EQ(shaderGlobals.backdropInfo, host.tables["LW Backdrop Info 2"]);
}

TEST_F(Activation, AcceptsAHandlerWithoutItemTable) {
    LWShaderHandler handler = {&inst, nullptr, &rend, nullptr, nullptr};
    EXPECT_EQ(activateShader(4, &handler), 0);
    EXPECT_EQ(handler.item, nullptr);
    EXPECT_NE(rend.newTime, nullptr);
    EXPECT_NE(handler.evaluate, nullptr);
}

TEST_F(Activation, SecondActivationRefreshesShaderSetOnly) {
    LWShaderHandler handler = {&inst, &item, &rend, nullptr, nullptr};
    ASSERT_EQ(activateShader(4, &handler), 0);
    acquireVparamGlobals();
    acquireLibraryGlobals();
    const VparamGlobals vparamBefore = vparamGlobals;
    const LibraryGlobals libraryBefore = libraryGlobals;

    // The host now answers other tables, and lacks one service.
    FakeHost second;
    static char otherItemInfo[8];
    second.tables["LW Item Info 3"] = otherItemInfo;
    second.remove("LW Backdrop Info 2");
    second.remove("LWVParmFuncs 2");
    second.makeCurrent();

    ASSERT_EQ(activateShader(4, &handler), 0);
    EXPECT_EQ(second.names(), kShaderSet);
    EXPECT_EQ(shaderGlobals.itemInfo, static_cast<void *>(otherItemInfo));
    EXPECT_EQ(shaderGlobals.backdropInfo, nullptr);

    acquireVparamGlobals();
    acquireLibraryGlobals();
    EXPECT_EQ(second.calls.size(), kShaderSet.size()) << "acquired sets are not looked up again";
    EXPECT_EQ(vparamGlobals.vparmFuncs, vparamBefore.vparmFuncs);
    EXPECT_EQ(libraryGlobals.itemInfo, libraryBefore.itemInfo);
    EXPECT_EQ(libraryGlobals.objectFuncs, libraryBefore.objectFuncs);
}

TEST_F(Activation, FirstNeedSetsLookUpInOrderOnce) {
    hostGlobal = FakeHost::lookup;
    acquireVparamGlobals();
    EXPECT_EQ(host.names(), kVparamSet);
    acquireVparamGlobals();
    EXPECT_EQ(host.calls.size(), kVparamSet.size());

    host.calls.clear();
    acquireLibraryGlobals();
    EXPECT_EQ(host.names(), kLibrarySet);
    acquireLibraryGlobals();
    EXPECT_EQ(host.calls.size(), kLibrarySet.size());
}

TEST_F(Activation, PartlyMissingSetsAreNotRetried) {
    hostGlobal = FakeHost::lookup;
    host.tables.clear();
    host.tables["Channel Info 2"] = &host;  // only the fourth vparam service exists
    acquireVparamGlobals();
    acquireVparamGlobals();
    // None of the first three was found, so the second call looks up again.
    EXPECT_EQ(host.calls.size(), 2 * kVparamSet.size());

    host.calls.clear();
    host.tables["Scene Objects 4"] = &host;
    acquireLibraryGlobals();
    acquireLibraryGlobals();
    EXPECT_EQ(host.calls.size(), kLibrarySet.size()) << "one service found: the set counts as acquired";
}

TEST_F(Activation, InterfaceWithoutPanelServiceSucceedsWithNullPanel) {
    host.remove("LWXPanel");
    LWInterface ui = {nullptr, reinterpret_cast<LWXPanelID>(1), reinterpret_cast<LWError (*)(LWInstance)>(1),
                      nullptr};
    EXPECT_EQ(shaderInterfaceActivate(4, FakeHost::lookup, &ui, nullptr), 0);
    EXPECT_EQ(host.names(), std::vector<std::string>{"LWXPanel"});
    EXPECT_EQ(ui.panel, nullptr);
    EXPECT_EQ(ui.options, nullptr);
    EXPECT_EQ(ui.command, nullptr);
}
