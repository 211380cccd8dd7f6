#include "host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "text.h"

namespace kvmail {

bool ReadFile(const std::string &path, std::string &bytes, std::string &error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot open '" + path + "'";
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    bytes = s.str();
    return true;
}

bool WriteNewFile(const std::string &dir, const std::string &name, const std::string &bytes, std::string &path,
                  std::string &error) {
    // O_EXCL: never replace a file, nor follow a link someone left there.
    int fd = -1;
    for (unsigned k = 0; fd < 0 && k < 1000; ++k) {
        path = dir + "/" + NumberedName(name, k);
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write '" + path + "': " + std::strerror(n < 0 ? errno : ENOSPC);
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (close(fd) != 0) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error) {
    std::string bytes;
    if (!ReadFile(path, bytes, error)) return false;
    out = orkv14::MemoryStream(bytes);
    if (!out) error = "cannot fill a stream with '" + path + "'";
    return bool(out);
}

std::vector<std::string> ErrorLines(IKvMailConnection2 *connection, LONG &code) {
    orkv14::Error record = orkv14::LastError(connection);
    code = record.code;
    // Each record line ends in CR LF; one message may hold several lines of its own.
    std::vector<std::string> lines;
    std::istringstream all(record.text);
    for (std::string line; std::getline(all, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string ErrorRecord(IKvMailConnection2 *connection) {
    LONG code = 0;
    std::string record = "error ";
    std::vector<std::string> lines = ErrorLines(connection, code);
    record += std::to_string(code) + ":";
    for (size_t i = 0; i < lines.size(); ++i) record += (i ? "\n  " : " ") + EscapeText(lines[i]);
    return record;
}

std::vector<std::string> Strings(IEnumString *e) {
    std::vector<std::string> out;
    if (!e) return out;
    LPOLESTR item = nullptr;
    ULONG fetched = 0;
    while (e->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        out.push_back(Utf8(item));
        CoTaskMemFree(item);
    }
    return out;
}

} // namespace kvmail
