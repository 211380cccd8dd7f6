// The scope of a messaging provider's hook: its name is traced on entry and
// its result on exit, and an exception that leaves it carries the name as
// its context line.
#pragma once

#include "runtime/except.h"
#include "runtime/kvlog.h"

namespace kv {

class clsHookScope {
  public:
    template <class... Args>
    explicit clsHookScope(const char *format, Args... args)
        : name_(Format(format, args...)), trace_(&result_, "%s", name_.c_str()) {}
    clsHookScope(const clsHookScope &) = delete;
    clsHookScope &operator=(const clsHookScope &) = delete;

    // The hook's result, as it returns it.
    HRESULT Return(HRESULT hr) { return result_ = hr; }
    // For an exception on its way out; the connection base answers it with E_ABORT.
    void Attach(clsExcept &e) {
        result_ = E_ABORT;
        e.Push(name_);
    }

  private:
    HRESULT result_ = S_OK;
    String name_;
    clsTraceScope trace_;
};

} // namespace kv
