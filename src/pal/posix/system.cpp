#include "pal/system.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace kv::pal {

LocalTime GetLocalTime() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    struct tm tm;
    localtime_r(&secs, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.dayOfWeek = tm.tm_wday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = int(tv.tv_usec / 1000);
    t.utcOffsetMinutes = int(tm.tm_gmtoff / 60);
    return t;
}

uint64_t TickCountMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec / 1000000);
}

uint32_t CurrentThreadId() { return uint32_t(syscall(SYS_gettid)); }

std::string ComputerName() {
    char buf[256] = {0};
    if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
    return buf;
}

std::string TempDirectory() {
    const char *dir = std::getenv("TMPDIR");
    std::string d = (dir && *dir) ? dir : "/tmp";
    if (d.back() != '/') d.push_back('/');
    return d;
}

std::string CreateTempFileName(const std::string &prefix, const std::string &extension) {
    static thread_local std::mt19937 rng(std::random_device{}() ^ uint32_t(TickCountMs()));
    std::string dir = TempDirectory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%04X", unsigned(rng() & 0xFFFF));
        std::string path = dir + prefix + unique + extension;
        int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST) return std::string();
    }
    return std::string();
}

bool DeleteFilePath(const std::string &path) { return unlink(path.c_str()) == 0; }

std::string CurrentDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

bool SetCurrentDirectoryPath(const std::string &path) { return chdir(path.c_str()) == 0; }

int32_t OleInitializeThread() { return int32_t(0x80004001); } // E_NOTIMPL
void OleUninitializeThread() {}

std::string ModulePath() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&ModulePath), &info) && info.dli_fname) {
        char resolved[4096];
        if (realpath(info.dli_fname, resolved)) return resolved;
        return info.dli_fname;
    }
    return std::string();
}

std::string FileNameOf(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SystemMessageText(int32_t hr) {
    // The texts Windows gives for the codes this component returns.
    switch (uint32_t(hr)) {
    case 0x80004001u: return "Not implemented";
    case 0x80004002u: return "No such interface supported";
    case 0x80004003u: return "Invalid pointer";
    case 0x80004004u: return "Operation aborted";
    case 0x80004005u: return "Unspecified error";
    case 0x8000FFFFu: return "Catastrophic failure";
    case 0x80070005u: return "Access is denied.";
    case 0x80070006u: return "The handle is invalid.";
    case 0x8007000Eu: return "Not enough memory resources are available to complete this operation.";
    case 0x80070057u: return "The parameter is incorrect.";
    case 0x80040110u: return "Class does not support aggregation (or class object is remote)";
    case 0x80040111u: return "ClassFactory cannot supply requested class";
    case 0x80020005u: return "Type mismatch.";
    case 0x8002000Au: return "Out of present range.";
    default: return std::string();
    }
}

void DebugOutput(const std::string &text) {
    // The nearest thing to a debugger console here is standard error.
    std::string line = text;
    line.push_back('\n');
    ssize_t ignored = write(2, line.data(), line.size());
    (void)ignored;
}

FileHandle FileOpen(const std::string &path, bool forWriting) {
    int flags = forWriting ? (O_WRONLY | O_CREAT | O_TRUNC) : O_RDONLY;
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    return fd < 0 ? kInvalidFile : FileHandle(fd);
}

void FileClose(FileHandle file) {
    if (file != kInvalidFile) close(int(file));
}

bool FileWrite(FileHandle file, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(int(file), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

int64_t FileRead(FileHandle file, void *buffer, size_t size) {
    for (;;) {
        ssize_t n = read(int(file), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : int64_t(n);
    }
}

} // namespace kv::pal

namespace kv::pal {

int LegacyProfileInt(const std::string &, const std::string &, int defaultValue) { return defaultValue; }

bool UiLanguageIsGerman() {
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *v = std::getenv(name);
        if (v && *v) return (v[0] == 'd' && v[1] == 'e') && (v[2] == 0 || v[2] == '_' || v[2] == '.');
    }
    return false;
}

void ShowInfoMessage(const std::string &text, const std::string &caption) { DebugOutput(caption + ": " + text); }

} // namespace kv::pal
