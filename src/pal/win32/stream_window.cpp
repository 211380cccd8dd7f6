#include "pal/stream_window.h"

namespace kv::pal {

bool clsStreamWindow::Open(IStream *stream) {
    Close();
    HGLOBAL global = nullptr;
    if (!stream || FAILED(GetHGlobalFromStream(stream, &global)) || !global) return false;
    STATSTG stat{};
    ULARGE_INTEGER at{};
    LARGE_INTEGER none{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(stream->Seek(none, STREAM_SEEK_CUR, &at)) ||
        at.QuadPart >= stat.cbSize.QuadPart || stat.cbSize.QuadPart > SIZE_MAX)
        return false;
    auto *bytes = static_cast<uint8_t *>(GlobalLock(global));
    if (!bytes) return false;
    stream_ = stream;
    global_ = global;
    data_ = bytes + at.QuadPart;
    size_ = size_t(stat.cbSize.QuadPart - at.QuadPart);
    used_ = mapped_ = 0;
    start_ = at.QuadPart;
    return true;
}

void clsStreamWindow::Close() {
    if (!stream_) return;
    // Unlocked first: cutting the stream may move its memory.
    GlobalUnlock(global_);
    ULARGE_INTEGER end;
    end.QuadPart = start_ + used_;
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(end.QuadPart);
    stream_->SetSize(end);
    stream_->Seek(to, STREAM_SEEK_SET, nullptr);
    stream_ = nullptr;
    global_ = nullptr;
    data_ = nullptr;
    size_ = used_ = mapped_ = 0;
}

} // namespace kv::pal
