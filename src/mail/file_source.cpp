#include "mail/file_source.h"

#include <vector>

#include "runtime/except.h"
#include "pal/system.h"

namespace kv {

bool CopyFileToStream(const String &path, IStream *destination) {
    if (path.empty()) return false;
    pal::FileHandle file = pal::FileOpen(path, false);
    if (file == pal::kInvalidFile) return false;
    struct Closer {
        pal::FileHandle f;
        ~Closer() { pal::FileClose(f); }
    } closer{file};
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        int64_t n = pal::FileRead(file, buffer.data(), buffer.size());
        if (n < 0) throw clsExcept(kErrGeneral, Format("cannot read the file '%s'", path.c_str()));
        if (n == 0) return true;
        ULONG written = 0;
        HRESULT hr = destination->Write(buffer.data(), ULONG(n), &written);
        if (FAILED(hr) || written != ULONG(n))
            throw clsExcept(kErrGeneral, Format("cannot copy the file '%s'", path.c_str()));
    }
}

WholeFile ReadWholeFile(const String &path, std::string &out) {
    out.clear();
    pal::FileHandle file = pal::FileOpen(path, false);
    if (file == pal::kInvalidFile) return WholeFile::NotOpened;
    char buffer[65536];
    int64_t got;
    while ((got = pal::FileRead(file, buffer, sizeof buffer)) > 0) out.append(buffer, size_t(got));
    pal::FileClose(file);
    return got < 0 ? WholeFile::ReadFailed : WholeFile::Read;
}

} // namespace kv
