#include "runtime/file_rw_temp.h"

#include <cstddef>
#include <mutex>
#include <vector>

#include "log/except.h"

namespace kv {

namespace {
constexpr size_t kBlock = 64 * 1024;

// Emptied hidden files kept for reuse: a mail made, sent and released after
// another would otherwise create and delete a file each time, and on some
// file systems making a file costs more than the whole SMTP dialogue.
class clsSparedFiles {
  public:
    pal::FileHandle Take(const String &prefix, const String &extension) {
        std::lock_guard<std::mutex> guard(lock_);
        for (size_t i = files_.size(); i-- > 0;) {
            if (files_[i].prefix != prefix || files_[i].extension != extension) continue;
            pal::FileHandle file = files_[i].file;
            files_.erase(files_.begin() + std::ptrdiff_t(i));
            return file;
        }
        return pal::kInvalidFile;
    }
    // False when enough are kept: the caller closes the file.
    bool Give(pal::FileHandle file, const String &prefix, const String &extension) {
        std::lock_guard<std::mutex> guard(lock_);
        if (files_.size() >= kKept) return false;
        files_.push_back({file, prefix, extension});
        return true;
    }

  private:
    static constexpr size_t kKept = 8;
    struct Spared {
        pal::FileHandle file;
        String prefix, extension;
    };
    std::mutex lock_;
    std::vector<Spared> files_;
};

// Never destroyed: a mail released while the process ends may still give
// its file back. The kept files go with the process (they have no name).
clsSparedFiles &Spared() {
    static clsSparedFiles *spared = new clsSparedFiles;
    return *spared;
}
} // namespace

clsFileRWTemp::~clsFileRWTemp() {
    if (file_ == pal::kInvalidFile) return;
    // Emptied before it is kept or closed: a file once cut to length 0 would
    // otherwise be written to disk on close by some file systems (ext4's
    // auto_da_alloc), although it is deleted unread.
    bool empty = Size() == 0 || pal::FileSetSize(file_, 0);
    if (empty && pal::FileSeek(file_, 0) && Spared().Give(file_, prefix_, extension_)) return;
    pal::FileClose(file_);
}

pal::FileHandle clsFileRWTemp::Handle() {
    if (file_ == pal::kInvalidFile) {
        file_ = Spared().Take(prefix_, extension_);
        if (file_ == pal::kInvalidFile) file_ = pal::TempFileOpen(prefix_, extension_);
        if (file_ == pal::kInvalidFile)
            throw clsExcept(-5, Format("cannot create a temporary file '%s*%s'", prefix_.c_str(), extension_.c_str()));
    }
    return file_;
}

uint64_t clsFileRWTemp::Size() const {
    if (file_ == pal::kInvalidFile) return 0;
    int64_t size = pal::FileSize(file_);
    return size < 0 ? 0 : uint64_t(size);
}

void clsFileRWTemp::Truncate() {
    if (file_ == pal::kInvalidFile) return;
    // An empty file (a new or reused one) needs only the rewind.
    if ((Size() != 0 && !pal::FileSetSize(file_, 0)) || !pal::FileSeek(file_, 0))
        throw clsExcept(-5, "cannot truncate the temporary file");
}

void clsFileRWTemp::Rewind() {
    if (file_ == pal::kInvalidFile) return;
    if (!pal::FileSeek(file_, 0)) throw clsExcept(-5, "cannot seek in the temporary file");
}

void clsFileRWTemp::Write(const void *data, size_t size) {
    if (size == 0) return;
    if (!pal::FileWrite(Handle(), data, size)) throw clsExcept(-5, "cannot write the temporary file");
}

size_t clsFileRWTemp::Read(void *buffer, size_t size) {
    if (file_ == pal::kInvalidFile || size == 0) return 0;
    int64_t n = pal::FileRead(file_, buffer, size);
    if (n < 0) throw clsExcept(-5, "cannot read the temporary file");
    return size_t(n);
}

String clsFileRWTemp::ReadAll() {
    String all;
    all.reserve(size_t(Size()));
    Rewind();
    std::vector<char> buffer(kBlock);
    for (size_t n; (n = Read(buffer.data(), buffer.size())) > 0;) all.append(buffer.data(), n);
    return all;
}

HRESULT clsFileRWTemp::LoadFrom(IStream *source) {
    if (!source) return E_INVALIDARG;
    LARGE_INTEGER zero{};
    HRESULT hr = source->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    Handle();
    Truncate();
    std::vector<char> buffer(kBlock);
    for (;;) {
        ULONG got = 0;
        hr = source->Read(buffer.data(), ULONG(buffer.size()), &got);
        if (FAILED(hr)) return hr;
        if (got == 0) break;
        Write(buffer.data(), got);
    }
    return S_OK;
}

HRESULT clsFileRWTemp::SaveTo(IStream *destination) {
    if (!destination) return E_INVALIDARG;
    Rewind();
    std::vector<char> buffer(kBlock);
    for (size_t n; (n = Read(buffer.data(), buffer.size())) > 0;) {
        ULONG written = 0;
        HRESULT hr = destination->Write(buffer.data(), ULONG(n), &written);
        if (FAILED(hr)) return hr;
        if (written != n) return STG_E_MEDIUMFULL;
    }
    return S_OK;
}

} // namespace kv
