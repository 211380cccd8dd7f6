// The log's lines as a host sink receives them while this object lives, each
// without its thread, counter and time prefix.
#pragma once

#include <string>
#include <vector>

#include "runtime/kvlog.h"
#include "runtime/com_util.h"
#include "stack_doubles.h"

namespace testsupport {

class LogLines final : public Unowned<IKvLogSlot> {
  public:
    std::vector<std::string> lines;

    explicit LogLines(LONG level) {
        kv::KvLog().SetLogSlot(this);
        kv::KvLog().SetOutputMode(2);
        kv::KvLog().SetLogLevel(level);
        lines.clear();
    }
    ~LogLines() { kv::KvLog().ResetForTests(); }
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        lines.push_back(kv::Narrow(kv::WideView(reinterpret_cast<const char16_t *>(line))).substr(32));
        return S_OK;
    }
    std::string Text() const {
        std::string all;
        for (const std::string &line : lines) all += line + "\n";
        return all;
    }
};

} // namespace testsupport
