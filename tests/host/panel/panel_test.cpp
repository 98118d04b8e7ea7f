// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/animation/envelopes.h"
#include "host/panel/panel_model.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace {

const LWXPanelFuncs &xp() { return *host::panel::xpanelFuncs(); }
const LWVParmFuncs &vp() { return *host::vparm::vparmFuncs(); }

// A small instance with one field of each kind a panel shows.
struct Instance {
    LWVParmID tint = nullptr;
    char prefix[9] = "key_";
    int trace = 1;
    double eps = 0.001;
    int sets = 0;
};

enum : unsigned int { kTint = 0x8001, kPrefix, kTrace, kEps, kGroup = 0x8010, kTabs, kPage };

void *getField(void *inst, unsigned int id) {
    Instance *i = static_cast<Instance *>(inst);
    switch (id) {
        case kTint:
            return i->tint;
        case kPrefix:
            return i->prefix;
        case kTrace:
            return &i->trace;
        case kEps:
            return &i->eps;
        default:
            return nullptr;
    }
}

int setField(void *inst, unsigned int id, void *value) {
    Instance *i = static_cast<Instance *>(inst);
    ++i->sets;
    switch (id) {
        case kTint:
            return LWXPRC_DFLT;
        case kPrefix:
            std::memset(i->prefix, 0, sizeof i->prefix);
            std::strncpy(i->prefix, static_cast<const char *>(value), sizeof i->prefix - 1);
            return LWXPRC_DFLT;
        case kTrace:
            i->trace = *static_cast<int *>(value);
            return LWXPRC_DFLT;
        case kEps:
            i->eps = *static_cast<double *>(value);
            return LWXPRC_DFLT;
        default:
            return LWXPRC_NONE;
    }
}

LWXPanelControl kControls[] = {{kTint, "Tint:", "color-env"},
                               {kPrefix, "Prefix:", "string"},
                               {kTrace, "Trace", "iBoolean"},
                               {kEps, "Trace eps:", "distance"},
                               {0, nullptr, nullptr}};
LWXPanelDataDesc kData[] = {{kTint, "tint", "color-env"},
                            {kPrefix, "prefix", "string"},
                            {kTrace, "trace", "integer"},
                            {kEps, "eps", "distance"},
                            {0, nullptr, nullptr}};

#define W(x) reinterpret_cast<LWXPanelHint>(static_cast<uintptr_t>(x))
#define T(s) const_cast<LWXPanelHint>(static_cast<const void *>(s))

class Panels : public ::testing::Test {
protected:
    void SetUp() override {
        inst.tint = vp().create(LWVP_COLOR, LWVPDT_COLOR);
        double c[3] = {0.5, 0.25, 1};
        vp().setVal(inst.tint, c);
        panel = xp().create(LWXP_VIEW, kControls);
        ASSERT_NE(panel, nullptr);
        LWXPanelHint hints[] = {
            W(XPTAG_LABEL), W(0),           T("Test Options"), W(0),      W(XPTAG_GROUP), W(kGroup),     W(kTint),
            W(kPrefix),     W(0),           W(XPTAG_GROUP),    W(kPage),  W(kGroup),      W(kTrace),     W(kEps),
            W(0),           W(XPTAG_LABEL), W(kPage),          T("Main"), W(0),           W(XPTAG_TABS), W(kTabs),
            W(kPage),       W(0),           W(XPTAG_ENABLE),   W(kTrace), W(0),           W(0),          W(0),
            W(kEps),        W(0),           W(XPTAG_END)};
        xp().hint(panel, 0, hints);
        xp().describe(panel, kData, getField, setField);
        xp().viewInst(panel, &inst);
        xp().setData(panel, 0, &inst);
    }
    void TearDown() override {
        host::panel::clearAll();
        host::vparm::clearAll();
        host::texture::clearAll();
        host::animation::clearAll();
    }
    Instance inst;
    LWXPanelID panel = nullptr;
};

