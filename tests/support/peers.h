// Peers a test needs (servers, tools, accounts). Under the full test command
// (scripts/test.sh sets KV_REQUIRE_PEERS=1) a missing one fails the test;
// elsewhere the test is skipped, and ctest reports it as skipped.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace testsupport {

inline bool PeersRequired() {
    const char *v = std::getenv("KV_REQUIRE_PEERS");
    return v && std::strcmp(v, "1") == 0;
}

inline bool Executable(const char *path) { return access(path, X_OK) == 0; }

} // namespace testsupport

// In a test body or SetUp: ends the test when `available` is false.
#define KV_NEED_PEER(available, what)                                                                                  \
    if (!(available)) {                                                                                                \
        if (testsupport::PeersRequired()) GTEST_FAIL() << what << " is missing (KV_REQUIRE_PEERS=1)";                  \
        GTEST_SKIP() << what << " is missing";                                                                         \
    }
