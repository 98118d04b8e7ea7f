// SPDX-License-Identifier: Apache-2.0
// Fuzzes an instance's load through the host's real load state, in the format chosen at build
// time. Besides the sanitizers' findings, an input fails when the load leaves a block entered or
// when what it loaded does not survive its own save and load unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/animation/envelopes.h"
#include "tests/support/host_session.h"
#include "vparam/gradient_inputs.h"

namespace {

#if defined(VELMORA_FUZZ_FORMAT_TEXT)
constexpr host::state::Format kFormat = host::state::Format::Text;
#else
constexpr host::state::Format kFormat = host::state::Format::Binary;
#endif

// The session lives for the whole run. Its gradient context is destroyed at exit before the
// host's service registry goes: the module's own tear-down would look the texture service up
// after the registry's destruction, since both live in this one executable.
const integ::HostSession &session() {
    static const integ::HostSession *host = new integ::HostSession();
    return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const integ::HostSession &host = session();
    velmora::SkinInstance *skin = host.create();
    if (!skin) std::abort();
    host::state::LoadState load(kFormat, std::vector<uint8_t>(data, data + size));
    host.load(skin, load);
    if (load.depth() != 0) std::abort();  // a find without its end

    const std::vector<integ::Entry> held = integ::snapshot(skin);
    const std::vector<uint8_t> again = integ::saved(host, skin, kFormat);
    velmora::SkinInstance *copy = host.create();
    host::state::LoadState reload(kFormat, again);
    host.load(copy, reload);
    if (reload.failures() != 0 || integ::snapshot(copy) != held) std::abort();

    host.destroy(copy);
    host.destroy(skin);
    // The instances' channel groups and any images the input recreated go with them.
    host::animation::clearAll();
    integ::images::reset();
    return 0;
}
