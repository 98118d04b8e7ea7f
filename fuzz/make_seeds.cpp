// SPDX-License-Identifier: Apache-2.0
// Writes the fuzzers' seeds: a default and a customised instance saved in each state format.
// Usage: velmora_fuzz_seeds CORPUS_DIR (writes CORPUS_DIR/binary/* and CORPUS_DIR/text/*).
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/host_session.h"

namespace {

bool write(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    integ::HostSession host;
    velmora::SkinInstance *plain = host.create();
    velmora::SkinInstance *custom = host.create();
    integ::customise(custom);
    struct Seed {
        const char *file;
        velmora::SkinInstance *skin;
        host::state::Format format;
    } const seeds[] = {
        {"binary/default.bin", plain, host::state::Format::Binary},
        {"binary/custom.bin", custom, host::state::Format::Binary},
        {"text/default.txt", plain, host::state::Format::Text},
        {"text/custom.txt", custom, host::state::Format::Text},
    };
    for (const Seed &s : seeds)
        if (!write(dir + "/" + s.file, integ::saved(host, s.skin, s.format))) {
            std::fprintf(stderr, "%s/%s: cannot write\n", dir.c_str(), s.file);
            return 1;
        }
    host.destroy(plain);
    host.destroy(custom);
    return 0;
}
