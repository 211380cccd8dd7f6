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

// A BSTR owned by the test, handed to a call as it is.
class Bstr : public clsBstr {
  public:
    using clsBstr::clsBstr;
    operator BSTR() const { return get(); }
    std::u16string Wide() const { return std::u16string(View()); }
    std::string Utf8() const { return Narrow(View(), 65001); }
};

inline clsAutoRelease<IStream> MakeStream(std::string_view bytes) {
    clsAutoRelease<IStream> s;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.put()), S_OK);
    ULONG written = 0;
    if (!bytes.empty()) s->Write(bytes.data(), ULONG(bytes.size()), &written);
    return s;
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
