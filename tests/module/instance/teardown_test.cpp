// SPDX-License-Identifier: Apache-2.0
// The end of a process that links the module together with the host (these tests, the fuzz
// targets, a host that never unloads the plug-in before exit).
#include <gtest/gtest.h>

#include <cstdlib>

#include "instance/skin_instance.h"
#include "tests/support/host_session.h"
#include "vparam/gradient_inputs.h"

namespace {

// At exit the module's static tear-down destroys its gradient context through a fresh look-up of
// the texture service. The host's service and texture registries must still be there, although
// they are built after the module's statics: a destroyed registry here is a use after free, which
// the address-sanitizer build reports.
//
// The child runs in a fresh process ("threadsafe"): a library's background thread (the image
// library's logging) does not survive a bare fork, and its exit handler would wait for it forever.
TEST(StaticTearDownDeathTest, HostServicesOutliveTheModuleAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static const integ::HostSession *host = new integ::HostSession();  // alive at exit
            host->destroy(host->create());  // the first textured parameter creates the context
            if (!velmora::gradientContext) std::_Exit(2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
