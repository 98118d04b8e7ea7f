// SPDX-License-Identifier: Apache-2.0
// Bounded, checked access to the files a render reads and writes.
//
// Reading: only regular files are read (a folder, FIFO, device or socket is refused without
// blocking), and each kind of input has a size cap, so no input can hang the renderer or grow it
// without bound. Writing: an output is written to a temporary file beside its destination, every
// write and the close are checked, and the temporary is renamed into place only when complete,
// so an output is either written whole or not touched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host::io {

// Size caps per kind of input.
constexpr uint64_t kMaxSceneBytes = 256ull << 20;   // scene files (JSON)
constexpr uint64_t kMaxMeshBytes = 2048ull << 20;   // mesh files and their material files
constexpr uint64_t kMaxImageBytes = 2048ull << 20;  // image files

// Opens a regular file of at most maxBytes for reading and returns its descriptor (blocking
// reads, close-on-exec; the caller closes it) and its size. The open itself never blocks, and the
// kind and size are checked on the opened descriptor, so a FIFO, device or folder, even one put in
// place of a checked file, is refused. On failure returns -1 with a short reason in `why`. `what`
// names the kind of file in messages ("scene file", "image file", ...).
int openRegularFile(const std::string &path, uint64_t maxBytes, const char *what, uint64_t &size,
                    std::string &why);

// Whether `path` is a regular file of at most maxBytes, checked as openRegularFile checks it
// (without blocking or reading), for refusing a file before a library is loaded to read it; the
// reader still opens it with openRegularFile. On failure returns false with the reason in `why`.
bool checkRegularFile(const std::string &path, uint64_t maxBytes, const char *what, std::string &why);

// Reads a whole regular file of at most maxBytes. On failure returns false with a short reason
// ("is a folder, not a file", "is larger than the 256 MB limit for ...", "cannot be opened: ...").
// `what` names the kind of file in messages ("scene file", "mesh file", ...).
bool readFile(const std::string &path, uint64_t maxBytes, const char *what, std::string &out, std::string &why);

// "256 MB", "2 GB": a byte count for messages.
std::string byteText(uint64_t bytes);

// Identity of an existing file (device and inode), to tell whether two paths name the same file.
struct FileId {
    uint64_t dev = 0, ino = 0;
    bool valid = false;
    bool operator==(const FileId &o) const { return valid && o.valid && dev == o.dev && ino == o.ino; }
};
FileId fileId(const std::string &path);  // follows links; invalid when the file does not exist

// Why an output cannot be written at `path`, or empty: its folder must exist and be writable, and
// an existing file there must be a regular file (links are followed).
std::string checkWritable(const std::string &path);

// Writes an output atomically: `produce` writes the content through the sink it is given (a
// sequence of byte blocks; returns false to abandon the output with a reason in `why`). The
// content goes to a temporary file in the destination's folder, is flushed to disk and renamed
// over `path`. On any failure the temporary is removed, `path` is left as it was, and false is
// returned with a reason.
using ByteSink = std::function<bool(const void *data, size_t size)>;
bool writeFileAtomic(const std::string &path, const std::function<bool(const ByteSink &, std::string &)> &produce,
                     std::string &why);

// For writers that need a file name of their own (image libraries): makes a temporary name in
// the folder of `path` with the same extension. commit() renames it over `path`; the destructor
// removes it when not committed. While it lives it is in the registry of temporary files below,
// so that a program ended by a signal leaves no partial output behind.
class TempOutput {
public:
    explicit TempOutput(const std::string &path);
    ~TempOutput();
    TempOutput(const TempOutput &) = delete;
    TempOutput &operator=(const TempOutput &) = delete;
    const std::string &name() const { return temp_; }  // empty when none could be made
    bool commit(std::string &why);                     // fsync, then rename into place

private:
    std::string path_, temp_;
    bool committed_ = false;
    int slot_ = -1;  // in the registry of temporary files
};

// The registry of live temporary files: fixed slots with room for their paths made in advance,
// which a signal handler can read. A library linked with its own copy of this code (the image
// codecs) shares the program's registry through shareTempFiles(&tempFiles()).
struct TempFiles;
TempFiles &tempFiles();
void shareTempFiles(TempFiles *files);
// A slot for `path`, or -1 when it cannot have one (all 32 taken, or a path of 4096 bytes or
// more); unregisterTempFile(-1) does nothing.
int registerTempFile(const std::string &path);
void unregisterTempFile(int slot);

// Installs handlers for SIGINT, SIGTERM and SIGHUP (those not ignored) that remove every
// registered temporary file, with async-signal-safe calls only (unlink), then end the program
// by the signal's default action. For programs that write outputs; a program that waits for
// these signals itself (the look-development server) blocks them instead.
void removeTempFilesOnSignals();

// Physical memory this process can still use, in bytes: the smaller of the system's available
// memory, the room under this process's cgroup limit and VELMORA_MEMORY_LIMIT (bytes, or a number
// with K, M or G) when set; 0 when unknown.
uint64_t availableMemory();

}  // namespace host::io
