#include "runtime/kvlog.h"

#include "pal/channel.h"
#include "pal/resources.h"
#include "pal/system.h"
#include "runtime/com_util.h"

namespace kv {

namespace logstate {
volatile LONG mode = 0;
volatile LONG threshold = 1;
volatile bool tracesCalls = false;

void Update(LONG newMode, LONG newThreshold) {
    mode = newMode;
    threshold = newThreshold;
    tracesCalls = newMode != 0 && newThreshold != kLogProtocol && newThreshold >= 2;
}
} // namespace logstate

clsKvLog &KvLog() {
    static clsKvLog instance;
    return instance;
}

clsKvLog::~clsKvLog() {
    if (slot_) slot_->Release();
    slot_ = nullptr;
}

HRESULT clsKvLog::SetLogSlot(IKvLogSlot *slot) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (slot) slot->AddRef();
    if (slot_) slot_->Release();
    slot_ = slot;
    return S_OK;
}

clsKvLog::Settings clsKvLog::CurrentSettings() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (slot_) slot_->AddRef();
    return Settings{logstate::mode, logstate::threshold, slot_};
}

HRESULT clsKvLog::SetOutputMode(LONG mode) {
    logstate::Update(mode, logstate::threshold);
    WriteBanner();
    return S_OK;
}

HRESULT clsKvLog::SetLogLevel(LONG level) {
    logstate::Update(logstate::mode, level);
    WriteBanner();
    return S_OK;
}

void clsKvLog::WriteBanner() {
    if (!Passes(kLogCalls)) return;
    static const String banner = Format("[%s %s]", pal::FileNameOf(pal::ModulePath()).c_str(),
                                       pal::ModuleFileVersion().c_str());
    Write(kLogCalls, banner);
}

void clsKvLog::ResetForTests() {
    SetLogSlot(nullptr);
    logstate::Update(0, 1);
}

void clsKvLog::Write(int level, const String &text) {
    if (!Passes(level)) return;
    pal::LocalTime t = pal::GetLocalTime();
    std::lock_guard<std::recursive_mutex> guard(lock_);
    ++counter_;
    String line = Format("%08x:%08d-%02d:%02d:%02d.%04d:", pal::CurrentThreadId(), counter_, t.hour, t.minute,
                         t.second, t.millisecond);
    line += text;
    Deliver(line);
}

void clsKvLog::Deliver(const String &line) {
    switch (logstate::mode) {
    case 1:
        pal::DebugOutput(line);
        break;
    case 2:
        if (slot_) slot_->WriteLine(clsBstr(Widen(line)).get());
        break;
    case 3:
        pal::ChannelSend(line);
        break;
    default:
        break;
    }
}

void LogWriteFormatted(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    String text = VFormat(format, args);
    va_end(args);
    KvLog().Write(level, text);
}

String HResultText(HRESULT hr) {
    if (hr == S_OK) return "S_OK";
    if (hr == S_FALSE) return "S_FALSE";
    String text = pal::SystemMessageText(hr);
    if (text.size() > 1024) text.resize(1024);
    if (text.empty()) return Format("(error code %#08lx)", (unsigned long)(uint32_t)hr);
    return text + Format(" (%08lx)", (unsigned long)(uint32_t)hr);
}

void clsTraceScope::Open(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String text = ">" + VFormat(format, args);
    va_end(args);
    KvLog().Write(kLogCalls, text);
}

void clsTraceScope::Close() {
    if (!clsKvLog::TracesCalls()) return;
    String result = HResultText(result_ ? *result_ : S_OK);
    if (hasDetail_) KvLog().Write(kLogCalls, Format("<%s (%s)", result.c_str(), detail_.c_str()));
    else KvLog().Write(kLogCalls, "<" + result);
}

} // namespace kv
