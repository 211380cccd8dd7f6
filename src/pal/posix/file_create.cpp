#include "pal/file_create.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kv::pal {

CreateNewResult FileCreateNew(const std::string &path, std::string &error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        return CreateNewResult::Created;
    }
    if (errno == EEXIST) return CreateNewResult::Exists;
    error = std::strerror(errno);
    return CreateNewResult::Failed;
}

} // namespace kv::pal
