// The process-wide log: one object, four output modes, a level threshold,
// and trace scopes that every interface method opens.
#pragma once

#include <cstdarg>
#include <mutex>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

enum : int { kLogExceptions = 1, kLogCalls = 2, kLogDetails = 3, kLogProtocol = 128 };

class clsKvLog final : public IKvLog {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetLogSlot(IKvLogSlot *slot) override;
    HRESULT STDMETHODCALLTYPE SetOutputMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE SetLogLevel(LONG level) override;

    // Whether a line of this level would be written; costs a comparison or two.
    bool Passes(int level) const {
        if (mode_ == 0) return false;
        if (threshold_ == kLogProtocol) return level == kLogProtocol;
        return (level == kLogProtocol ? kLogDetails : level) <= threshold_;
    }
    // Whether method entry/exit lines are written.
    bool TracesCalls() const { return mode_ != 0 && threshold_ != kLogProtocol && threshold_ >= 2; }

    // Writes one line (filtered). The text is never used as a format.
    void Write(int level, const String &text);

    void WriteBanner();
    // Restores the state of a freshly loaded library (tests).
    void ResetForTests();
    ~clsKvLog();

  private:
    void Deliver(const String &line);

    IKvLogSlot *slot_ = nullptr;
    std::recursive_mutex lock_;
    volatile LONG mode_ = 0;
    volatile LONG threshold_ = 1;
    uint32_t counter_ = 0;
};

clsKvLog &KvLog();

inline void LogWrite(int level, const String &text) {
    if (KvLog().Passes(level)) KvLog().Write(level, text);
}
// Formats only when the line passes the filter.
void LogWriteF(int level, const char *format, ...);

// Traces method entry (">" + text) and, at scope end, the method's result
// ("<" + result text, with an optional detail), both at level 2.
class clsTraceScope {
  public:
    clsTraceScope(const HRESULT *result, const char *format, ...);
    ~clsTraceScope();
    clsTraceScope(const clsTraceScope &) = delete;
    clsTraceScope &operator=(const clsTraceScope &) = delete;
    void SetDetail(const String &detail) { detail_ = detail, hasDetail_ = true; }
    bool Active() const { return active_; }

  private:
    const HRESULT *result_;
    bool active_;
    bool hasDetail_ = false;
    String detail_;
};

// "S_OK", "S_FALSE", or the system text with " (%08lx)", or "(error code %#08lx)".
String HResultText(HRESULT hr);

} // namespace kv
