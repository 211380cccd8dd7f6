#include "runtime/file_rw_temp.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

#include "runtime/except.h"

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
            throw clsExcept(kErrGeneral,
                            Format("cannot create a temporary file '%s*%s'", prefix_.c_str(), extension_.c_str()));
    }
    if (memory_) Spill();
    return file_;
}

void clsFileRWTemp::KeepInMemory(clsMemoryBlock data, size_t size) {
    Truncate();
    if (!data || size == 0) return;
    memory_ = std::move(data);
    memorySize_ = size;
}

void clsFileRWTemp::Spill() {
    clsMemoryBlock memory = std::move(memory_);
    size_t size = memorySize_, pos = memoryPos_;
    memorySize_ = memoryPos_ = 0;
    if (!pal::FileSetSize(file_, 0) || !pal::FileSeek(file_, 0) || (size && !pal::FileWrite(file_, memory.get(), size)) ||
        !pal::FileSeek(file_, pos))
        throw clsExcept(kErrGeneral, "cannot write the temporary file");
}

uint64_t clsFileRWTemp::Size() const {
    if (memory_) return memorySize_;
    if (file_ == pal::kInvalidFile) return 0;
    int64_t size = pal::FileSize(file_);
    return size < 0 ? 0 : uint64_t(size);
}

void clsFileRWTemp::Truncate() {
    memory_.reset();
    memorySize_ = memoryPos_ = 0;
    if (file_ == pal::kInvalidFile) return;
    // An empty file (a new or reused one) needs only the rewind.
    if ((Size() != 0 && !pal::FileSetSize(file_, 0)) || !pal::FileSeek(file_, 0))
        throw clsExcept(kErrGeneral, "cannot truncate the temporary file");
}

void clsFileRWTemp::Rewind() {
    memoryPos_ = 0;
    if (memory_ || file_ == pal::kInvalidFile) return;
    if (!pal::FileSeek(file_, 0)) throw clsExcept(kErrGeneral, "cannot seek in the temporary file");
}

void clsFileRWTemp::Write(const void *data, size_t size) {
    if (size == 0) return;
    if (!pal::FileWrite(Handle(), data, size)) throw clsExcept(kErrGeneral, "cannot write the temporary file");
}

size_t clsFileRWTemp::Read(void *buffer, size_t size) {
    if (memory_) {
        size_t n = std::min(size, memorySize_ - memoryPos_);
        if (n) std::memcpy(buffer, memory_.get() + memoryPos_, n);
        memoryPos_ += n;
        return n;
    }
    if (file_ == pal::kInvalidFile || size == 0) return 0;
    int64_t n = pal::FileRead(file_, buffer, size);
    if (n < 0) throw clsExcept(kErrGeneral, "cannot read the temporary file");
    return size_t(n);
}

String clsFileRWTemp::ReadAll() {
    if (memory_) {
        memoryPos_ = memorySize_;
        return String(memory_.get(), memorySize_);
    }
    String all;
    all.reserve(size_t(Size()));
    Rewind();
    std::vector<char> buffer(kBlock);
    for (size_t n; (n = Read(buffer.data(), buffer.size())) > 0;) all.append(buffer.data(), n);
    return all;
}

HRESULT clsFileRWTemp::SaveTo(IStream *destination) {
    if (!destination) return E_INVALIDARG;
    Rewind();
    if (memory_) {
        // One write where the stream takes it, so a memory stream grows once.
        for (memoryPos_ = 0; memoryPos_ < memorySize_;) {
            ULONG chunk = ULONG(std::min<size_t>(memorySize_ - memoryPos_, 0x40000000));
            ULONG written = 0;
            HRESULT hr = destination->Write(memory_.get() + memoryPos_, chunk, &written);
            if (FAILED(hr)) return hr;
            if (written != chunk) return STG_E_MEDIUMFULL;
            memoryPos_ += chunk;
        }
        return S_OK;
    }
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
