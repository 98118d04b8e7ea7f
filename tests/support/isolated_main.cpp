// SPDX-License-Identifier: Apache-2.0
// main() of the host's test programs. Each process works in a temporary folder of its own, named
// by TMPDIR and TEST_TMPDIR (GoogleTest's TempDir()), so tests run side by side never share a file,
// and the programs they start inherit it. The folder is removed when every test passed, and kept
// (its name printed) when one failed, for a look at what the test wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char *base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/velmora-test-XXXXXX";
    if (!::mkdtemp(&folder[0])) {
        std::perror(("cannot make a temporary folder " + folder).c_str());
        return 1;
    }
    ::setenv("TMPDIR", folder.c_str(), 1);
    ::setenv("TEST_TMPDIR", folder.c_str(), 1);

    const int status = RUN_ALL_TESTS();
    if (status == 0) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    } else {
        std::fprintf(stderr, "test files kept in %s\n", folder.c_str());
    }
    return status;
}
