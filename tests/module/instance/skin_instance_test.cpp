// SPDX-License-Identifier: Apache-2.0
// The shader instance: defaults, description, copy, render hooks and the options panel.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/host_globals.h"
#include "entry/servers.h"
#include "instance/skin_instance.h"
#include "instance/skin_panel.h"
#include "tests/support/fake_host.h"
#include "vparam/vparam.h"

using namespace velmora;
using testhost::FakeHost;
using testhost::FakeParam;

namespace {

LWSurfaceID const kSurface = reinterpret_cast<LWSurfaceID>(0x50f);

class SkinInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { host.activate(); }
    void TearDown() override {
        for (SkinInstance *s : made) skinDestroy(s);
        resetHostGlobals();
    }
    SkinInstance *create(LWSurfaceID surface = kSurface) {
        LWError err = nullptr;
        SkinInstance *s = static_cast<SkinInstance *>(skinCreate(nullptr, surface, &err));
        EXPECT_EQ(err, nullptr);
        if (s) made.push_back(s);
        return s;
    }
    // The value the host holds for one of the instance's parameters.
    const double *value(Vparam *vp) { return host.parm(vp->parameter)->value; }

    FakeHost host;
    std::vector<SkinInstance *> made;
};

struct ParamCase {
    const char *name;
    Vparam *SkinInstance::*field;
    int envType, texType;
    double value[3];
};

// Construction order, which is also the order the defaults are set in.
const ParamCase kParams[] = {
    {"skin_color", &SkinInstance::skin_color, LWVP_COLOR, LWVPDT_COLOR, {0.6, 0.2, 0.0}},
    {"sheen_color", &SkinInstance::sheen_color, LWVP_COLOR, LWVPDT_COLOR, {1.0, 1.0, 1.0}},
    {"Ksub", &SkinInstance::Ksub, LWVP_PERCENT, LWVPDT_PERCENT, {1.0, 1.0, 1.0}},
    {"Ksheen", &SkinInstance::Ksheen, LWVP_PERCENT, LWVPDT_PERCENT, {0.5, 0.5, 0.5}},
    {"diff_rough", &SkinInstance::diff_rough, LWVP_PERCENT, LWVPDT_PERCENT, {0.15, 0.15, 0.15}},
    {"shadow_amount", &SkinInstance::shadow_amount, LWVP_PERCENT, LWVPDT_PERCENT, {1.0, 1.0, 1.0}},
    {"scatter_wrap", &SkinInstance::scatter_wrap, LWVP_FLOAT, LWVPDT_NOTXTR, {0.5, 0.5, 0.5}},
    {"Ka", &SkinInstance::Ka, LWVP_PERCENT, LWVPDT_PERCENT, {1.0, 1.0, 1.0}},
};

TEST_F(SkinInstanceTest, NewInstanceHoldsTheDefaultsAndDescribesItself) {
    SkinInstance *s = create();
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(skinDescribe(s), "QZ's Velmora Shader version 0.33e");
    EXPECT_EQ(skinDescribe(s), s->description);
    EXPECT_EQ(skinFlags(s), 0x402u);
    EXPECT_EQ(skinUseItems(s), nullptr);
    EXPECT_EQ(s->surface, kSurface);
    EXPECT_EQ(s->sheen_trace, 0);
    EXPECT_EQ(s->trace_eps, 0.001);
    EXPECT_EQ(s->sheen_decay, 0.5);
    EXPECT_STREQ(s->skin_prefix, "");
    EXPECT_STREQ(s->sheen_prefix, "");

    // The eight defaults are the last eight values set, in construction order, each on its own
    // parameter of the right kinds.
    ASSERT_GE(host.setValCalls.size(), 8u);
    const size_t first = host.setValCalls.size() - 8;
    for (size_t i = 0; i < 8; ++i) {
        const ParamCase &c = kParams[i];
        SCOPED_TRACE(c.name);
        Vparam *vp = s->*c.field;
        ASSERT_NE(vp, nullptr);
        EXPECT_EQ(vp->valueType, c.envType);
        EXPECT_EQ(vp->textureKind, c.texType);
        EXPECT_EQ(vp->surface, kSurface);
        const testhost::SetValCall &call = host.setValCalls[first + i];
        EXPECT_EQ(call.parm, vp->parameter);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(call.value[k], c.value[k]) << "component " << k;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(value(vp)[k], c.value[k]) << "component " << k;
    }
}

