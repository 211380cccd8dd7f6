// BSTR services: a 32-bit byte length before the characters and a trailing NUL.
#include <cstdlib>
#include <cstring>

#include "pal/com.h"

namespace {

BSTR AllocBytes(const OLECHAR *text, UINT length) {
    if (length > 0x7FFFFFF0u / sizeof(OLECHAR)) return nullptr;
    size_t bytes = size_t(length) * sizeof(OLECHAR);
    auto *block = static_cast<uint8_t *>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    uint32_t prefix = uint32_t(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    BSTR s = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    if (text) std::memcpy(s, text, bytes);
    else std::memset(s, 0, bytes);
    s[length] = 0;
    return s;
}

UINT Length(const OLECHAR *text) {
    UINT n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

} // namespace

BSTR SysAllocString(const OLECHAR *text) {
    if (!text) return nullptr;
    return AllocBytes(text, Length(text));
}

BSTR SysAllocStringLen(const OLECHAR *text, UINT length) { return AllocBytes(text, length); }

INT SysReAllocStringLen(BSTR *target, const OLECHAR *text, UINT length) {
    if (!target) return FALSE;
    BSTR fresh = AllocBytes(text, length);
    if (!fresh) return FALSE;
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR *target, const OLECHAR *text) {
    return SysReAllocStringLen(target, text, Length(text));
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<uint8_t *>(text) - sizeof(uint32_t));
}

UINT SysStringByteLen(BSTR text) {
    if (!text) return 0;
    uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<uint8_t *>(text) - sizeof(uint32_t), sizeof prefix);
    return prefix;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void *CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }
void *CoTaskMemRealloc(void *block, size_t size) { return std::realloc(block, size ? size : 1); }
void CoTaskMemFree(void *block) { std::free(block); }
