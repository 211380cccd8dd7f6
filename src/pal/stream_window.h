// The bytes of a memory stream (what CreateStreamOnHGlobal makes), from its
// position to its end, written in place: a large body is decoded straight
// into them rather than through a buffer and a copy. Other streams do not
// open; their writers go through IStream::Write as ever.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pal/com.h"
#include "pal/memory.h"

namespace kv::pal {

class clsStreamWindow {
  public:
    clsStreamWindow() = default;
    ~clsStreamWindow() { Close(); }
    clsStreamWindow(const clsStreamWindow &) = delete;
    clsStreamWindow &operator=(const clsStreamWindow &) = delete;

    // False for a stream that keeps no such bytes.
    bool Open(IStream *stream);
    bool IsOpen() const { return stream_ != nullptr; }
    uint8_t *Data() const { return data_; }
    size_t Size() const { return size_; }
    // How many of the bytes hold what was written.
    void AddUsed(size_t n) { used_ += n; }
    // Room for n bytes after those used, its pages mapped as it is handed
    // out (a window is made as large as its writer might need, and is mostly
    // filled less); nullptr when the window is short of it.
    uint8_t *Room(size_t n) {
        if (!stream_ || size_ - used_ < n) return nullptr;
        if (used_ + n > mapped_) {
            PrefaultPages(data_ + mapped_, used_ + n - mapped_);
            mapped_ = used_ + n;
        }
        return data_ + used_;
    }
    // The stream then ends after the bytes used, its position there.
    void Close() {
        if (!stream_) return;
        Unlock(); // first: cutting the stream may move its bytes
        ULARGE_INTEGER end;
        end.QuadPart = start_ + used_;
        LARGE_INTEGER to;
        to.QuadPart = LONGLONG(end.QuadPart);
        stream_->SetSize(end);
        stream_->Seek(to, STREAM_SEEK_SET, nullptr);
        stream_ = nullptr;
        data_ = nullptr;
        size_ = used_ = mapped_ = 0;
    }

  private:
    // Gives the bytes back to the stream.
    void Unlock();

    IStream *stream_ = nullptr;
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;
    size_t mapped_ = 0;
    uint64_t start_ = 0;
#if defined(_WIN32)
    HGLOBAL global_ = nullptr;
#endif
};

} // namespace kv::pal
