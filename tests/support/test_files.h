// Files, programs and the environment as tests that meet real servers and
// programs use them, and what an SMTP server stores of the text it was sent.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace testsupport {

inline std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

#ifndef _WIN32
// Runs a shell command; its exit status (-1: did not end normally), its output and errors in `output`.
inline int Run(const std::string &command, std::string &output) {
    output.clear();
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

inline std::string Env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

// The lines as an SMTP server stores them: the doubled periods single again.
inline std::string Unstuffed(const std::string &text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        end = end == std::string::npos ? text.size() : end + 2;
        size_t skip = text.compare(at, 2, "..") == 0 ? 1 : 0;
        out.append(text, at + skip, end - at - skip);
        at = end;
    }
    return out;
}

} // namespace testsupport
