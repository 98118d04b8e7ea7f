// SPDX-License-Identifier: Apache-2.0
// velmora-render: renders a scene file (or the built-in default scene) with the shader plug-in.
// Exit status: 0 success, 2 bad input (command line, scene, plug-in's shader names), 1 any other
// failure. Only this file ends the process.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/cli/build_info.h"
#include "host/cli/default_scene.h"
#include "host/cli/options.h"
#include "host/image/image.h"
#include "host/image/image_codecs.h"
#include "host/io/file_io.h"
#include "host/plugin/shader_session.h"
#include "host/presets/presets.h"
#include "host/render/renderer.h"
#include "host/scene/loader.h"
#include "host/scene/lws_scene.h"
#include "host/serve/server.h"
#include "host/util/paths.h"

namespace {

// out.png -> out_0007.png when a range of frames is rendered.
std::string frameFileName(const std::string &out, int frame, bool numbered) {
    if (!numbered) return out;
    size_t dot = out.find_last_of('.');
    char num[32];
    std::snprintf(num, sizeof num, "_%04d", frame);
    return out.substr(0, dot) + num + out.substr(dot);
}

// The frames side by side, left to right, in one image (colour and coverage).
host::render::Frame contactSheet(const std::vector<host::render::Frame> &frames) {
    host::render::Frame sheet;
    sheet.number = frames.front().number;
    sheet.height = frames.front().height;
    sheet.width = frames.front().width * static_cast<int>(frames.size());
    sheet.rgb.assign(static_cast<size_t>(sheet.width) * sheet.height * 3, 0.0f);
    sheet.alpha.assign(static_cast<size_t>(sheet.width) * sheet.height, 0.0f);
    for (size_t k = 0; k < frames.size(); ++k) {
        const host::render::Frame &f = frames[k];
        for (int y = 0; y < f.height; ++y) {
            const ptrdiff_t from = static_cast<ptrdiff_t>(y) * f.width,
                            to = static_cast<ptrdiff_t>(y) * sheet.width + static_cast<ptrdiff_t>(k) * f.width;
            std::copy(f.rgb.begin() + from * 3, f.rgb.begin() + (from + f.width) * 3, sheet.rgb.begin() + to * 3);
            std::copy(f.alpha.begin() + from, f.alpha.begin() + from + f.width, sheet.alpha.begin() + to);
        }
    }
    return sheet;
}

// The font of contact sheet labels (Debian's fonts-dejavu-core).
constexpr const char *kLabelFont = "DejaVuSans";

// A --sweep value as a label shows it: numbers as they were given, a colour as three numbers.
std::string valueText(const nlohmann::json &v) {
    if (v.is_string()) return v.get<std::string>();
    if (!v.is_array()) return v.dump();
    std::string out;
    for (const nlohmann::json &c : v) out += (out.empty() ? "" : " ") + c.dump();
    return out;
}

// Labels each cell of a contact sheet with its setting and value. Without the font the sheet
// stays unlabelled, with one warning.
void labelSheet(host::render::Frame &sheet, size_t cells, const std::string &name,
                const std::vector<nlohmann::json> &values, bool quiet) {
    const int cell = sheet.width / static_cast<int>(cells);
    for (size_t k = 0; k < cells; ++k) {
        std::string why;
        const int x0 = static_cast<int>(k) * cell;
        if (!host::image::drawLabel(sheet.rgb, sheet.width, sheet.height, x0, x0 + cell,
                                    name + " = " + valueText(values[k]), kLabelFont, why)) {
            if (!quiet)
                std::fprintf(stderr, "velmora-render: warning: the sheet's cells are not labelled: %s\n",
                             why.c_str());
            return;
        }
    }
}

// Why `path` may not be written: it cannot be (see host::io::checkWritable), it is one of the
// files the scene was read from, or it is a picture in a format the image codecs write and they
// cannot be loaded. Empty when it may.
std::string outputRefusal(const std::string &path, const std::vector<host::io::FileId> &inputs, bool picture) {
    std::string why = host::io::checkWritable(path);
    if (!why.empty()) return path + ": " + why;
    if (picture && host::util::extensionOf(path) != "pfm" && !host::image::imageCodecs(why))
        return path + ": cannot be written: " + why;
    host::io::FileId id = host::io::fileId(path);
    for (const host::io::FileId &in : inputs)
        if (id == in) return path + ": is a file the scene is read from; choose another output";
    return {};
}

// The shader plug-in a run loads: --plugin, else velmora.so in the first of the program's library
// folders that holds one. Empty, with the reason naming the file and where it was looked for,
// when there is none or it cannot be read.
std::string pluginToLoad(const std::string &given, std::string &why) {
    auto readable = [](const std::string &path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
    };
    if (!given.empty()) {
        if (readable(given)) return given;
        why = given + ": the shader plug-in cannot be read: " +
              (::access(given.c_str(), F_OK) == 0 ? "not a readable file" : std::strerror(errno));
        return {};
    }
    const std::vector<std::string> folders = host::util::companionFolders(host::util::Companion::Libraries);
    for (const std::string &folder : folders)
        if (readable(folder + "/velmora.so")) return folder + "/velmora.so";
    why = "velmora.so: no readable shader plug-in in " + host::util::folderList(folders) +
          " (give one with --plugin, or render with --host-shading)";
    return {};
}

// Outputs checked before a render; beyond this many frames the rest are checked as they are written.
constexpr uint64_t kCheckedFrames = 100000;

// Memory a render needs beyond what is already loaded: the frame buffer (one per sweep value plus
// the contact sheet), the ray-tracing scene and the output's encoding.
struct MemoryEstimate {
    uint64_t frames = 0, tracing = 0, output = 0;
    uint64_t total() const { return frames + tracing + output; }
};

MemoryEstimate estimateMemory(const host::scene::Scene &scene, int width, int height, size_t sweepValues,
                              bool floatOutput, bool displayCopy) {
    MemoryEstimate m;
    uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    uint64_t frame = pixels * 4 * sizeof(float);  // colour and coverage
    m.frames = sweepValues ? 2 * sweepValues * frame : frame;
    uint64_t sheetPixels = pixels * (sweepValues ? sweepValues : 1);
    // PNG: 8-bit pixels and the compressed stream; float files: a float copy for the writer.
    m.output = floatOutput ? sheetPixels * 4 * sizeof(float) : sheetPixels * 3 * 2;
    if (displayCopy) m.output += sheetPixels * 3 * sizeof(float);  // the exposed or curved copy
    for (const host::scene::ObjectItem *o : scene.objects)
        for (const host::scene::MeshLayer &l : o->layers)
            // World points and normals, Embree's copy of the points, its tree (about 64 bytes a triangle),
            // and world corner normals where a surface smooths within an angle.
            m.tracing += l.points.size() * 9 * sizeof(float) + (l.triangles.size() / 3) * (12 + 64) +
                         l.cornerNormals.size() * sizeof(float);
    return m;
}

int run(int argc, char **argv) {
    host::cli::CliOptions o;
    std::string message;
    int parsed = host::cli::parseOptions(argc, argv, o, message, host::cli::versionReport);
    if (parsed == host::cli::kParseInfo) {
        std::fputs(message.c_str(), stdout);
        return 0;
    }
    if (parsed != host::cli::kParseOk) {
        std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
        return 2;
    }
    if (o.serve) {
        // The server waits for SIGINT and SIGTERM in a thread of its own and stops cleanly;
        // blocked here, before any thread starts, they reach no other thread.
        sigset_t stops;
        sigemptyset(&stops);
        for (int sig : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&stops, sig);
        pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    } else {
        // An output being written when the program is stopped is removed, not left half written.
        host::io::removeTempFilesOnSignals();
    }

    host::render::RenderSettings settings;
    settings.width = o.width;
    settings.height = o.height;
    settings.samples = o.samples;
    settings.threads = o.threads;
    settings.hostShading = o.hostShading;
    // Host shading needs no plug-in.
    settings.pluginPath = pluginToLoad(o.plugin, message);
    if (settings.pluginPath.empty() && !o.hostShading) {
        std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
        return 2;
    }
    settings.progress = !o.quiet && isatty(2);
    settings.rayCutoff = o.rayCutoff;
    if (o.hasFrames) {
        settings.frameStart = o.frameStart;
        settings.frameEnd = o.frameEnd;
    }
    if (o.pixelX >= 0) {
        settings.pixelX = o.pixelX;
        settings.pixelY = o.pixelY;
        settings.threads = 1;
        settings.progress = false;
    }

    bool hostScene = host::scene::isLwsPath(o.scenePath);
    if (hostScene && !o.savePath.empty()) {
        // The saved scene is the JSON scene with each instance's data in place of its settings;
        // a host scene file has no JSON text to carry it.
        std::fprintf(stderr,
                     "velmora-render: %s: --save writes a JSON scene back with its shaders' saved data; a host "
                     "scene file (.lws) is not written back\n",
                     o.scenePath.c_str());
        return 2;
    }
    host::scene::LoadResult loaded =
        o.scenePath.empty() ? host::scene::loadSceneText(host::cli::kDefaultSceneJson, "default scene", ".")
        : hostScene         ? host::scene::loadLwsFile(o.scenePath)
                            : host::scene::loadSceneFile(o.scenePath);
    if (!loaded.scene) {
        std::fprintf(stderr, "velmora-render: %s\n", loaded.error.c_str());
        return 2;
    }
    if (!o.overlayPath.empty() && !host::scene::applyOverlay(*loaded.scene, o.overlayPath, message)) {
        std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
        return 2;
    }
    const host::scene::Scene &scene = *loaded.scene;
    // A preset's settings go to every skin shader instance, the way a scene's settings do.
    std::vector<host::scene::ShaderSetting> presetSettings;
    std::string presetFile;  // the applied preset's file, one of the files the scene is read from
    if (!o.preset.empty()) {
        std::vector<host::presets::Preset> presets = host::presets::loadPresets(message);
        if (!message.empty()) {
            std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
            return 2;
        }
        const host::presets::Preset *p = host::presets::findPreset(presets, o.preset);
        if (!p) {
            std::fprintf(stderr, "velmora-render: --preset: no preset \"%s\" in %s; the presets are: %s\n",
                         o.preset.c_str(), host::presets::presetsFolder().c_str(),
                         host::presets::presetNames(presets).c_str());
            return 2;
        }
        presetFile = host::presets::presetsFolder() + "/" + p->name + ".json";
        // A value the shader refuses is named in the preset's file (named by the preset).
        presetSettings = host::scene::readSettings(p->settings, scene);
        for (host::scene::ShaderSetting &s : presetSettings) {
            s.givenIn = presetFile;
            s.givenAt = "/settings/" + s.name;
        }
        settings.overrides = presetSettings;
    }
    // Exposure scales every output; the display curve shapes 8-bit outputs only.
    const double exposure = o.hasExposure ? o.exposure : scene.render.exposure;
    const bool film = !o.floatOutput && (o.display.empty() ? scene.render.filmDisplay : o.display == "film");
    // Outputs never overwrite a file the scene is read from.
    std::vector<host::io::FileId> inputs;
    if (!o.scenePath.empty()) inputs.push_back(host::io::fileId(o.scenePath));
    if (!o.overlayPath.empty()) inputs.push_back(host::io::fileId(o.overlayPath));
    if (!presetFile.empty()) inputs.push_back(host::io::fileId(presetFile));
    for (const std::string &f : scene.inputFiles) inputs.push_back(host::io::fileId(f));

    if (o.serve) {
        if (!o.savePath.empty()) {
            std::string why = outputRefusal(o.savePath, inputs, false);
            if (!why.empty()) {
                std::fprintf(stderr, "velmora-render: %s\n", why.c_str());
                return 2;
            }
        }
        host::serve::LookdevConfig config;
        config.pluginPath = settings.pluginPath;
        config.savePath = o.savePath;
        config.binaryState = o.binaryState;
        config.threads = o.threads;
        config.inputs = inputs;
        config.startSettings = presetSettings;
        config.exposure = exposure;
        config.film = film;
        int status = host::serve::serve(*loaded.scene, config, o.address, o.port, message);
        if (status) std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
        return status;
    }
    if (o.describe || !o.savePath.empty()) {
        if (!o.savePath.empty()) {
            std::string why = outputRefusal(o.savePath, inputs, false);
            if (!why.empty()) {
                std::fprintf(stderr, "velmora-render: %s\n", why.c_str());
                return 2;
            }
        }
        std::string text;
        int status = o.describe ? host::plugin::describePanels(scene, settings.pluginPath, text, message,
                                                               settings.overrides)
                                : host::plugin::saveSceneStates(
                                      scene, settings.pluginPath,
                                      o.binaryState ? host::state::Format::Binary : host::state::Format::Text,
                                      text, message, settings.overrides);
        if (status) {
            std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
            return status;
        }
        if (o.describe) {
            std::fputs(text.c_str(), stdout);
            return 0;
        }
        std::string why;
        bool written = host::io::writeFileAtomic(
            o.savePath,
            [&](const host::io::ByteSink &sink, std::string &) { return sink(text.data(), text.size()); }, why);
        if (!written) {
            std::fprintf(stderr, "velmora-render: %s: cannot write the scene: %s\n", o.savePath.c_str(),
                         why.c_str());
            return 1;
        }
        return 0;
    }
    // A sweep renders one frame: the scene's first unless --frame chose one.
    if (!o.sweepValues.empty() && settings.frameEnd < settings.frameStart)
        settings.frameStart = settings.frameEnd = scene.render.frameStart;
    host::render::FrameRange range = host::render::frameRange(scene, settings);
    // Frame ranges give numbered files, so a range split into pieces names its frames alike.
    bool numbered = range.count() > 1 || o.numberFrames;
    bool onePixel = settings.pixelX >= 0;

    // Every output is checked before anything is rendered.
    if (!onePixel) {
        uint64_t n = o.sweepValues.empty() ? std::min(range.count(), kCheckedFrames) : 1;
        for (uint64_t k = 0; k < n; ++k) {
            std::string why = outputRefusal(frameFileName(o.output, range.at(k), numbered), inputs, true);
            if (!why.empty()) {
                std::fprintf(stderr, "velmora-render: %s\n", why.c_str());
                return 2;
            }
        }
    }
    // What the render needs, against what is available.
    if (!onePixel) {
        int width = settings.width > 0 ? settings.width : scene.render.width;
        int height = settings.height > 0 ? settings.height : scene.render.height;
        MemoryEstimate need =
            estimateMemory(scene, width, height, o.sweepValues.size(), o.floatOutput, exposure != 0 || film);
        uint64_t available = host::io::availableMemory();
        std::string sheet = o.sweepValues.empty() ? "" : " x " + std::to_string(o.sweepValues.size());
        std::string parts = "frame buffers " + host::io::byteText(need.frames) + ", ray-tracing scene " +
                            host::io::byteText(need.tracing) + ", output " + host::io::byteText(need.output);
        if (available && need.total() > available) {
            std::fprintf(stderr,
                         "velmora-render: %s: a %dx%d%s render needs about %s of memory (%s), more than the %s "
                         "available; render fewer pixels\n",
                         o.scenePath.empty() ? "default scene" : o.scenePath.c_str(), width, height, sheet.c_str(),
                         host::io::byteText(need.total()).c_str(), parts.c_str(),
                         host::io::byteText(available).c_str());
            return 2;
        }
        if (!o.quiet)
            std::fprintf(stderr, "velmora-render: %dx%d%s needs about %s (%s)%s%s\n", width, height, sheet.c_str(),
                         host::io::byteText(need.total()).c_str(), parts.c_str(), available ? "; available " : "",
                         available ? host::io::byteText(available).c_str() : "");
    }
    if (!o.quiet)
        for (const std::string &w : host::render::renderWarnings(scene))
            std::fprintf(stderr, "velmora-render: warning: %s\n", w.c_str());

    // What every output's header holds besides the frame's settings: the program, and the sweep.
    std::vector<host::image::ImageAttribute> extraAttributes = {
        host::image::ImageAttribute::ofText("Software", host::cli::programVersion())};
    if (exposure != 0)
        extraAttributes.push_back(host::image::ImageAttribute::ofFloat("velmora:exposure", exposure));
    if (!o.preset.empty())
        extraAttributes.push_back(host::image::ImageAttribute::ofText("velmora:preset", o.preset));
    if (!o.sweepValues.empty()) {
        std::string sweep = o.sweepName + "=";
        for (size_t k = 0; k < o.sweepValues.size(); ++k) sweep += (k ? "," : "") + valueText(o.sweepValues[k]);
        extraAttributes.push_back(host::image::ImageAttribute::ofText("velmora:sweep", sweep));
    }
    auto deliver = [&](const host::render::Frame &f) -> std::string {
        if (onePixel) {
            std::printf("pixel %d,%d frame %d: %.6f %.6f %.6f\n", settings.pixelX, settings.pixelY, f.number,
                        f.rgb[0], f.rgb[1], f.rgb[2]);
            return {};
        }
        std::string file = frameFileName(o.output, f.number, numbered), why = outputRefusal(file, inputs, true);
        if (!why.empty()) return why;
        host::image::WriteProgress progress;
        if (settings.progress)
            progress = [&file](double done) {
                std::fprintf(stderr, "\rwriting %s %3d%%", file.c_str(), static_cast<int>(done * 100));
                if (done >= 1) std::fputc('\n', stderr);
                std::fflush(stderr);
            };
        host::image::OutputOptions options;
        options.exrFloat = o.exrFloat;
        options.attributes = host::render::frameAttributes(scene, settings, f.number);
        options.attributes.insert(options.attributes.end(), extraAttributes.begin(), extraAttributes.end());
        const std::vector<float> *rgb = &f.rgb;
        std::vector<float> shown;
        if (exposure != 0 || film) {
            shown = f.rgb;
            host::image::applyExposure(shown, exposure);
            if (film) host::image::applyFilmCurve(shown);
            rgb = &shown;
        }
        bool ok = host::image::writeImage(file, f.width, f.height, *rgb, f.alpha, options, why, progress);
        return ok ? std::string() : file + ": " + why;
    };
    host::render::RenderOutcome outcome;
    if (o.sweepValues.empty()) {
        outcome = host::render::renderScene(scene, settings, deliver);
    } else {
        std::vector<host::render::Frame> frames;
        host::render::RenderStats total;
        for (const nlohmann::json &v : o.sweepValues) {
            settings.overrides = presetSettings;
            settings.overrides.push_back({o.sweepName, host::scene::readSettingValue(v, scene)});
            outcome = host::render::renderScene(scene, settings, [&](const host::render::Frame &f) {
                frames.push_back(f);
                return std::string();
            });
            if (outcome.status) break;
            total.seconds += outcome.stats.seconds;
            total.rays += outcome.stats.rays;
            total.samples += outcome.stats.samples;
            total.cutRays += outcome.stats.cutRays;
            total.badSamples += outcome.stats.badSamples;
            total.cacheRecords = std::max(total.cacheRecords, outcome.stats.cacheRecords);
            total.cacheBytes = std::max(total.cacheBytes, outcome.stats.cacheBytes);
            total.cacheStarts += outcome.stats.cacheStarts;
            total.cacheMisses += outcome.stats.cacheMisses;
            total.cacheSeconds += outcome.stats.cacheSeconds;
        }
        if (!outcome.status) {
            outcome.stats = total;
            host::render::Frame sheet = contactSheet(frames);
            labelSheet(sheet, frames.size(), o.sweepName, o.sweepValues, o.quiet);
            std::string why = deliver(sheet);
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
    if (!o.quiet && !onePixel) {
        const host::render::RenderStats &st = outcome.stats;
        std::fprintf(stderr,
                     "velmora-render: %llu samples, %llu rays in %.2f s (%.2f M rays/s), %llu rays below the ray "
                     "cutoff, %llu samples not finite (black)\n",
                     static_cast<unsigned long long>(st.samples), static_cast<unsigned long long>(st.rays),
                     st.seconds, st.seconds > 0 ? st.rays / st.seconds / 1e6 : 0.0,
                     static_cast<unsigned long long>(st.cutRays), static_cast<unsigned long long>(st.badSamples));
        if (st.cacheStarts > 0)
            std::fprintf(stderr,
                         "velmora-render: irradiance cache: %llu records (%.1f MB), started %llu times, filled in "
                         "%.2f s; %llu spots outside it gathered afresh\n",
                         static_cast<unsigned long long>(st.cacheRecords), st.cacheBytes / 1048576.0,
                         static_cast<unsigned long long>(st.cacheStarts), st.cacheSeconds,
                         static_cast<unsigned long long>(st.cacheMisses));
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