TEST_F(SkinInstanceTest, ParametersLiveInTheInstancesOwnGroup) {
    for (LWSurfaceID surface : {kSurface, static_cast<LWSurfaceID>(nullptr)}) {
        host.groupsMade.clear();
        SkinInstance *s = create(surface);
        ASSERT_NE(s, nullptr);
        ASSERT_FALSE(host.groupsMade.empty());
        const testhost::FakeGroup *group = host.groupsMade.front();
        EXPECT_EQ(group->name, "QZ_velmora");
        // Under the surface's channels, or at the top level without a surface.
        EXPECT_EQ(group->parent, surface ? host.surfaceGroup : nullptr);
        EXPECT_EQ(host.parm(s->Ksub->parameter)->group, group);
        EXPECT_EQ(host.parm(s->Ksub->parameter)->channel, "Ksub");
    }
}

TEST_F(SkinInstanceTest, CopyTakesTheSourcesValuesAndKeepsTheTargetsOwnParametersAndSurface) {
    SkinInstance *src = create(kSurface);
    SkinInstance *dst = create(reinterpret_cast<LWSurfaceID>(0x777));
    ASSERT_TRUE(src && dst);
    std::strcpy(src->skin_prefix, "key");
    std::strcpy(src->sheen_prefix, "rim");
    src->sheen_trace = 1;
    src->trace_eps = 0.25;
    src->sheen_decay = 3.0;
    host.parm(src->Ksub->parameter)->value[0] = 0.7;
    Vparam *const ownKsub = dst->Ksub;
    const LWVParmID ownKsubParm = dst->Ksub->parameter;

    host.copyCalls.clear();
    EXPECT_EQ(skinCopy(dst, src), nullptr);

    EXPECT_STREQ(dst->skin_prefix, "key");
    EXPECT_STREQ(dst->sheen_prefix, "rim");
    EXPECT_EQ(dst->sheen_trace, 1);
    EXPECT_EQ(dst->trace_eps, 0.25);
    EXPECT_EQ(dst->sheen_decay, 3.0);
    EXPECT_EQ(dst->surface, reinterpret_cast<LWSurfaceID>(0x777));
    EXPECT_EQ(dst->Ksub, ownKsub);
    EXPECT_EQ(dst->Ksub->parameter, ownKsubParm);

    // Contents go through the host's copy, parameter by parameter, in the order of destruction.
    Vparam *SkinInstance::*const order[] = {&SkinInstance::skin_color,   &SkinInstance::sheen_color,
                                            &SkinInstance::Ksub,         &SkinInstance::Ksheen,
                                            &SkinInstance::diff_rough,   &SkinInstance::shadow_amount,
                                            &SkinInstance::scatter_wrap, &SkinInstance::Ka};
    ASSERT_EQ(host.copyCalls.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(host.copyCalls[i].first, (dst->*order[i])->parameter) << i;
        EXPECT_EQ(host.copyCalls[i].second, (src->*order[i])->parameter) << i;
    }
    EXPECT_EQ(value(dst->Ksub)[0], 0.7);
    // Editing the target's parameter leaves the source's alone.
    host.parm(dst->Ksub->parameter)->value[0] = 0.1;
    EXPECT_EQ(value(src->Ksub)[0], 0.7);
}

TEST_F(SkinInstanceTest, DestroyReleasesEveryParameter) {
    SkinInstance *s = create();
    ASSERT_NE(s, nullptr);
    std::vector<FakeParam *> parms;
    for (const ParamCase &c : kParams) parms.push_back(host.parm((s->*c.field)->parameter));
    made.clear();
    skinDestroy(s);
    for (size_t i = 0; i < parms.size(); ++i) EXPECT_TRUE(parms[i]->destroyed) << kParams[i].name;
}

