// Host-side helpers for the mail tests: owned BSTRs, memory streams, string
// enumerators read out.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pal/com.h"
#include "runtime/com_util.h"
#include "runtime/kvstring.h"

namespace kv::mailtest {

// A BSTR owned by the test.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text)
        : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR *put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR get() const { return b_; }
    operator BSTR() const { return b_; }
    std::u16string Wide() const { return b_ ? std::u16string(reinterpret_cast<const char16_t *>(b_), SysStringLen(b_)) : u""; }
    std::string Utf8() const { return Narrow(Wide(), 65001); }

  private:
    BSTR b_ = nullptr;
};

inline clsAutoRelease<IStream> MakeStream(std::string_view bytes) {
    clsAutoRelease<IStream> s;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.put()), S_OK);
    ULONG written = 0;
    if (!bytes.empty()) s->Write(bytes.data(), ULONG(bytes.size()), &written);
    return s;
}

// The whole stream from its start.
inline std::string StreamBytes(IStream *s) {
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string all;
    char buf[4096];
    for (;;) {
        ULONG got = 0;
        if (FAILED(s->Read(buf, sizeof buf, &got)) || got == 0) break;
        all.append(buf, got);
    }
    return all;
}

// Every remaining string, UTF-8, with the CoTaskMem blocks freed.
inline std::vector<std::string> Strings(IEnumString *e) {
    std::vector<std::string> out;
    for (;;) {
        LPOLESTR item = nullptr;
        ULONG fetched = 0;
        if (e->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
        out.push_back(Narrow(WideView(reinterpret_cast<const char16_t *>(item)), 65001));
        CoTaskMemFree(item);
    }
    return out;
}

} // namespace kv::mailtest
