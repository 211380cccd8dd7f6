// A growable memory IStream, as CreateStreamOnHGlobal gives on Windows.
// Clones share the memory and keep their own position.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pal/com.h"
#include "pal/memory.h"
#include "pal/stream_window.h"

namespace {

// The bytes of a stream. Growth goes through realloc (a large block moves
// without a copy), and bytes past what was written are zeroed only when
// they are first read or skipped over: a stream sized for a body about to be
// written then costs one pass over its memory, not two.
class StreamMemory {
  public:
    StreamMemory() = default;
    StreamMemory(const StreamMemory &) = delete;
    StreamMemory &operator=(const StreamMemory &) = delete;
    ~StreamMemory() { std::free(data_); }

    size_t size() const { return size_; }
    uint8_t *data() { return data_; }

    // False when the memory cannot be had; nothing changes then.
    bool Resize(size_t size) {
        if (size > capacity_) {
            size_t capacity = std::max(size, capacity_ + capacity_ / 2);
            void *grown = std::realloc(data_, capacity);
            if (!grown && capacity > size) grown = std::realloc(data_, capacity = size);
            if (!grown) return false;
            data_ = static_cast<uint8_t *>(grown);
            capacity_ = capacity;
            mapped_ = std::min(mapped_, written_);
        }
        size_ = size;
        written_ = std::min(written_, size_);
        return true;
    }
    // The bytes from `from` to the end, to be written in place: counted as
    // written (the writer cuts the stream after what it wrote), and mapped
    // by the writer as it goes.
    uint8_t *Expose(size_t from) {
        if (from >= size_) return nullptr;
        Define(from);
        mapped_ = std::max(mapped_, size_);
        written_ = size_;
        return data_ + from;
    }
    // Makes the bytes before `to` defined: zero where nothing was written yet.
    void Define(size_t to) {
        to = std::min(to, size_);
        if (to > written_) {
            std::memset(data_ + written_, 0, to - written_);
            written_ = to;
        }
    }
    // Writes at pos, inside the size.
    void Put(size_t pos, const void *bytes, size_t n) {
        Define(pos);
        // Pages of a large stream are mapped a stretch ahead of the writes, in
        // one call rather than one fault at a time, and only as far as the
        // writes go (a stream sized for the most a body can take is mostly
        // filled less).
        if (pos + n > mapped_ && capacity_ >= kMapAhead) {
            size_t from = std::max(mapped_, pos), to = std::min(capacity_, pos + n + kMapAhead);
            kv::pal::PrefaultPages(data_ + from, to - from);
            mapped_ = to;
        }
        std::memcpy(data_ + pos, bytes, n);
        written_ = std::max(written_, pos + n);
    }

