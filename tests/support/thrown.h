// What a call throws, for the tests of error paths: its code and messages.
#pragma once

#include <string>
#include <vector>

#include "runtime/except.h"

namespace testsupport {

struct Caught {
    bool thrown = false;
    int32_t code = 0;
    std::vector<kv::String> messages; // oldest first
    kv::String Front() const { return messages.empty() ? "(nothing thrown)" : messages.front(); }
    kv::String Back() const { return messages.empty() ? "(nothing thrown)" : messages.back(); }
};

template <class F> Caught Catch(F f) {
    Caught c;
    try {
        f();
    } catch (const kv::clsExcept &e) {
        c.thrown = true;
        c.code = e.Code();
        c.messages = e.Messages();
    }
    return c;
}

// Runs f; the messages it throws, each followed by "|".
template <class F> std::string Thrown(F f, int32_t *code = nullptr) {
    Caught c = Catch(f);
    if (!c.thrown) return "(nothing thrown)";
    if (code) *code = c.code;
    std::string joined;
    for (const auto &m : c.messages) joined += m + "|";
    return joined;
}

} // namespace testsupport
