// SPDX-License-Identifier: Apache-2.0
// The live temporary files of outputs being written, and the signal handler that removes them.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/io/file_io.h"

namespace host::io {

// Fixed slots with their paths preallocated: the handler reads them without locks or allocation.
// A slot is free, being filled or emptied (only its owner touches it), or live (the handler may
// read its path).
struct TempFiles {
    static constexpr int kSlots = 32;
    static constexpr size_t kPathBytes = 4096;
    enum State : int { kFree, kBusy, kLive };
    struct Slot {
        std::atomic<int> state{kFree};
        char path[kPathBytes];
    };
    Slot slots[kSlots];
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots' states");
static_assert(std::atomic<TempFiles *>::is_always_lock_free, "the signal handler reads the registry");

TempFiles ownFiles;
std::atomic<TempFiles *> sharedFiles{&ownFiles};

extern "C" void removeTempFilesAndDie(int sig) {
    const int saved = errno;
    TempFiles *files = sharedFiles.load();
    for (TempFiles::Slot &s : files->slots)
        if (s.state.load() == TempFiles::kLive) ::unlink(s.path);
    errno = saved;
    // The handler was reset to the default action as it was entered (SA_RESETHAND), and the
    // signal is not blocked in it (SA_NODEFER): raising it again ends the program as it would have.
    ::raise(sig);
}

}  // namespace

TempFiles &tempFiles() { return *sharedFiles.load(); }

void shareTempFiles(TempFiles *files) {
    if (files) sharedFiles.store(files);
}

int registerTempFile(const std::string &path) {
    TempFiles &files = tempFiles();
    if (path.size() >= TempFiles::kPathBytes) return -1;
    for (int i = 0; i < TempFiles::kSlots; ++i) {
        TempFiles::Slot &s = files.slots[i];
        int expected = TempFiles::kFree;
        if (!s.state.compare_exchange_strong(expected, TempFiles::kBusy)) continue;
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.state.store(TempFiles::kLive);
        return i;
    }
    return -1;  // more live outputs than slots: this one is not removed on a signal
}

void unregisterTempFile(int slot) {
    if (slot < 0 || slot >= TempFiles::kSlots) return;
    tempFiles().slots[slot].state.store(TempFiles::kFree);
}

void removeTempFilesOnSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;  // as under nohup
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = removeTempFilesAndDie;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace host::io
