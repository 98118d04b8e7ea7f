// SPDX-License-Identifier: Apache-2.0
#include "host/io/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace host::io {

namespace {

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

std::string errnoText(int e) { return std::strerror(e); }

std::string folderOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes a descriptor on every path out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::string byteText(uint64_t bytes) {
    char buf[48];
    if (bytes >= (1ull << 30) && bytes % (1ull << 30) == 0)
        std::snprintf(buf, sizeof buf, "%llu GB", static_cast<unsigned long long>(bytes >> 30));
    else if (bytes >= (1ull << 30))
        std::snprintf(buf, sizeof buf, "%.1f GB", bytes / double(1ull << 30));
    else if (bytes >= (1ull << 20))
        std::snprintf(buf, sizeof buf, "%llu MB", static_cast<unsigned long long>((bytes + (1ull << 19)) >> 20));
    else if (bytes >= 1024)
        std::snprintf(buf, sizeof buf, "%llu KB", static_cast<unsigned long long>((bytes + 512) >> 10));
    else
        std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
    return buf;
}

static std::string tooLargeText(uint64_t maxBytes, const char *what) {
    const bool vowel = std::strchr("aeiou", what[0]) != nullptr;
    return "is larger than the " + byteText(maxBytes) + " limit for " + (vowel ? "an " : "a ") + what;
}

int openRegularFile(const std::string &path, uint64_t maxBytes, const char *what, uint64_t &size,
                    std::string &why) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
    Fd f;
    f.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (f.fd < 0) {
        why = "cannot be opened: " + errnoText(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(f.fd, &st) != 0) {
        why = "cannot be read: " + errnoText(errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        why = kindOf(st.st_mode);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        why = tooLargeText(maxBytes, what);
        return -1;
    }
    int flags = ::fcntl(f.fd, F_GETFL);
    if (flags >= 0) ::fcntl(f.fd, F_SETFL, flags & ~O_NONBLOCK);
    size = static_cast<uint64_t>(st.st_size);
    int fd = f.fd;
    f.fd = -1;
    return fd;
}

bool checkRegularFile(const std::string &path, uint64_t maxBytes, const char *what, std::string &why) {
    uint64_t size = 0;
    Fd f;
    f.fd = openRegularFile(path, maxBytes, what, size, why);
    return f.fd >= 0;
}

bool readFile(const std::string &path, uint64_t maxBytes, const char *what, std::string &out, std::string &why) {
    out.clear();
    uint64_t size = 0;
    Fd f;
    f.fd = openRegularFile(path, maxBytes, what, size, why);
    if (f.fd < 0) return false;
    out.resize(static_cast<size_t>(size));
    size_t got = 0;
    // The file may grow while it is read: read past the size seen, never past the cap.
    for (;;) {
        if (got == out.size()) {
            if (out.size() >= maxBytes) {
                char probe;
                ssize_t n = ::read(f.fd, &probe, 1);
                if (n > 0) {
                    why = tooLargeText(maxBytes, what);
                    return false;
                }
                if (n < 0 && errno == EINTR) continue;
                break;
            }
            out.resize(std::min<uint64_t>(maxBytes, out.size() + (64u << 10)));
        }
        ssize_t n = ::read(f.fd, &out[got], out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            why = "cannot be read: " + errnoText(errno);
            out.clear();
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return true;
}

FileId fileId(const std::string &path) {
    FileId id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.dev = static_cast<uint64_t>(st.st_dev);
        id.ino = static_cast<uint64_t>(st.st_ino);
        id.valid = true;
    }
    return id;
}

namespace {

// The name of the temporary file a write of `path` goes through, in the same folder, before the
// random tag: ".NAME" + ".xxxxxxxx.tmp" + the extension.
constexpr size_t kTempTagBytes = 13;  // ".%08x.tmp"
std::string tempBase(const std::string &path, std::string &ext) {
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    ext = dot == std::string::npos ? "" : base.substr(dot);
    return base;
}

}  // namespace

std::string checkWritable(const std::string &path) {
    if (path.empty()) return "the output name is empty";
    if (path.back() == '/') return "names a folder, not a file";
    std::string ext, base = tempBase(path, ext);
    long longest = ::pathconf(folderOf(path).c_str(), _PC_NAME_MAX);
    if (longest <= 0) longest = 255;
    const size_t temp = 1 + base.size() + kTempTagBytes + ext.size();
    if (temp > static_cast<size_t>(longest))
        return "the file name is too long: " + std::to_string(base.size()) +
               " bytes, and the temporary file it is written through adds " + std::to_string(temp - base.size()) +
               "; the folder allows names of " + std::to_string(longest) + " bytes";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return kindOf(st.st_mode);
    std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &st) != 0) return "the folder \"" + folder + "\" does not exist";
    if (!S_ISDIR(st.st_mode)) return "\"" + folder + "\" is not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "the folder \"" + folder + "\" is not writable";
    return {};
}

TempOutput::TempOutput(const std::string &path) : path_(path) {
    std::string folder = folderOf(path), ext, base = tempBase(path, ext);
    std::random_device rd;
    for (int attempt = 0; attempt < 16 && temp_.empty(); ++attempt) {
        char tag[32];
        std::snprintf(tag, sizeof tag, ".%08x.tmp", static_cast<unsigned>(rd()));
        std::string name = folder + "/." + base + tag + ext;
        // Registered before it exists, so that no signal finds it made and unregistered.
        slot_ = registerTempFile(name);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            temp_ = name;
            continue;
        }
        const int e = errno;
        unregisterTempFile(slot_);
        slot_ = -1;
        errno = e;
        if (e != EEXIST) break;
    }
}

