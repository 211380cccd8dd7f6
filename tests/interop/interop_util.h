#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <stdlib.h>
#include <string>

#include "peers.h"
#include "test_files.h"

namespace kv::interop {

inline std::string Json(const std::string &utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c < 0x20 ? "\\u%04x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
        out += buf;
    }
    return out + "\"";
}

inline std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

using testsupport::ReadFile;
using testsupport::Run;
using testsupport::WriteFile;

// A new directory of this run's own (other runs may share the temporary directory).
inline std::string MakeDir(const std::string &name) {
    std::string dir = ::testing::TempDir() + name + ".XXXXXX";
    EXPECT_NE(mkdtemp(&dir[0]), nullptr) << dir;
    return dir + "/";
}

} // namespace kv::interop
