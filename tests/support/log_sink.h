// The lines a log slot receives, as UTF-8 text.
#pragma once

#include <string>
#include <vector>

#include "orkv14.hpp"
#include "stack_doubles.h"

namespace testsupport {

class LogSink : public Unowned<IKvLogSlot> {
  public:
    std::vector<std::string> lines;
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        lines.push_back(orkv14::Utf8(line));
        return S_OK;
    }
};

} // namespace testsupport