TEST_F(SkinInstanceTest, NewTimeSetsTheRenderTimeOfEveryInstance) {
    SkinInstance *a = create();
    SkinInstance *b = create();
    EXPECT_EQ(skinNewTime(a, 12, 0.5), nullptr);
    EXPECT_EQ(renderTime, 0.5);
    EXPECT_EQ(skinNewTime(b, 30, 1.25), nullptr);
    EXPECT_EQ(renderTime, 1.25);  // the last instance to receive new-time sets it
    EXPECT_EQ(skinRenderInit(a, LWINIT_RENDER), nullptr);
    skinRenderCleanup(a);
}

// --- Options panel -------------------------------------------------------------------------------

TEST_F(SkinInstanceTest, PanelSetKeepsAtMostSixteenPrefixCharacters) {
    SkinInstance *s = create();
    struct Case {
        const char *text;
        const char *kept;
    };
    const Case cases[] = {
        {"abcdefghijklmnop", "abcdefghijklmnop"},      // 16: all kept
        {"abcdefghijklmnopq", "abcdefghijklmnop"},     // 17: the first 16
        {"abcdefghijklmnopqrst", "abcdefghijklmnop"},  // 20: the first 16
        {"", ""},                                      // empty clears
    };
    for (unsigned int id : {0x8009u, 0x800au}) {
        char *prefix = id == 0x8009u ? s->skin_prefix : s->sheen_prefix;
        for (const Case &c : cases) {
            std::memset(prefix, 'x', kPrefixSize);  // garbage that must not survive
            EXPECT_EQ(panelSet(s, id, const_cast<char *>(c.text)), 1);
            EXPECT_STREQ(prefix, c.kept) << "id " << std::hex << id << " text " << c.text;
            EXPECT_EQ(prefix[kPrefixSize - 1], '\0');
        }
    }
}

TEST_F(SkinInstanceTest, PanelMapsEveryControlToItsField) {
    SkinInstance *s = create();
    const struct {
        unsigned int id;
        Vparam *SkinInstance::*field;
    } env[] = {{0x8001, &SkinInstance::Ksub},         {0x8002, &SkinInstance::skin_color},
               {0x8003, &SkinInstance::scatter_wrap}, {0x8004, &SkinInstance::shadow_amount},
               {0x8005, &SkinInstance::diff_rough},   {0x8006, &SkinInstance::Ksheen},
               {0x8007, &SkinInstance::sheen_color},  {0x8008, &SkinInstance::Ka}};
    for (const auto &e : env) {
        EXPECT_EQ(panelGet(s, e.id), (s->*e.field)->parameter) << std::hex << e.id;
        EXPECT_EQ(panelSet(s, e.id, nullptr), 1) << std::hex << e.id;
    }
    EXPECT_EQ(panelGet(s, 0x8009), s->skin_prefix);
    EXPECT_EQ(panelGet(s, 0x800a), s->sheen_prefix);
    EXPECT_EQ(panelGet(s, 0x800b), &s->sheen_trace);
    EXPECT_EQ(panelGet(s, 0x800c), &s->trace_eps);
    EXPECT_EQ(panelGet(s, 0x800d), &s->sheen_decay);

    int on = 1;
    double eps = 0.02, decay = 4.0;
    EXPECT_EQ(panelSet(s, 0x800b, &on), 1);
    EXPECT_EQ(panelSet(s, 0x800c, &eps), 1);
    EXPECT_EQ(panelSet(s, 0x800d, &decay), 1);
    EXPECT_EQ(s->sheen_trace, 1);
    EXPECT_EQ(s->trace_eps, 0.02);
    EXPECT_EQ(s->sheen_decay, 4.0);
}

TEST_F(SkinInstanceTest, PanelIgnoresIdentifiersOutsideTheTable) {
    SkinInstance *s = create();
    unsigned char before[sizeof(SkinInstance)];
    std::memcpy(before, s, sizeof before);
    int junk = 7;
    for (unsigned int id : {0u, 1u, 0x8000u, 0x800eu, 0x800fu, 0x8010u, 0xffffffffu}) {
        EXPECT_EQ(panelGet(s, id), nullptr) << std::hex << id;
        EXPECT_EQ(panelSet(s, id, &junk), 0) << std::hex << id;
    }
    EXPECT_EQ(std::memcmp(before, s, sizeof before), 0);
}

