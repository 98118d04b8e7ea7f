// SPDX-License-Identifier: Apache-2.0
// The mesh import in a process of its own: the renderer's side (start the importer, read its
// answer within a time limit, turn every way it can fail into one refusal naming the mesh file)
// and the importer's side (limit itself, import, answer).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "host/scene/mesh_pvt.h"

extern char **environ;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VELMORA_SANITIZED 1
#endif
#endif

namespace host::scene {

namespace {

// Address space the importer takes besides the mesh's own memory: the program and its libraries,
// assimp's static tables, the stack and the allocator's reserves.
constexpr uint64_t kProgramRoom = 768ull << 20;
constexpr rlim_t kImporterStack = 8u << 20;
constexpr int kDefaultSeconds = 300;
constexpr int kOutOfMemory = 3;  // the importer's exit status when an allocation fails

// The wall-clock limit of one import: VELMORA_MESH_IMPORT_SECONDS (1 to 86400), else 300.
int importSeconds() {
    const char *given = std::getenv("VELMORA_MESH_IMPORT_SECONDS");
    if (!given || !*given) return kDefaultSeconds;
    char *end = nullptr;
    long v = std::strtol(given, &end, 10);
    return *end == '\0' && v >= 1 && v <= 86400 ? static_cast<int>(v) : kDefaultSeconds;
}

std::string importerIn(const std::vector<std::string> &folders) {
    for (const std::string &folder : folders) {
        std::string path = folder + "/" + kMeshImporter;
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

// What an importer that gave no valid answer died of.
std::string failure(int status, bool waited, int seconds, uint64_t memory) {
    if (waited && WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        if (sig == SIGXCPU)
            return "the mesh importer took longer than " + std::to_string(seconds) + " s of CPU time";
        if (sig == SIGKILL) return "the mesh importer was killed (out of memory, or past its CPU time)";
        return "the mesh importer failed (stack overflow or crash: signal " + std::to_string(sig) + ")";
    }
    if (waited && WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemory)
        return "the mesh importer ran out of its memory limit" +
               (memory ? " (" + io::byteText(memory) + ")" : std::string());
    if (waited && WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "the mesh importer failed (stack overflow or crash: exit status " +
               std::to_string(WEXITSTATUS(status)) + ")";
    return {};
}

[[noreturn]] void outOfMemory() { ::_exit(kOutOfMemory); }

}  // namespace

bool importMesh(const std::string &path, int layer, ImportedMesh &out, util::Diagnostic &error,
                uint64_t memoryLimit) {
#ifdef VELMORA_MESH_IMPORT_IN_PROCESS
    // The fuzz build: the import runs where the sanitizers see it.
    return importMeshInProcess(path, layer, out, error, memoryLimit);
#endif
    out = ImportedMesh();
    error = util::Diagnostic();
    const std::string label = "mesh file " + util::quoteFile(path);
    auto refuse = [&](const std::string &message) {
        out = ImportedMesh();
        error = util::Diagnostic::at(util::FileLoc::ofFile(label), message);
        return false;
    };
    const std::vector<std::string> folders = util::companionFolders(util::Companion::Libraries);
    const std::string importer = importerIn(folders);
    if (importer.empty())
        return refuse(std::string("the mesh importer ") + kMeshImporter + " is in none of " +
                      util::folderList(folders));
    const uint64_t memory = memoryLimit ? memoryLimit : io::availableMemory();
    const uint64_t address = memory ? memory + kProgramRoom : 0;
    const int seconds = importSeconds();

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return refuse(std::string("the mesh importer cannot be started: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string args[] = {importer,
                          path,
                          std::to_string(layer),
                          std::to_string(memoryLimit),
                          std::to_string(address),
                          std::to_string(seconds)};
    char *argv[] = {&args[0][0], &args[1][0], &args[2][0], &args[3][0], &args[4][0], &args[5][0], nullptr};
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, importer.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return refuse("the mesh importer " + importer + " cannot be started: " + std::strerror(spawned));
    }

    // The answer, read within the wall-clock limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool late = false;
    PullBytes pull = [&](char *to, size_t size) -> size_t {
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                late = true;
                return 0;
            }
            struct pollfd p = {fds[0], POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
            if (ready < 0 && errno != EINTR) return 0;
            if (ready <= 0) continue;
            ssize_t n = ::read(fds[0], to, size);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
    };
    bool ok = false;
    util::Diagnostic why;
    std::string fault;
    const uint64_t most = memory ? memory + (64ull << 20) : UINT64_MAX;
    bool valid = false;
    try {
        valid = readImporterAnswer(pull, most, ok, out, why, fault);
    } catch (const std::bad_alloc &) {
        out = ImportedMesh();
        fault = "the mesh it gives needs more memory than there is";
    }
    ::close(fds[0]);

    // The importer's end: it exits once it has answered; past the deadline, or after an answer
    // that does not check out, it is killed.
    int status = 0;
    bool waited = false;
    if (!valid || late) ::kill(pid, SIGKILL);
    for (;;) {
        pid_t got = ::waitpid(pid, &status, late || !valid ? 0 : WNOHANG);
        if (got == pid) {
            waited = true;
            break;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;  // not ours to wait for (SIGCHLD ignored)
        if (std::chrono::steady_clock::now() >= deadline) {
            late = true;
            ::kill(pid, SIGKILL);
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (late) return refuse("the mesh importer took longer than " + std::to_string(seconds) + " s");
    std::string died = failure(status, waited, seconds, memory);
    if (!died.empty()) return refuse(died);
    if (!valid) return refuse("the mesh importer's answer is damaged: " + fault);
    if (!ok) {
        out = ImportedMesh();
        error = why;
        return false;
    }
    return true;
}

int meshImporterMain(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s MESH LAYER MEMORY_LIMIT ADDRESS_LIMIT CPU_SECONDS\n", kMeshImporter);
        return 64;
    }
    const std::string path = argv[1];
    const int layer = static_cast<int>(std::strtol(argv[2], nullptr, 10));
    const uint64_t memoryLimit = std::strtoull(argv[3], nullptr, 10);
    const uint64_t address = std::strtoull(argv[4], nullptr, 10);
    const rlim_t seconds = std::strtoul(argv[5], nullptr, 10);

    struct rlimit none = {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);  // a crash on a hostile file leaves no core behind
    if (seconds) {
        struct rlimit cpu = {seconds, seconds + 5};
        ::setrlimit(RLIMIT_CPU, &cpu);
    }
    struct rlimit stack;
    if (::getrlimit(RLIMIT_STACK, &stack) == 0 &&
        (stack.rlim_cur == RLIM_INFINITY || stack.rlim_cur > kImporterStack)) {
        stack.rlim_cur = kImporterStack;
        ::setrlimit(RLIMIT_STACK, &stack);
    }
#ifndef VELMORA_SANITIZED
    // (The sanitizers reserve terabytes of address space up front: no cap there.)
    if (address) {
        struct rlimit as = {address, address};
        ::setrlimit(RLIMIT_AS, &as);
    }
#else
    (void)address;
#endif
    std::set_new_handler(outOfMemory);

    ImportedMesh mesh;
    util::Diagnostic why;
    bool ok = importMeshInProcess(path, layer, mesh, why, memoryLimit);
    // Answered, the process ends at once: freeing a large mesh piece by piece would only delay
    // the renderer, which waits for the exit.
    ::_exit(writeImporterAnswer(1, ok, mesh, why) ? 0 : 1);
}

}  // namespace host::scene
