#include "pal/temp_file.h"

#include <windows.h>

#include <cstdio>

namespace kv::pal {

namespace {
HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
} // namespace

FileHandle TempFileOpen(const std::string &prefix, const std::string &extension) {
    std::string dir = TempDirectory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%04X", unsigned((GetTickCount() + attempt * 7919u) & 0xFFFF));
        std::string path = dir + prefix + unique + extension;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(h);
        if (GetLastError() != ERROR_FILE_EXISTS) return kInvalidFile;
    }
    return kInvalidFile;
}

bool FileSeek(FileHandle file, uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(AsHandle(file), to, nullptr, FILE_BEGIN) != 0;
}

bool FileSetSize(FileHandle file, uint64_t size) {
    LARGE_INTEGER here{}, zero{};
    if (!SetFilePointerEx(AsHandle(file), zero, &here, FILE_CURRENT)) return false;
    if (!FileSeek(file, size) || !SetEndOfFile(AsHandle(file))) return false;
    // The position stays where it was, as ftruncate leaves it.
    return SetFilePointerEx(AsHandle(file), here, nullptr, FILE_BEGIN) != 0;
}

int64_t FileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(file), &size)) return -1;
    return int64_t(size.QuadPart);
}

} // namespace kv::pal
