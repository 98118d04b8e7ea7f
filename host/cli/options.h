// SPDX-License-Identifier: Apache-2.0
// The command line of velmora-render, parsed and checked without side effects: no output, no
// process exit, no rendering, so it can be tested and fuzzed on its own.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace host::cli {

struct CliOptions {
    std::string scenePath;    // empty: the built-in default scene; *.lws: a host scene file
    std::string overlayPath;  // --overlay: applied to the scene once it is loaded
    std::string output = "velmora.png";
    bool floatOutput = false;                             // the output keeps floats (else 8-bit .png)
    bool exrFloat = false;                                // --exr-type float: EXR in 32-bit floats
    std::string plugin;                                   // empty: velmora.so beside the program
    int width = 0, height = 0, samples = 0, threads = 0;  // 0: the scene's own, every core
    bool hasFrames = false;                               // --frame or --frames was given
    int frameStart = 0, frameEnd = -1;
    bool numberFrames = false;  // --frames: files are numbered even for a range of one frame
    bool hostShading = false, quiet = false, describe = false;
    int pixelX = -1, pixelY = -1;  // --pixel, or -1
    std::string savePath;
    bool binaryState = false;  // --state-format binary
    double rayCutoff = -1.0;   // --ray-cutoff, or negative when not given
    std::string sweepName;     // --sweep NAME=...; empty without a sweep
    std::vector<nlohmann::json> sweepValues;
    bool serve = false;  // --serve: the look-development page; --save names where it saves
    int port = 8080;
    std::string address = "127.0.0.1";
    bool hasExposure = false;  // --exposure was given: it replaces the scene's
    double exposure = 0.0;     // stops
    std::string display;       // --display srgb|film, or empty: the scene's
    std::string preset;        // --preset NAME, or empty
};

// What parseOptions found.
enum ParseStatus {
    kParseOk = 0,       // options filled in
    kParseRefused = 2,  // `message` says why (one line, without the program name)
    kParseInfo = 3,     // help or version asked for: `message` is the text for stdout
};

// Parses argv[1..argc-1]. Never throws and never ends the process, whatever the arguments.
// `versionText` makes what --version prints, only when it is asked for (the program's asks the
// libraries for their versions); without it --version prints the program's name.
int parseOptions(int argc, char **argv, CliOptions &out, std::string &message,
                 std::string (*versionText)() = nullptr);

// One --sweep value: a number, three numbers separated by spaces (a colour), true or false, or text.
nlohmann::json sweepValue(const std::string &text);

}  // namespace host::cli
