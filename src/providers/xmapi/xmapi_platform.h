// The part of Extended MAPI that the provider reaches, as an interface of its
// own: the system library behind it, or a substitute in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pal/com.h"
#include "providers/xmapi/xmapi_objects.h"
#include "runtime/kvstring.h"

namespace kv::xmapi {

// Published flags and results used here.
constexpr uint32_t MAPI_LOGON_UI = 0x1;
constexpr uint32_t MAPI_NEW_SESSION = 0x2;
constexpr uint32_t MAPI_NO_COINIT = 0x8;
constexpr uint32_t MAPI_EXTENDED = 0x20;
constexpr uint32_t MAPI_USE_DEFAULT = 0x40;
constexpr uint32_t MAPI_PASSWORD_UI = 0x20000;
constexpr uint32_t STORE_CREATE_OK = 0x10;
constexpr uint32_t STORE_RTF_OK = 0x800;
constexpr uint32_t STORE_UNICODE_OK = 0x40000;
constexpr HRESULT kRpcChangedMode = HRESULT(0x80010106);
constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = HRESULT(0x80040106);
constexpr HRESULT MAPI_E_VERSION = HRESULT(0x80040110);
constexpr HRESULT MAPI_E_LOGON_FAILED = HRESULT(0x80040111);
constexpr HRESULT MAPI_E_USER_CANCEL = HRESULT(0x80040113);

struct ProfileRow {
    String name;
    bool isDefault = false;
};

class Session {
  public:
    virtual ~Session() = default;
    virtual HRESULT Logoff(uintptr_t ui) = 0;
    // The default store (restriction PR_DEFAULT_STORE, MAPI_BEST_ACCESS) and
    // its PR_STORE_SUPPORT_MASK.
    virtual HRESULT OpenDefaultStore(uint32_t &supportMask) = 0;
    // The session's own account of a failure (IMAPISession::GetLastError).
    virtual String LastErrorText(HRESULT hr) = 0;
    // What a send reaches through this session; null where that is not built.
    virtual SendSite *Site() { return nullptr; }
};

class Platform {
  public:
    virtual ~Platform() = default;
    // Whether the library was found and its functions loaded.
    virtual bool Loaded() const = 0;
    virtual bool Has(const char *function) const = 0;
    // OleInitialize and OleUninitialize of the calling thread.
    virtual HRESULT InitializeOle() = 0;
    virtual void UninitializeOle() = 0;
    // MAPIInitialize with a MAPIINIT_0 of version 0 and these flags.
    virtual HRESULT Initialize(uint32_t flags) = 0;
    virtual void Uninitialize() = 0;
    virtual HRESULT LogonEx(uintptr_t ui, const char *profile, const char *password, uint32_t flags,
                            std::unique_ptr<Session> &session) = 0;
    // MAPIAdminProfiles(0), GetProfileTable(0) and its rows (PR_DISPLAY_NAME,
    // PR_DEFAULT_PROFILE).
    virtual HRESULT ProfileTable(std::vector<ProfileRow> &rows) = 0;
};

// The system's library as IsMapiAvailable found it (nothing loaded without one).
std::unique_ptr<Platform> SystemPlatform();

} // namespace kv::xmapi