  private:
    // Near enough that the pages just cleared are still in the cache when written.
    static constexpr size_t kMapAhead = 256u << 10;
    uint8_t *data_ = nullptr;
    size_t size_ = 0, capacity_ = 0, written_ = 0, mapped_ = 0;
};

// Asks a stream whether it is one of ours (no reference is added).
const IID kIID_MemoryStream = {0x6b7f2a10, 0x41c3, 0x4e8d, {0x9a, 0x55, 0x0e, 0x21, 0x7c, 0x3b, 0x88, 0x14}};

class MemoryStream final : public IStream {
  public:
    explicit MemoryStream(std::shared_ptr<StreamMemory> data) : data_(std::move(data)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
            IsEqualIID(riid, IID_ISequentialStream)) {
            *ppv = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, kIID_MemoryStream)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *pcbRead) override {
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        auto &d = *data_;
        ULONG n = 0;
        if (pos_ < d.size()) {
            uint64_t avail = d.size() - pos_;
            n = cb < avail ? cb : ULONG(avail);
            d.Define(size_t(pos_ + n));
            if (n) std::memcpy(pv, d.data() + pos_, n);
            pos_ += n;
        }
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void *pv, ULONG cb, ULONG *pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        auto &d = *data_;
        uint64_t end = pos_ + cb;
        if (end > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
        if (end > d.size() && !d.Resize(size_t(end))) return STG_E_MEDIUMFULL;
        if (cb) d.Put(size_t(pos_), pv, cb);
        pos_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPosition) override {
        long long base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = (long long)pos_; break;
        case STREAM_SEEK_END: base = (long long)data_->size(); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        long long target;
        if (__builtin_add_overflow(base, (long long)move.QuadPart, &target) || target < 0)
            return STG_E_INVALIDFUNCTION;
        pos_ = uint64_t(target);
        if (newPosition) newPosition->QuadPart = pos_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override {
        if (newSize.QuadPart > 0xFFFFFFFFull) return STG_E_MEDIUMFULL;
        return data_->Resize(size_t(newSize.QuadPart)) ? S_OK : STG_E_MEDIUMFULL;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream *dest, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                                     ULARGE_INTEGER *pcbWritten) override {
        if (pcbRead) pcbRead->QuadPart = 0;
        if (pcbWritten) pcbWritten->QuadPart = 0;
        if (!dest) return STG_E_INVALIDPOINTER;
        uint64_t read = 0, written = 0;
        // What is there now: a destination sharing our memory (a clone, or
        // this stream itself) grows it while we copy and must not feed the copy.
        uint64_t limit = pos_ < data_->size() ? data_->size() - pos_ : 0;
        if (cb.QuadPart < limit) limit = cb.QuadPart;
        while (read < limit && pos_ < data_->size()) {
            uint64_t avail = data_->size() - pos_;
            uint64_t want = limit - read;
            ULONG chunk = ULONG(std::min<uint64_t>(std::min(avail, want), 1u << 20));
            // Copy out first: dest may be a clone sharing our memory.
            data_->Define(size_t(pos_ + chunk));
            std::vector<uint8_t> block(data_->data() + pos_, data_->data() + pos_ + chunk);
            pos_ += chunk;
            read += chunk;
            ULONG w = 0;
            HRESULT hr = dest->Write(block.data(), chunk, &w);
            written += w;
            if (FAILED(hr)) {
                if (pcbRead) pcbRead->QuadPart = read;
                if (pcbWritten) pcbWritten->QuadPart = written;
                return hr;
            }
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_->size();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream **clone) override {
        if (!clone) return STG_E_INVALIDPOINTER;
        auto *c = new (std::nothrow) MemoryStream(data_);
        if (!c) {
            *clone = nullptr;
            return E_OUTOFMEMORY;
        }
        c->pos_ = pos_;
        c->AddRef();
        *clone = c;
        return S_OK;
    }

    uint8_t *Expose(size_t *size) {
        if (pos_ >= data_->size()) return nullptr;
        *size = data_->size() - size_t(pos_);
        return data_->Expose(size_t(pos_));
    }

  private:
    std::atomic<ULONG> refs_{0};
    std::shared_ptr<StreamMemory> data_;
    uint64_t pos_ = 0;
};

} // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL, IStream **stream) {
    if (!stream) return E_INVALIDARG;
    *stream = nullptr;
    if (global) return E_INVALIDARG; // no global memory handles here
    auto *s = new (std::nothrow) MemoryStream(std::make_shared<StreamMemory>());
    if (!s) return E_OUTOFMEMORY;
    s->AddRef();
    *stream = s;
    return S_OK;
}

namespace kv::pal {

bool clsStreamWindow::Open(IStream *stream) {
    Close();
    void *self = nullptr;
    if (!stream || FAILED(stream->QueryInterface(kIID_MemoryStream, &self)) || !self) return false;
    // The position first: exposed bytes count as written, so nothing may fail after.
    ULARGE_INTEGER at{};
    LARGE_INTEGER none{};
    if (FAILED(stream->Seek(none, STREAM_SEEK_CUR, &at))) return false;
    size_t size = 0;
    uint8_t *data = static_cast<MemoryStream *>(self)->Expose(&size);
    if (!data) return false;
    stream_ = stream;
    data_ = data;
    size_ = size;
    used_ = mapped_ = 0;
    start_ = at.QuadPart;
    return true;
}

void clsStreamWindow::Unlock() {}

} // namespace kv::pal
