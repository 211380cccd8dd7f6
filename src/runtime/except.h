// clsExcept: the component's one exception type, a code and a stack of
// message lines (newest on top). Every pushed message is also logged.
#pragma once

#include <vector>

#include "runtime/kvstring.h"

namespace kv {

class clsExcept {
  public:
    clsExcept(int32_t code, const String &message);
    explicit clsExcept(int32_t code); // no message
    // Formatted message, code -5.
    static clsExcept Formatted(const char *format, ...);

    int32_t Code() const { return code_; }
    // Oldest first; back() is the newest.
    const std::vector<String> &Messages() const { return messages_; }
    // Pushes a context line (logged at level 1) and returns *this for rethrowing.
    clsExcept &Push(const String &message);

  private:
    clsExcept() = default;
    int32_t code_ = 0;
    std::vector<String> messages_;
};

} // namespace kv
