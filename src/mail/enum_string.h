// clsEnumString: IEnumString over its own copy of a list of texts.
#pragma once

#include <atomic>
#include <vector>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

class clsEnumString final : public IEnumString {
  public:
    explicit clsEnumString(std::vector<WString> items, size_t position = 0);
    // 8-bit texts converted with the code page (0: ANSI).
    static std::vector<WString> Convert(const std::vector<String> &items, uint32_t codepage = 0);
    // A new enumerator handed out with the caller's reference.
    static HRESULT Create(std::vector<WString> items, IEnumString **out);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPOLESTR *items, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumString **clone) override;

  private:
    ~clsEnumString() = default;
    std::atomic<LONG> refs_{0};
    std::vector<WString> items_;
    size_t position_;
};

} // namespace kv