TEST_F(SkinInstanceTest, PanelIsBuiltAsAViewOfTheInstance) {
    SkinInstance *s = create();
    LWInterface ui = {s, nullptr, nullptr, nullptr};
    ASSERT_EQ(shaderInterfaceActivate(LWSHADER_VERSION, FakeHost::lookup, &ui, nullptr), 0);
    EXPECT_EQ(ui.panel, host.panelAnswer);
    const char *ops[] = {"create", "hint", "describe", "viewInst", "setData"};
    ASSERT_EQ(host.panelCalls.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(host.panelCalls[i].op, ops[i]);
    EXPECT_EQ(host.panelCalls[0].id, static_cast<unsigned int>(LWXP_VIEW));
    EXPECT_EQ(host.panelCalls[0].arg, panelControls);
    EXPECT_EQ(host.panelCalls[1].id, 0u);
    EXPECT_EQ(host.panelCalls[1].arg, panelHints);
    EXPECT_EQ(host.panelCalls[2].arg, panelDataDescs);
    EXPECT_EQ(host.panelCalls[3].arg, s);
    EXPECT_EQ(host.panelCalls[4].id, 0u);
    EXPECT_EQ(host.panelCalls[4].arg, s);

    // A host that gives no panel gets nothing else asked of it.
    host.panelCalls.clear();
    host.panelAnswer = nullptr;
    EXPECT_EQ(panelCreate(s), nullptr);
    EXPECT_EQ(host.panelCalls.size(), 1u);
}

TEST(SkinPanelTables, TablesEndInZeroRowsAndNameTheWrapWithAColon) {
    int controls = 0, descs = 0;
    while (panelControls[controls].cid) ++controls;
    while (panelDataDescs[descs].vid) ++descs;
    EXPECT_EQ(controls, 13);
    EXPECT_EQ(descs, 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(panelControls[i].cid, panelDataDescs[i].vid) << i;
    EXPECT_STREQ(panelDataDescs[4].name, "scatter_wrap:");
    EXPECT_STREQ(panelControls[10].ctrlclass, "iBoolean");
    EXPECT_STREQ(panelDataDescs[10].datatype, "integer");
}

// The hint list is machine words (pointers on a 64-bit host): every control sits in exactly one
// of the four groups, the groups in the two tab pages, and the texts are pointers to the labels.
TEST(SkinPanelTables, HintListPlacesEveryControlOnce) {
    static_assert(sizeof(LWXPanelHint) == sizeof(void *), "one hint is one machine word");
    auto word = [](size_t i) { return reinterpret_cast<uintptr_t>(panelHints[i]); };
    std::map<uintptr_t, int> placed;
    std::vector<std::string> labels;
    size_t i = 0;
    for (; word(i) != 0; ++i) {
        const uintptr_t tag = word(i), id = word(i + 1);
        if (tag == 0x3D000B03) {  // label: id, text, 0
            labels.push_back(static_cast<const char *>(panelHints[i + 2]));
            EXPECT_EQ(word(i + 3), 0u);
            i += 3;
            continue;
        }
        ASSERT_TRUE(tag == 0x3D01FE81 || tag == 0x3D020A81 || tag == 0x3D01F984) << std::hex << tag;
        if (tag == 0x3D01F984) {  // governing id, three zero words, then the dependants
            EXPECT_EQ(id, 0x800bu);
            EXPECT_EQ(word(i + 2) | word(i + 3) | word(i + 4), 0u);
            EXPECT_EQ(word(i + 5), 0x800cu);
            EXPECT_EQ(word(i + 6), 0x800du);
            i += 5;
        } else {
            i += 1;
        }
        for (++i; word(i) != 0; ++i)
            if (id >= 1 && id <= 4) ++placed[word(i)];
    }
    for (int c = 0; panelControls[c].cid; ++c) EXPECT_EQ(placed[panelControls[c].cid], 1) << std::hex << c;
    const std::vector<std::string> wantLabels = {"QZ's Velmora Shader version 0.33e Options", "Standard",
                                                 "Experimental"};
    EXPECT_EQ(labels, wantLabels);
}

}  // namespace