TEST_F(Panels, PrintShowsLayoutValuesAndDependencies) {
    const std::string want =
        "Panel \"Test Options\"\n"
        "  Tabs 0x8011\n"
        "    Tab \"Main\" (0x8012)\n"
        "      Group 0x8010\n"
        "        0x8001 \"Tint:\" color-env = 0.5 0.25 1\n"
        "        0x8002 \"Prefix:\" string = \"key_\"\n"
        "      0x8003 \"Trace\" iBoolean = 1\n"
        "      0x8004 \"Trace eps:\" distance = 0.001\n"
        "  Dependency: 0x8003 \"Trace\" enables 0x8004 \"Trace eps:\"\n";
    EXPECT_EQ(host::panel::print(panel), want);
    EXPECT_EQ(xp().getData(panel, 0), &inst);
    EXPECT_EQ(host::panel::label(panel, kPage), "Main");
    EXPECT_EQ(host::panel::dependants(panel, kTrace), std::vector<unsigned int>{kEps});
    EXPECT_TRUE(host::panel::hintErrors(panel).empty());
}

TEST_F(Panels, DrivingSetsFieldsThroughTheCallbacks) {
    struct Case {
        const char *name, *value;
        bool ok;
    };
    const Case cases[] = {
        {"prefix", "longer_than_eight", true},
        {"trace", "0", true},
        {"eps", "0.25", true},
        {"tint", "0.1 0.2 0.3", true},
        {"trace", "1.5", false},
        {"eps", "abc", false},
        {"tint", "0.1 0.2", false},
        {"nosuch", "1", false},
    };
    for (const Case &c : cases) {
        host::panel::SetOutcome o = host::panel::setControl(panel, c.name, c.value);
        EXPECT_EQ(o.ok, c.ok) << c.name << " = " << c.value << ": " << o.message;
        EXPECT_EQ(o.refresh, c.ok ? LWXPRC_DFLT : LWXPRC_NONE) << c.name;
        EXPECT_EQ(o.message.empty(), c.ok) << c.name;
    }
    EXPECT_STREQ(inst.prefix, "longer_t");
    EXPECT_EQ(inst.trace, 0);
    EXPECT_EQ(inst.eps, 0.25);
    double c[3];
    vp().getVal(inst.tint, 0, nullptr, c);
    EXPECT_EQ(c[0], 0.1);
    EXPECT_EQ(c[2], 0.3);
    EXPECT_EQ(inst.sets, 4) << "refused values never reach the instance";
    EXPECT_NE(host::panel::print(panel).find("0x8004 \"Trace eps:\" distance = 0.25 (disabled)"),
              std::string::npos)
        << host::panel::print(panel);
}

TEST_F(Panels, VariantParameterStateIsShown) {
    host::vparm::setEnveloped(inst.tint, 0, true);
    host::vparm::setTextured(inst.tint, true);
    EXPECT_NE(host::panel::print(panel).find("= 0.5 0.25 1 [env] [tex]"), std::string::npos)
        << host::panel::print(panel);
}

TEST_F(Panels, MalformedHintsStopThatListOnly) {
    LWXPanelHint unknown[] = {W(XPTAG_LABEL), W(kEps), T("Eps"), W(0),        W(0x3D999999),
                              W(1),           W(2),    W(0),     W(XPTAG_END)};
    xp().hint(panel, 0, unknown);
    LWXPanelHint badLabel[] = {W(XPTAG_LABEL), W(kTrace), T("x"), W(77), W(XPTAG_END)};
    xp().hint(panel, 0, badLabel);
    LWXPanelHint nullText[] = {W(XPTAG_LABEL), W(kTabs), nullptr, W(0), W(XPTAG_END)};
    xp().hint(panel, 0, nullText);
    xp().hint(panel, 0, nullptr);
    EXPECT_EQ(host::panel::label(panel, kEps), "Eps") << "what came before the unknown tag";
    EXPECT_EQ(host::panel::label(panel, kTrace), "");
    EXPECT_EQ(host::panel::label(panel, kTabs), "");
    EXPECT_EQ(host::panel::hintErrors(panel).size(), 2u);
    EXPECT_NE(host::panel::print(panel).find("Hint error: unknown hint tag 0x3d999999"), std::string::npos);
}

TEST_F(Panels, DestroyedPanelsAreForgotten) {
    xp().destroy(panel);
    EXPECT_FALSE(host::panel::isPanel(panel));
    EXPECT_EQ(host::panel::print(panel), "");
    EXPECT_FALSE(host::panel::setControl(panel, "eps", "1").ok);
    xp().setData(panel, 0, &inst);  // harmless on a stale id
    EXPECT_EQ(xp().getData(panel, 0), nullptr);
}

}  // namespace
