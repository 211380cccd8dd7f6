// The process-wide log: one object, four output modes, a level threshold,
// and trace scopes that every interface method opens.
#pragma once

#include <cstdarg>
#include <mutex>

#include "pal/com.h"
#include "runtime/com_object.h"
#include "runtime/kvstring.h"

namespace kv {

enum : int { kLogExceptions = 1, kLogCalls = 2, kLogDetails = 3, kLogProtocol = 128 };

// The filter state, read on every traced call: plain globals so that with
// logging off a call costs a load and a comparison, nothing more.
namespace logstate {
extern volatile LONG mode;
extern volatile LONG threshold;
// Mode not 0, threshold at least 2 and not the protocol-only 128.
extern volatile bool tracesCalls;
} // namespace logstate

class clsKvLog final : public IKvLog {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        return QueryInterfaceOf<IKvLog>(this, riid, ppv);
    }
    // The one object lives as long as the library: no count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetLogSlot(IKvLogSlot *slot) override;
    HRESULT STDMETHODCALLTYPE SetOutputMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE SetLogLevel(LONG level) override;

    // Whether a line of this level would be written; costs a comparison or two.
    static bool Passes(int level) {
        if (logstate::mode == 0) return false;
        if (logstate::threshold == kLogProtocol) return level == kLogProtocol;
        return (level == kLogProtocol ? kLogDetails : level) <= logstate::threshold;
    }
    // Whether method entry/exit lines are written.
    static bool TracesCalls() { return logstate::tracesCalls; }

    // What a host last chose, so that a borrower of the log can hand it back.
    struct Settings {
        LONG mode;
        LONG level;
        IKvLogSlot *slot; // holds a reference; null when none
    };
    Settings CurrentSettings();

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
    uint32_t counter_ = 0;
};

clsKvLog &KvLog();

inline void LogWrite(int level, const String &text) {
    if (clsKvLog::Passes(level)) KvLog().Write(level, text);
}
void LogWriteFormatted(int level, const char *format, ...);
// Formats only when the line passes the filter.
template <class... Args> inline void LogWriteF(int level, const char *format, Args... args) {
    if (clsKvLog::Passes(level)) LogWriteFormatted(level, format, args...);
}

// Traces method entry (">" + text) and, at scope end, the method's result
// ("<" + result text, with an optional detail), both at level 2.
class clsTraceScope {
  public:
    template <class... Args>
    clsTraceScope(const HRESULT *result, const char *format, Args... args)
        : result_(result), active_(clsKvLog::TracesCalls()) {
        if (active_) Open(format, args...);
    }
    ~clsTraceScope() {
        if (active_) Close();
    }
    clsTraceScope(const clsTraceScope &) = delete;
    clsTraceScope &operator=(const clsTraceScope &) = delete;
    void SetDetail(const String &detail) { detail_ = detail, hasDetail_ = true; }
    // A getter's value: a line of its own after the call line.
    void Value(const String &text) {
        if (active_) KvLog().Write(kLogCalls, text);
    }
    bool Active() const { return active_; }

  private:
    void Open(const char *format, ...);
    void Close();

    const HRESULT *result_;
    bool active_;
    bool hasDetail_ = false;
    String detail_;
};

// "S_OK", "S_FALSE", or the system text with " (%08lx)", or "(error code %#08lx)".
String HResultText(HRESULT hr);

} // namespace kv
