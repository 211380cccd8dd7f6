#include "pal/system.h"

#include <windows.h>
#include <ole2.h>

#include <random>

#include "pal/win32/module_handle.h"

namespace kv::pal {

LocalTime GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.dayOfWeek = st.wDayOfWeek;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    TIME_ZONE_INFORMATION tz;
    LONG bias = 0;
    switch (GetTimeZoneInformation(&tz)) {
    case TIME_ZONE_ID_STANDARD: bias = tz.Bias + tz.StandardBias; break;
    case TIME_ZONE_ID_DAYLIGHT: bias = tz.Bias + tz.DaylightBias; break;
    case TIME_ZONE_ID_UNKNOWN: bias = tz.Bias; break;
    default: break;
    }
    t.utcOffsetMinutes = int(-bias);
    return t;
}

uint64_t TickCountMs() { return GetTickCount64(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

std::string ComputerName() {
    char buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof buf;
    if (!GetComputerNameA(buf, &size)) return "localhost";
    return std::string(buf, size);
}

std::string TempDirectory() {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    std::string d = (n == 0 || n > MAX_PATH) ? std::string(".\\") : std::string(buf, n);
    if (d.back() != '\\' && d.back() != '/') d.push_back('\\');
    return d;
}

std::string CreateTempFileName(const std::string &prefix, const std::string &extension) {
    static thread_local std::mt19937 rng(std::random_device{}() ^ uint32_t(GetTickCount64()));
    std::string dir = TempDirectory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%04X", unsigned(rng() & 0xFFFF));
        std::string path = dir + prefix + unique + extension;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return path;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
    return std::string();
}

bool DeleteFilePath(const std::string &path) { return DeleteFileA(path.c_str()) != 0; }

std::string CurrentDirectory() {
    char buffer[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
    return n && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

bool SetCurrentDirectoryPath(const std::string &path) { return SetCurrentDirectoryA(path.c_str()) != 0; }

int32_t OleInitializeThread() { return OleInitialize(nullptr); }
void OleUninitializeThread() { OleUninitialize(); }

std::string ModulePath() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(win32::ThisModule(), buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
}

std::string FileNameOf(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SystemMessageText(int32_t hr) {
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, DWORD(hr), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string r = n && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
    return r;
}

void DebugOutput(const std::string &text) { OutputDebugStringA(text.c_str()); }

FileHandle FileOpen(const std::string &path, bool forWriting) {
    HANDLE h = forWriting ? CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr)
                          : CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidFile : FileHandle(h);
}

void FileClose(FileHandle file) {
    if (file != kInvalidFile) CloseHandle(HANDLE(file));
}

bool FileWrite(FileHandle file, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(HANDLE(file), p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

int64_t FileRead(FileHandle file, void *buffer, size_t size) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
    DWORD read = 0;
    if (!ReadFile(HANDLE(file), buffer, chunk, &read, nullptr)) return -1;
    return int64_t(read);
}

int LegacyProfileInt(const std::string &section, const std::string &key, int defaultValue) {
    return int(GetProfileIntA(section.c_str(), key.c_str(), defaultValue));
}

bool UiLanguageIsGerman() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN; }

void ShowInfoMessage(const std::string &text, const std::string &caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

} // namespace kv::pal
