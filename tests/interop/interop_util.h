// Helpers of the interop tests: a small JSON writer, files, running Python.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdlib.h>
#include <string>

#include "peers.h"
#include "test_files.h"

namespace kv::interop {

inline std::string Json(const std::string &utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

inline std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

using testsupport::ReadFile;

// A new directory of this run's own (other runs may share the temporary directory).
inline std::string MakeDir(const std::string &name) {
    std::string dir = ::testing::TempDir() + name + ".XXXXXX";
    EXPECT_NE(mkdtemp(&dir[0]), nullptr) << dir;
    return dir + "/";
}

// Runs the command; its output and exit status.
inline int Run(const std::string &command, std::string &output) {
    output.clear();
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Python() { return "/usr/bin/python3"; }

} // namespace kv::interop
