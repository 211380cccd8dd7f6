#include "runtime/except.h"

#include "runtime/kvlog.h"
#include "pal/system.h"

namespace kv {

clsExcept::clsExcept(int32_t code, const String &message) : code_(code) { Push(message); }

clsExcept::clsExcept(int32_t code) : code_(code) {}

clsExcept clsExcept::Formatted(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String text = VFormat(format, args);
    va_end(args);
    clsExcept e;
    e.code_ = kErrGeneral;
    e.Push(text);
    return e;
}

clsExcept &clsExcept::Push(const String &message) {
    messages_.push_back(message);
    if (clsKvLog::Passes(kLogExceptions)) {
        pal::LocalTime t = pal::GetLocalTime();
        KvLog().Write(kLogExceptions, "ERR " + Format("%08x:\?\?\?\?\?\?\?\?-%02d:%02d:%02d.%04d:EXCEPTION(%s)",
                                                      pal::CurrentThreadId(), t.hour, t.minute, t.second,
                                                      t.millisecond, message.c_str()));
    }
    return *this;
}

} // namespace kv