TempOutput::~TempOutput() {
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    unregisterTempFile(slot_);
}

bool TempOutput::commit(std::string &why) {
    if (temp_.empty()) {
        why = "cannot create a file in the folder of \"" + path_ + "\"";
        return false;
    }
    Fd f;
    f.fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0 || ::fsync(f.fd) != 0) {
        why = "cannot be written: " + errnoText(errno);
        return false;
    }
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
        why = "cannot be written: " + errnoText(errno);
        return false;
    }
    committed_ = true;
    unregisterTempFile(slot_);
    slot_ = -1;
    return true;
}

bool writeFileAtomic(const std::string &path, const std::function<bool(const ByteSink &, std::string &)> &produce,
                     std::string &why) {
    TempOutput temp(path);
    if (temp.name().empty()) {
        why = "cannot create a file in the folder of \"" + path + "\": " + errnoText(errno);
        return false;
    }
    bool ok;
    {
        Fd f;
        f.fd = ::open(temp.name().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (f.fd < 0) {
            why = "cannot be written: " + errnoText(errno);
            return false;
        }
        std::string writeError;
        ByteSink sink = [&](const void *data, size_t size) {
            const char *p = static_cast<const char *>(data);
            while (size > 0) {
                ssize_t n = ::write(f.fd, p, size);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    writeError = "cannot be written: " + errnoText(n < 0 ? errno : ENOSPC);
                    return false;
                }
                p += n;
                size -= static_cast<size_t>(n);
            }
            return true;
        };
        ok = produce(sink, why);
        if (ok && !writeError.empty()) {
            ok = false;
            why = writeError;
        }
        if (!ok && why.empty()) why = writeError.empty() ? "cannot be written" : writeError;
        if (ok && ::close(f.fd) != 0) {
            ok = false;
            why = "cannot be written: " + errnoText(errno);
        }
        if (ok) f.fd = -1;
    }
    return ok && temp.commit(why);
}

uint64_t availableMemory() {
    uint64_t avail = 0;
    // VELMORA_MEMORY_LIMIT (bytes, or with K, M or G) caps the figure, for shared machines and
    // for the fuzz targets.
    uint64_t cap = 0;
    if (const char *limit = std::getenv("VELMORA_MEMORY_LIMIT")) {
        char *end = nullptr;
        unsigned long long v = std::strtoull(limit, &end, 10);
        int shift = 0;
        if (end && (*end == 'K' || *end == 'k')) shift = 10;
        if (end && (*end == 'M' || *end == 'm')) shift = 20;
        if (end && (*end == 'G' || *end == 'g')) shift = 30;
        if (v > 0 && v < (1ull << (63 - shift))) cap = static_cast<uint64_t>(v) << shift;
    }
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kb;
    std::string unit;
    while (meminfo >> key >> kb) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") {
            avail = kb * 1024;
            break;
        }
    }
    // Under a cgroup (v2) limit, the room left under it.
    std::ifstream maxFile("/sys/fs/cgroup/memory.max"), curFile("/sys/fs/cgroup/memory.current");
    std::string maxText;
    uint64_t cur = 0;
    if (maxFile >> maxText && maxText != "max" && curFile >> cur) {
        uint64_t limit = std::strtoull(maxText.c_str(), nullptr, 10);
        uint64_t room = limit > cur ? limit - cur : 0;
        if (avail == 0 || room < avail) avail = room;
    }
    if (cap && (avail == 0 || cap < avail)) avail = cap;
    return avail;
}

}  // namespace host::io
