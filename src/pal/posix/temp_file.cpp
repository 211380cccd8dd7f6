#include "pal/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace kv::pal {

FileHandle TempFileOpen(const std::string &prefix, const std::string &extension) {
    static thread_local std::mt19937 rng(std::random_device{}() ^ uint32_t(TickCountMs()));
    std::string dir = TempDirectory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%04X", unsigned(rng() & 0xFFFF));
        std::string path = dir + prefix + unique + extension;
        int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            unlink(path.c_str());
            return FileHandle(fd);
        }
        if (errno != EEXIST) return kInvalidFile;
    }
    return kInvalidFile;
}

bool FileSeek(FileHandle file, uint64_t offset) { return lseek(int(file), off_t(offset), SEEK_SET) == off_t(offset); }

bool FileSetSize(FileHandle file, uint64_t size) {
    for (;;) {
        if (ftruncate(int(file), off_t(size)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

int64_t FileSize(FileHandle file) {
    struct stat st;
    if (fstat(int(file), &st) != 0) return -1;
    return int64_t(st.st_size);
}

} // namespace kv::pal
