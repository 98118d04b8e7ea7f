// SPDX-License-Identifier: Apache-2.0
// Mesh files as assimp reads them: from memory or from a file descriptor, only through host/io,
// within the byte and memory limits of one import; and which of assimp's readers takes a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <assimp/BaseImporter.h>
#include <assimp/importerdesc.h>
#include <assimp/IOStream.hpp>

#include "host/scene/mesh_pvt.h"

namespace host::scene::mesh_pvt {

namespace {

// ---------------------------------------------------------------------------------------------
// Files as the importer reads them.

// Bytes held in memory.
class MemoryStream : public Assimp::IOStream {
public:
    explicit MemoryStream(const std::string &data) : data_(data) {}
    size_t Read(void *buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0 || pos_ >= data_.size()) return 0;
        size_t items = std::min(count, (data_.size() - pos_) / size);
        std::memcpy(buffer, data_.data() + pos_, items * size);
        pos_ += items * size;
        return items;
    }
    size_t Write(const void *, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        // Offsets wrap as the importers' own memory streams let them: a "negative" one moves back.
        size_t to = origin == aiOrigin_SET ? offset : (origin == aiOrigin_CUR ? pos_ : data_.size()) + offset;
        if (to > data_.size()) return aiReturn_FAILURE;
        pos_ = to;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return pos_; }
    size_t FileSize() const override { return data_.size(); }
    void Flush() override {}

private:
    const std::string &data_;
    size_t pos_ = 0;
};

// A regular file opened through host/io, read where the importer asks; its size is the one
// checked when it was opened.
class FileStream : public Assimp::IOStream {
public:
    FileStream(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileStream() override { ::close(fd_); }
    size_t Read(void *buffer, size_t size, size_t count) override {
        if (size == 0 || count == 0 || pos_ >= size_) return 0;
        size_t items = std::min<uint64_t>(count, (size_ - pos_) / size);
        size_t want = items * size, got = 0;
        char *out = static_cast<char *>(buffer);
        while (got < want) {
            ssize_t n = ::pread(fd_, out + got, want - got, static_cast<off_t>(pos_ + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        items = got / size;
        pos_ += items * size;
        return items;
    }
    size_t Write(const void *, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        uint64_t to = origin == aiOrigin_SET ? offset : (origin == aiOrigin_CUR ? pos_ : size_) + offset;
        if (origin != aiOrigin_SET) to &= SIZE_MAX;
        if (to > size_) return aiReturn_FAILURE;
        pos_ = to;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return static_cast<size_t>(pos_); }
    size_t FileSize() const override { return static_cast<size_t>(size_); }
    void Flush() override {}

private:
    int fd_;
    uint64_t size_, pos_ = 0;
};

}  // namespace

// ---- BoundedIO

bool BoundedIO::Exists(const char *file) const {
    if (!file) return false;
    if (main_ == file) return true;
    struct stat st;
    return sideFiles_ && ::stat(file, &st) == 0;
}

Assimp::IOStream *BoundedIO::Open(const char *file, const char *mode) {
    if (!file || !mode || std::strpbrk(mode, "wa+")) return nullptr;
    std::string why;
    uint64_t size = 0;
    if (main_ == file) {
        if (mainData_) return new MemoryStream(*mainData_);
        int fd = io::openRegularFile(main_, io::kMaxMeshBytes, "mesh file", size, why);
        if (fd < 0) refuse("cannot open mesh file " + quoteFile(main_) + ": " + why);
        return fd < 0 ? nullptr : new FileStream(fd, size);
    }
    if (!sideFiles_) return nullptr;
    struct stat st;
    if (::stat(file, &st) != 0 && errno == ENOENT) return nullptr;
    std::string kind = sideKind_.empty() ? "file" : sideKind_ + " file";
    std::string named = sideKind_.empty()
                            ? kind + " " + quoteFile(file) + " named by mesh file " + quoteFile(main_)
                            : kind + " " + quoteFile(file);
    int fd = io::openRegularFile(file, io::kMaxMeshBytes - std::min(read_, io::kMaxMeshBytes),
                                 sideKind_.empty() ? "mesh file" : kind.c_str(), size, why);
    // A material file's refusal names the mesh file too, after the reason.
    const std::string by = sideKind_.empty() ? "" : " (named by mesh file " + quoteFile(main_) + ")";
    if (fd < 0) {
        refuse("cannot read " + named + ": " + why + by);
        return nullptr;
    }
    if (std::find(files.begin(), files.end(), file) == files.end()) {
        // Each file once: an importer may open the same one again.
        read_ += size;
        estimate_ += size * factor_;
        files.push_back(file);
    }
    if (limit_ && estimate_ > limit_) {
        ::close(fd);
        refuse(named + " would need about " + io::byteText(estimate_) + " of memory, more than the " +
               io::byteText(limit_) + " left for the scene" + by);
        return nullptr;
    }
    return new FileStream(fd, size);
}

// The reader for a file: by its extension, else by its first bytes (a host object always
// by its FORM header); None when neither tells.
Format formatOf(const std::string &path, const char *head, size_t got) {
    auto starts = [&](const char *with) {
        size_t n = std::strlen(with);
        return got >= n && std::memcmp(head, with, n) == 0;
    };
    if (got >= 12 && starts("FORM") &&
        (std::memcmp(head + 8, "LWO2", 4) == 0 || std::memcmp(head + 8, "LWOB", 4) == 0 ||
         std::memcmp(head + 8, "LXOB", 4) == 0 || std::memcmp(head + 8, "LWO3", 4) == 0))
        return Format::Lwo;
    const std::string ext = extensionOf(path);
    if (ext == "lwo" || ext == "lxo") return Format::Lwo;
    if (ext == "obj") return Format::Obj;
    if (ext == "ply") return Format::Ply;
    if (ext == "stl") return Format::Stl;
    if (ext == "gltf" || ext == "glb") return Format::Gltf;
    if (ext == "fbx") return Format::Fbx;
    if (ext == "dae") return Format::Collada;
    std::string text(head, got);
    if (starts("ply")) return Format::Ply;
    if (starts("glTF") || text.find("\"asset\"") != std::string::npos) return Format::Gltf;
    if (starts("Kaydara FBX Binary") || text.find("FBXHeaderExtension") != std::string::npos) return Format::Fbx;
    if (text.find("<COLLADA") != std::string::npos) return Format::Collada;
    if (starts("solid")) return Format::Stl;
    return Format::None;
}

// An importer that knows only the reader for `format`.
void keepReaders(Assimp::Importer &importer, Format format) {
    std::vector<Assimp::BaseImporter *> drop;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
        const aiImporterDesc *d = importer.GetImporterInfo(i);
        std::string name = d && d->mName ? d->mName : "", exts = d && d->mFileExtensions ? d->mFileExtensions : "";
        std::string first = exts.substr(0, exts.find(' '));
        bool keep = (format == Format::Obj && first == "obj") || (format == Format::Lwo && first == "lwo") ||
                    (format == Format::Ply && first == "ply") || (format == Format::Stl && first == "stl") ||
                    (format == Format::Fbx && first == "fbx") || (format == Format::Collada && first == "dae") ||
                    (format == Format::Gltf && name.find("glTF2") != std::string::npos);
        if (!keep) drop.push_back(importer.GetImporter(i));
    }
    // The importer forgets an unregistered reader without deleting it.
    for (Assimp::BaseImporter *reader : drop) {
        importer.UnregisterLoader(reader);
        delete reader;
    }
}

}  // namespace host::scene::mesh_pvt
