// velmora-render: renders a scene file (or the built-in default scene) with the shader plug-in.
// Exit status: 0 success, 2 bad input (command line, scene, plug-in's shader names), 1 any other
// failure. Only this file ends the process.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/cli/default_scene.h"
#include "host/image/image.h"
#include "host/plugin/shader_session.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"

namespace {

std::string programFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// out.png -> out_0007.png when a range of frames is rendered.
std::string frameFileName(const std::string &out, int frame, bool numbered) {
    if (!numbered) return out;
    size_t dot = out.find_last_of('.');
    char num[32];
    std::snprintf(num, sizeof num, "_%04d", frame);
    return out.substr(0, dot) + num + out.substr(dot);
}

// One sweep value: a number, three numbers separated by spaces (a colour), true or false, or text.
nlohmann::json sweepValue(const std::string &text) {
    std::vector<double> nums;
    size_t pos = 0;
    bool numeric = !text.empty();
    while (numeric && pos < text.size()) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        if (pos == text.size()) break;
        size_t used = 0;
        try {
            nums.push_back(std::stod(text.substr(pos), &used));
        } catch (const std::exception &) {
            numeric = false;
            break;
        }
        pos += used;
        if (pos < text.size() && text[pos] != ' ') numeric = false;
    }
    if (numeric && nums.size() == 1) {
        double v = nums[0];
        if (v == static_cast<int>(v) && text.find_first_of(".eE") == std::string::npos) return static_cast<int>(v);
        return v;
    }
    if (numeric && nums.size() == 3) return nums;
    if (text == "true" || text == "false") return text == "true";
    return text;
}

// The frames side by side, left to right, in one image.
host::Frame contactSheet(const std::vector<host::Frame> &frames) {
    host::Frame sheet;
    sheet.number = frames.front().number;
    sheet.height = frames.front().height;
    sheet.width = frames.front().width * static_cast<int>(frames.size());
    sheet.rgb.assign(static_cast<size_t>(sheet.width) * sheet.height * 3, 0.0f);
    for (size_t k = 0; k < frames.size(); ++k) {
        const host::Frame &f = frames[k];
        for (int y = 0; y < f.height; ++y)
            std::copy(f.rgb.begin() + static_cast<ptrdiff_t>(y) * f.width * 3,
                      f.rgb.begin() + static_cast<ptrdiff_t>(y + 1) * f.width * 3,
                      sheet.rgb.begin() +
                          (static_cast<ptrdiff_t>(y) * sheet.width + static_cast<ptrdiff_t>(k) * f.width) * 3);
    }
    return sheet;
}

