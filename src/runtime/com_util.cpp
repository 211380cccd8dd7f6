#include "runtime/com_util.h"

namespace kv {

HRESULT AssignBstr(BSTR *target, std::u16string_view text) {
    if (!target) return E_INVALIDARG;
    if (!SysReAllocStringLen(target, reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size())))
        return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT AssignBstr(BSTR *target, std::string_view text, uint32_t codepage) {
    return AssignBstr(target, Widen(text, codepage));
}

bool ReadStreamBytes(IStream *stream, String &out) {
    out.clear();
    LARGE_INTEGER zero{};
    if (!stream || FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return false;
    char buffer[8192];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(buffer, sizeof buffer, &got))) return false;
        if (got == 0) break;
        out.append(buffer, got);
    }
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return true;
}

String StreamBytes(IStream *stream) {
    String out;
    ReadStreamBytes(stream, out);
    return out;
}

uint64_t StreamSize(IStream *stream) {
    STATSTG stat{};
    return stream && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) ? stat.cbSize.QuadPart : 0;
}

String GuidToRegistryForm(const GUID &g) {
    return Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

} // namespace kv
