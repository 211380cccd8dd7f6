#include "pal/resources.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "pal/codepage.h"
#include "pal/win32/module_handle.h"

namespace kv::pal {

// The language is chosen explicitly (LoadStringW would follow the thread's UI
// language), so the same lookup serves both languages of the table.
std::optional<std::string> LoadModuleString(int id, bool german) {
    HMODULE module = win32::ThisModule();
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                  MAKEINTRESOURCEW((unsigned(id) >> 4) + 1), win32::ResourceLanguage(german));
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const WORD *p = loaded ? static_cast<const WORD *>(LockResource(loaded)) : nullptr;
    if (!p) return std::nullopt;
    const WORD *end = p + SizeofResource(module, found) / sizeof(WORD);
    // A block holds 16 counted strings; skip to ours.
    for (unsigned i = 0; i < (unsigned(id) & 15) && p < end; ++i) p += 1 + *p;
    if (p >= end || *p == 0 || p + 1 + *p > end) return std::nullopt;
    std::u16string text(reinterpret_cast<const char16_t *>(p + 1), *p);
    return FromWide(text, 0);
}

namespace {
std::string ReadFileVersion() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(win32::ThisModule(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return std::string();
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(path, 0, size, info.data())) return std::string();

    wchar_t query[64] = L"\\StringFileInfo\\040904b0\\FileVersion";
    struct Translation {
        WORD language, codepage;
    } *translation = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                       &length) &&
        length >= sizeof(Translation))
        swprintf(query, sizeof query / sizeof query[0], L"\\StringFileInfo\\%04x%04x\\FileVersion",
                 translation->language, translation->codepage);
    wchar_t *value = nullptr;
    if (!VerQueryValueW(info.data(), query, reinterpret_cast<void **>(&value), &length) || !value || length == 0)
        return std::string();
    std::u16string text(reinterpret_cast<const char16_t *>(value));
    return FromWide(text, 0);
}
} // namespace

// Read once: the file does not change while it is loaded.
std::string ModuleFileVersion() {
    static const std::string version = ReadFileVersion();
    return version;
}

} // namespace kv::pal
