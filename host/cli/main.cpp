// velmora-render: renders a scene file (or the built-in default scene) with the shader plug-in.
// Exit status: 0 success, 2 bad input (command line, scene, plug-in's shader names), 1 any other
// failure. Only this file ends the process.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "host/cli/default_scene.h"
#include "host/image/image.h"
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

int run(int argc, char **argv) {
    CLI::App app{"Renders a scene with the Velmora skin shader plug-in.", "velmora-render"};
    std::string scenePath, output = "velmora.png", plugin, pixel, frames;
    int width = 0, height = 0, samples = 0, threads = 0, frame = INT_MIN;
    bool hostShading = false, quiet = false;
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
    host::RenderOutcome outcome = host::renderScene(scene, settings, deliver);
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
