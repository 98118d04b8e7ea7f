// SPDX-License-Identifier: Apache-2.0
#include "host/cli/options.h"

#include "host/image/image.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <functional>

#include <CLI/CLI.hpp>

namespace host::cli {

namespace {

// A signed decimal integer within int's range at text[pos...]; advances pos past it.
bool readInt(const std::string &text, size_t &pos, int &value) {
    size_t start = pos;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
    size_t digits = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos == digits || pos - digits > 12) return false;
    long long v = std::strtoll(text.substr(start, pos - start).c_str(), nullptr, 10);
    if (v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

// "A<sep>B" with two integers and nothing else.
bool readPair(const std::string &text, char sep, int &a, int &b) {
    size_t pos = 0;
    if (!readInt(text, pos, a) || pos >= text.size() || text[pos] != sep) return false;
    ++pos;
    return readInt(text, pos, b) && pos == text.size();
}

int parse(int argc, char **argv, CliOptions &o, std::string &message, std::string (*versionText)()) {
    CLI::App app{"Renders a scene with the Velmora skin shader plug-in.", "velmora-render"};
    std::string pixel, frames, stateFormat = "text", sweep, exrType = "half";
    int frame = 0;
    app.add_option("scene", o.scenePath,
                   "Scene file: JSON, or the host's scene file (.lws); without one the built-in default scene is "
                   "drawn");
    app.add_option("--overlay", o.overlayPath,
                   "Overlay file applied to the scene once it is loaded (surfaces' shaders and settings)");
    app.add_option("-o,--output", o.output,
                   "Output image: .png (8-bit sRGB), or .exr, .tif, .hdr, .pfm (float), case ignored");
    auto *exrTypeOpt =
        app.add_option("--exr-type", exrType, "Channel type of .exr outputs: half (default) or float")
            ->check(CLI::IsMember({"half", "float"}));
    auto *exposureOpt =
        app.add_option("--exposure", o.exposure,
                       "Exposure in stops: outputs are scaled by 2^S (default: the scene's, else 0)")
            ->check(CLI::Range(-20.0, 20.0));
    auto *displayOpt =
        app.add_option("--display", o.display,
                       "Display curve of .png outputs: srgb (plain) or film (soft shoulder); default: "
                       "the scene's, else srgb")
            ->check(CLI::IsMember({"srgb", "film"}));
    app.add_option("--preset", o.preset,
                   "A named look from presets/ applied to every skin shader instance (light_skin, ...)");
    app.add_option("--width", o.width, "Image width in pixels")->check(CLI::Range(1, 16384));
    app.add_option("--height", o.height, "Image height in pixels")->check(CLI::Range(1, 16384));
    app.add_option("--samples", o.samples, "Antialiasing samples per pixel")->check(CLI::Range(1, 1024));
    app.add_option("--threads", o.threads, "Render threads (default: every core)")->check(CLI::Range(1, 1024));
    auto *frameOpt = app.add_option("--frame", frame, "Render one frame");
    auto *framesOpt =
        app.add_option("--frames", frames, "Render frames A-B into numbered files")->excludes(frameOpt);
    app.add_flag("--host-shading", o.hostShading, "Shade every surface with the host's own shading");
    app.add_option("--plugin", o.plugin, "The shader plug-in (default: velmora.so beside this program)");
    app.add_flag("-q,--quiet", o.quiet, "No progress bar, estimate, warnings or summary");
    app.add_option("--pixel", pixel, "Render only pixel X,Y and print its colour");
    app.add_option(
           "--ray-cutoff", o.rayCutoff,
           "Skip secondary rays whose weight in the pixel is below this (default: the scene's, else 0.001)")
        ->check(CLI::Range(0.0, 1.0));
    auto *describeOpt = app.add_flag("--describe-panel", o.describe,
                                     "Print each shader instance's options panel instead of rendering");
    auto *saveOpt =
        app.add_option("--save", o.savePath,
                       "Write the scene with each shader instance's saved data to this file, no render")
            ->excludes(describeOpt);
    app.add_option("--state-format", stateFormat, "Saved data format for --save: text or binary")
        ->check(CLI::IsMember({"text", "binary"}))
        ->needs(saveOpt);
    app.add_option("--sweep", sweep,
                   "NAME=V1,V2,...: render one frame per value of a shader setting, side by side")
        ->excludes(describeOpt)
        ->excludes(saveOpt)
        ->excludes(framesOpt)
        ->excludes("--pixel");
    auto *serveOpt = app.add_flag("--serve", o.serve,
                                  "Serve a look-development page: the render beside each shader's options panel")
                         ->excludes(describeOpt)
                         ->excludes("--sweep")
                         ->excludes(framesOpt)
                         ->excludes("--pixel");
    app.add_option("--port", o.port, "Port for --serve (0: any free one)")
        ->check(CLI::Range(0, 65535))
        ->needs(serveOpt);
    app.add_option("--address", o.address, "Address --serve listens on (default 127.0.0.1)")->needs(serveOpt);
    app.set_version_flag("--version", std::function<std::string()>([versionText] {
                             return versionText ? versionText() : std::string("velmora-render");
                         }));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        message = app.help();
        return kParseInfo;
    } catch (const CLI::CallForAllHelp &) {
        message = app.help("", CLI::AppFormatMode::All);
        return kParseInfo;
    } catch (const CLI::CallForVersion &e) {
        message = std::string(e.what()) + "\n";
        return kParseInfo;
    } catch (const CLI::ParseError &e) {
        message = std::string(e.what()) + " (run with --help for the options)";
        return kParseRefused;
    }

    // An option given an empty value would otherwise be taken as not given at all.
    for (const char *name : {"--overlay", "--preset", "--plugin", "--output", "--save", "scene"}) {
        const CLI::Option *option = app.get_option_no_throw(name);
        if (!option || !option->count()) continue;
        const std::vector<std::string> &given = option->results();
        if (std::find(given.begin(), given.end(), std::string()) != given.end()) {
            message = (name[0] == '-' ? std::string(name) : "the scene file") + " needs a value, not an empty one";
            return kParseRefused;
        }
    }
    o.binaryState = stateFormat == "binary";
    if (frameOpt->count()) {
        o.hasFrames = true;
        o.frameStart = o.frameEnd = frame;
    }
    if (!frames.empty()) {
        if (!readPair(frames, '-', o.frameStart, o.frameEnd) || o.frameEnd < o.frameStart) {
            message = "--frames wants A-B with A <= B, not \"" + frames + "\"";
            return kParseRefused;
        }
        o.hasFrames = o.numberFrames = true;
    }
    if (!pixel.empty()) {
        if (!readPair(pixel, ',', o.pixelX, o.pixelY) || o.pixelX < 0 || o.pixelY < 0) {
            message = "--pixel wants X,Y, not \"" + pixel + "\"";
            return kParseRefused;
        }
    }
    host::image::OutputKind kind = host::image::outputKind(o.output);
    o.floatOutput = kind == host::image::OutputKind::Float;
    if (kind == host::image::OutputKind::None) {
        message = o.output + ": the output must end in .png, .exr, .tif, .tiff, .hdr or .pfm";
        return kParseRefused;
    }
    o.exrFloat = exrType == "float";
    o.hasExposure = exposureOpt->count() > 0;
    if (displayOpt->count() && o.floatOutput) {
        message = "--display applies to .png outputs; " + o.output + " keeps scene-linear values";
        return kParseRefused;
    }
    if (exrTypeOpt->count() && !host::image::isExr(o.output)) {
        message = "--exr-type applies to .exr outputs, not " + o.output;
        return kParseRefused;
    }
    if (!sweep.empty()) {
        size_t eq = sweep.find('=');
        o.sweepName = sweep.substr(0, eq);
        if (eq == std::string::npos || o.sweepName.empty() || eq + 1 == sweep.size()) {
            message = "--sweep wants NAME=V1,V2,..., not \"" + sweep + "\"";
            return kParseRefused;
        }
        std::string list = sweep.substr(eq + 1) + ",";
        for (size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1) {
            if (comma == from) {
                message = "--sweep: an empty value in \"" + sweep + "\"";
                return kParseRefused;
            }
            if (o.sweepValues.size() == 64) {
                message = "--sweep: more than 64 values";
                return kParseRefused;
            }
            o.sweepValues.push_back(sweepValue(list.substr(from, comma - from)));
        }
    }
    return kParseOk;
}

}  // namespace

nlohmann::json sweepValue(const std::string &text) {
    std::vector<double> nums;
    size_t pos = 0;
    bool numeric = !text.empty();
    while (numeric && pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        if (pos == text.size()) break;
        const char *start = text.c_str() + pos;
        char *end = nullptr;
        errno = 0;
        double v = std::strtod(start, &end);
        if (end == start || errno == ERANGE || !std::isfinite(v)) {
            numeric = false;
            break;
        }
        nums.push_back(v);
        pos += static_cast<size_t>(end - start);
        if (pos < text.size() && text[pos] != ' ') numeric = false;
    }
    if (numeric && nums.size() == 1) {
        double v = nums[0];
        if (v >= INT_MIN && v <= INT_MAX && v == static_cast<int>(v) &&
            text.find_first_of(".eExXnN") == std::string::npos)
            return static_cast<int>(v);
        return v;
    }
    if (numeric && nums.size() == 3) return nums;
    if (text == "true" || text == "false") return text == "true";
    return text;
}

int parseOptions(int argc, char **argv, CliOptions &out, std::string &message, std::string (*versionText)()) {
    out = CliOptions();
    message.clear();
    try {
        return parse(argc, argv, out, message, versionText);
    } catch (const std::exception &e) {
        message = std::string("cannot read the command line: ") + e.what();
    } catch (...) {
        message = "cannot read the command line";
    }
    return kParseRefused;
}

}  // namespace host::cli
