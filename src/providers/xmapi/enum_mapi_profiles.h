// clsEnumMAPIProfiles: the profile names of the messaging system.
#pragma once

#include <atomic>
#include <vector>

#include "orkv14.h"
#include "runtime/kvstring.h"

namespace kv {

namespace xmapi {
class Platform;
}

class clsEnumMAPIProfiles final : public IKvEnumMAPIProfiles {
  public:
    explicit clsEnumMAPIProfiles(std::vector<String> names, size_t position = 0);
    // The names the platform lists (none without a messaging library).
    static clsEnumMAPIProfiles *FromPlatform(xmapi::Platform *platform);
    // From the system's library.
    static clsEnumMAPIProfiles *FromSystem();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, BSTR *items, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IKvEnumMAPIProfiles **clone) override;

  private:
    ~clsEnumMAPIProfiles() = default;
    std::atomic<LONG> refs_{0};
    std::vector<String> names_;
    size_t position_;
};

} // namespace kv
