// clsExcept: the component's one exception type, a code and a stack of
// message lines (newest on top). Every pushed message is also logged.
#pragma once

#include <vector>

#include "runtime/kvstring.h"

namespace kv {

// The codes of an error record (MAPI providers also pass MAPI's own positive numbers).
enum ErrorCode : int32_t {
    kErrSocket = -2,          // socket failure
    kErrLogonFailed = -4,     // logon failed
    kErrGeneral = -5,         // wrong role, provider not available, general failure
    kErrUnexpectedReply = -6, // unexpected reply, failing platform call
    kErrRejectedReply = -7,   // rejected reply line
    kErrAuthRefused = -8,     // authentication refused
    kErrLogonCancelled = -11, // logon cancelled
    kErrStillConnected = -12, // still connected
    kErrNotConnected = -13,   // not connected
    kErrRefused = -14,        // sender or recipient refused
    kErrCancelled = -15,      // the host's slot cancelled a send or receive
};

class clsExcept {
  public:
    clsExcept(int32_t code, const String &message);
    explicit clsExcept(int32_t code); // no message
    // Formatted message, code kErrGeneral.
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
