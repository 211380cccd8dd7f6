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

void clsStreamWindow::Unlock() {
    GlobalUnlock(global_);
    global_ = nullptr;
}

} // namespace kv::pal
