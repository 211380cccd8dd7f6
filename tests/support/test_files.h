// Files and the environment as tests that meet real servers and programs read
// them, and what an SMTP server stores of the text it was sent.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

inline std::string ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

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