int run(int argc, char **argv) {
    CLI::App app{"Renders a scene with the Velmora skin shader plug-in.", "velmora-render"};
    std::string scenePath, output = "velmora.png", plugin, pixel, frames;
    int width = 0, height = 0, samples = 0, threads = 0, frame = INT_MIN;
    bool hostShading = false, quiet = false, describe = false;
    std::string savePath, stateFormat = "text", sweep;
    app.add_option("scene", scenePath, "Scene file (JSON); without one the built-in default scene is drawn");
    app.add_option("-o,--output", output, "Output image: .png (8-bit sRGB) or .pfm (float)");
    app.add_option("--width", width, "Image width in pixels")->check(CLI::Range(1, 16384));
    app.add_option("--height", height, "Image height in pixels")->check(CLI::Range(1, 16384));
    app.add_option("--samples", samples, "Antialiasing samples per pixel")->check(CLI::Range(1, 1024));
    app.add_option("--threads", threads, "Render threads (default: every core)")->check(CLI::Range(1, 1024));
    auto *frameOpt = app.add_option("--frame", frame, "Render one frame");
    app.add_option("--frames", frames, "Render frames A-B into numbered files")->excludes(frameOpt);
    app.add_flag("--host-shading", hostShading, "Shade every surface with the host's own shading");
    app.add_option("--plugin", plugin, "The shader plug-in (default: velmora.so beside this program)");
    app.add_flag("-q,--quiet", quiet, "No progress bar or summary");
    app.add_option("--pixel", pixel, "Render only pixel X,Y and print its colour");
    auto *describeOpt = app.add_flag("--describe-panel", describe,
                                     "Print each shader instance's options panel instead of rendering");
    auto *saveOpt =
        app.add_option("--save", savePath,
                       "Write the scene with each shader instance's saved data to this file, no render")
            ->excludes(describeOpt);
    app.add_option("--state-format", stateFormat, "Saved data format for --save: text or binary")
        ->check(CLI::IsMember({"text", "binary"}))
        ->needs(saveOpt);
    app.add_option("--sweep", sweep,
                   "NAME=V1,V2,...: render one frame per value of a shader setting, side by side")
        ->excludes(describeOpt)
        ->excludes(saveOpt)
        ->excludes("--frames")
        ->excludes("--pixel");
    app.set_version_flag("--version", "velmora-render 0.33");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return 2;
    }

    host::RenderSettings settings;
    settings.width = width;
    settings.height = height;
    settings.samples = samples;
    settings.threads = threads;
    settings.hostShading = hostShading;
    settings.pluginPath = plugin.empty() ? programFolder() + "/velmora.so" : plugin;
    settings.progress = !quiet && isatty(2);
    if (frame != INT_MIN) settings.frameStart = settings.frameEnd = frame;
    if (!frames.empty()) {
        int a = 0, b = 0;
        char tail = 0;
        if (std::sscanf(frames.c_str(), "%d-%d%c", &a, &b, &tail) != 2 || b < a) {
            std::fprintf(stderr, "velmora-render: --frames wants A-B with A <= B, not \"%s\"\n", frames.c_str());
            return 2;
        }
        settings.frameStart = a;
        settings.frameEnd = b;
    }
    if (!pixel.empty()) {
        char tail = 0;
        if (std::sscanf(pixel.c_str(), "%d,%d%c", &settings.pixelX, &settings.pixelY, &tail) != 2 ||
            settings.pixelX < 0 || settings.pixelY < 0) {
            std::fprintf(stderr, "velmora-render: --pixel wants X,Y, not \"%s\"\n", pixel.c_str());
            return 2;
        }
        settings.threads = 1;
        settings.progress = false;
    }
    bool pfm = endsWith(output, ".pfm");
    if (!pfm && !endsWith(output, ".png")) {
        std::fprintf(stderr, "velmora-render: %s: the output must end in .png or .pfm\n", output.c_str());
        return 2;
    }

    host::LoadResult loaded = scenePath.empty()
                                  ? host::loadSceneText(host::kDefaultSceneJson, "default scene", ".")
                                  : host::loadSceneFile(scenePath);
    if (!loaded.scene) {
        std::fprintf(stderr, "velmora-render: %s\n", loaded.error.c_str());
        return 2;
    }
    const host::Scene &scene = *loaded.scene;
    if (describe || !savePath.empty()) {
        std::string text, message;
        int status = describe ? host::describePanels(scene, settings.pluginPath, text, message)
                              : host::saveSceneStates(scene, settings.pluginPath,
                                                      stateFormat == "binary" ? host::state::Format::Binary
                                                                              : host::state::Format::Text,
                                                      text, message);
        if (status) {
            std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
            return status;
        }
        if (describe) {
            std::fputs(text.c_str(), stdout);
            return 0;
        }
        std::ofstream out(savePath, std::ios::binary);
        if (!(out << text) || !out.flush()) {
            std::fprintf(stderr, "velmora-render: %s: cannot write the scene\n", savePath.c_str());
            return 1;
        }
        return 0;
    }
    std::vector<nlohmann::json> sweepValues;
    std::string sweepName;
    if (!sweep.empty()) {
        size_t eq = sweep.find('=');
        sweepName = sweep.substr(0, eq);
        if (eq == std::string::npos || sweepName.empty() || eq + 1 == sweep.size()) {
            std::fprintf(stderr, "velmora-render: --sweep wants NAME=V1,V2,..., not \"%s\"\n", sweep.c_str());
            return 2;
        }
        std::string list = sweep.substr(eq + 1) + ",";
        for (size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1) {
            if (comma == from) {
                std::fprintf(stderr, "velmora-render: --sweep: an empty value in \"%s\"\n", sweep.c_str());
                return 2;
            }
            sweepValues.push_back(sweepValue(list.substr(from, comma - from)));
        }
        if (sweepValues.size() > 64) {
            std::fprintf(stderr, "velmora-render: --sweep: more than 64 values\n");
            return 2;
        }
        // One frame per value: the scene's first unless --frame chose one.
        if (settings.frameEnd < settings.frameStart)
            settings.frameStart = settings.frameEnd = scene.render.frameStart;
    }
    int first = settings.frameEnd >= settings.frameStart ? settings.frameStart : scene.render.frameStart;
    int last = settings.frameEnd >= settings.frameStart ? settings.frameEnd : scene.render.frameEnd;
    bool numbered = last > first;

    auto deliver = [&](const host::Frame &f) -> std::string {
        if (settings.pixelX >= 0) {
            std::printf("pixel %d,%d frame %d: %.6f %.6f %.6f\n", settings.pixelX, settings.pixelY, f.number,
                        f.rgb[0], f.rgb[1], f.rgb[2]);
            return {};
        }
        std::string file = frameFileName(output, f.number, numbered), why;
        bool ok = pfm ? host::writePfm(file, f.width, f.height, f.rgb, why)
                      : host::writePng(file, f.width, f.height, f.rgb, why);
        return ok ? std::string() : file + ": " + why;
    };
    host::RenderOutcome outcome;
    if (sweepValues.empty()) {
        outcome = host::renderScene(scene, settings, deliver);
    } else {
        std::vector<host::Frame> frames;
        host::RenderStats total;
        for (const nlohmann::json &v : sweepValues) {
            settings.overrides = {{sweepName, v}};
            outcome = host::renderScene(scene, settings, [&](const host::Frame &f) {
                frames.push_back(f);
                return std::string();
            });
            if (outcome.status) break;
            total.seconds += outcome.stats.seconds;
            total.rays += outcome.stats.rays;
            total.samples += outcome.stats.samples;
        }
        if (!outcome.status) {
            outcome.stats = total;
            std::string why = deliver(contactSheet(frames));
            if (!why.empty()) {
                outcome.status = 1;
                outcome.message = why;
            }
        }
    }
    if (outcome.status) {
        std::fprintf(stderr, "velmora-render: %s\n", outcome.message.c_str());
        return outcome.status;
    }
    if (!quiet && settings.pixelX < 0) {
        double s = outcome.stats.seconds;
        std::fprintf(stderr, "velmora-render: %llu samples, %llu rays in %.2f s (%.2f M rays/s)\n",
                     static_cast<unsigned long long>(outcome.stats.samples),
                     static_cast<unsigned long long>(outcome.stats.rays), s,
                     s > 0 ? outcome.stats.rays / s / 1e6 : 0.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "velmora-render: internal failure: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "velmora-render: internal failure\n");
        return 1;
    }
}
