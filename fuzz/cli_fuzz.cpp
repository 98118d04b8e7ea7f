// SPDX-License-Identifier: Apache-2.0
// Fuzzes the command line: the input, split at zero bytes, is the argument list after the program
// name. Every list must end in options, a refusal with a short message, or help text; the options
// must hold what the checks promise.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> args{"velmora-render"};
    std::string text(reinterpret_cast<const char *>(data), size);
    for (size_t from = 0; from <= text.size() && args.size() < 64;) {
        size_t end = text.find('\0', from);
        if (end == std::string::npos) end = text.size();
        args.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    host::cli::CliOptions options;
    std::string message;
    int status = host::cli::parseOptions(static_cast<int>(args.size()), argv.data(), options, message);
    if (status == host::cli::kParseRefused) {
        if (message.empty() || message.size() > 4096) std::abort();
    } else if (status == host::cli::kParseOk) {
        if (options.width < 0 || options.height < 0 || options.samples < 0 || options.threads < 0) std::abort();
        if (options.hasFrames && options.frameEnd < options.frameStart) std::abort();
        if (!(options.rayCutoff < 0 || (options.rayCutoff >= 0 && options.rayCutoff <= 1))) std::abort();
        if (!options.sweepName.empty() && (options.sweepValues.empty() || options.sweepValues.size() > 64))
            std::abort();
    } else if (status != host::cli::kParseInfo) {
        std::abort();
    }
    return 0;
}
