// The Extended MAPI platform on the system's messaging library.
#include <cstring>

#include "runtime/kvlog.h"
#include "pal/library.h"
#include "pal/system.h"
#include "providers/smapi/mapi_library.h"
#include "providers/xmapi/xmapi_platform.h"
#include "providers/xmapi/xmapi_system_site.h"
#include "providers/xmapi/xmapi_types.h"
#include "runtime/com_util.h"

namespace kv::xmapi {

namespace {

struct Rows {
    const Functions &f;
    SRowSet *rows = nullptr;
    ~Rows() {
        if (rows && f.FreeProws) f.FreeProws(rows);
    }
};

class SystemSession final : public Session {
  public:
    SystemSession(const Functions &f, IMAPISession *session) : f_(f), session_(session) {}
    ~SystemSession() override {
        site_.reset();
        if (store_) store_->Release();
        session_->Release();
    }
    HRESULT Logoff(uintptr_t ui) override { return session_->Logoff(ui, 0, 0); }
    SendSite *Site() override { return site_.get(); }
    HRESULT OpenDefaultStore(uint32_t &supportMask) override {
        if (!f_.HrQueryAllRows || !f_.FreeProws || !f_.HrGetOneProp || !f_.MAPIFreeBuffer) return E_NOTIMPL;
        clsAutoRelease<IMAPITable> table;
        HRESULT hr = session_->GetMsgStoresTable(0, table.put());
        if (FAILED(hr)) return hr;
        SizedSPropTagArray<2> columns{2, {PR_ENTRYID, PR_DISPLAY_NAME_A}};
        SPropValue isDefault{};
        isDefault.ulPropTag = PR_DEFAULT_STORE;
        isDefault.Value.b = 1;
        SRestriction restriction{};
        restriction.rt = RES_PROPERTY;
        restriction.res.resProperty = {RELOP_EQ, PR_DEFAULT_STORE, &isDefault};
        Rows rows{f_};
        hr = f_.HrQueryAllRows(table.get(), &columns, &restriction, nullptr, 0, &rows.rows);
        if (FAILED(hr)) return hr;
        if (!rows.rows || rows.rows->cRows == 0 || rows.rows->aRow[0].cValues < 1 ||
            rows.rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID)
            return MAPI_E_NOT_FOUND;
        const SBinary &id = rows.rows->aRow[0].lpProps[0].Value.bin;
        hr = session_->OpenMsgStore(0, id.cb, id.lpb, nullptr, MAPI_BEST_ACCESS, &store_);
        if (FAILED(hr)) return hr;
        SPropValue *mask = nullptr;
        hr = f_.HrGetOneProp(store_, PR_STORE_SUPPORT_MASK, &mask);
        if (FAILED(hr)) return hr;
        supportMask = uint32_t(mask->Value.l);
        f_.MAPIFreeBuffer(mask);
        site_ = MakeSystemSite(f_, session_, store_, (supportMask & STORE_UNICODE_OK) != 0);
        return S_OK;
    }
    String LastErrorText(HRESULT hr) override {
        MAPIERROR *error = nullptr;
        String text;
        if (SUCCEEDED(session_->GetLastError(hr, 0, &error)) && error) {
            text = Format("%s\n%s", error->lpszError ? error->lpszError : "",
                          error->lpszComponent ? error->lpszComponent : "");
            if (f_.MAPIFreeBuffer) f_.MAPIFreeBuffer(error);
        }
        return text.empty() ? HResultText(hr) : text;
    }

  private:
    const Functions &f_;
    IMAPISession *session_;
    IMsgStore *store_ = nullptr;
    std::unique_ptr<SendSite> site_;
};

class SystemPlatformImpl final : public Platform {
  public:
    explicit SystemPlatformImpl(const pal::DynamicLibrary *library) : library_(library) {
        if (!library_) return;
        Bind("MAPIInitialize", f_.MAPIInitialize);
        Bind("MAPIUninitialize", f_.MAPIUninitialize);
        Bind("MAPILogonEx", f_.MAPILogonEx);
        Bind("MAPIAllocateBuffer", f_.MAPIAllocateBuffer);
        Bind("MAPIFreeBuffer", f_.MAPIFreeBuffer);
        Bind("OpenStreamOnFile", f_.OpenStreamOnFile);
        Bind("RTFSync", f_.RTFSync);
        Bind("HrQueryAllRows@24", f_.HrQueryAllRows);
        Bind("FreeProws@4", f_.FreeProws);
        Bind("FreePadrlist@4", f_.FreePadrlist);
        Bind("WrapCompressedRTFStream", f_.WrapCompressedRTFStream);
        Bind("HrGetOneProp@12", f_.HrGetOneProp);
        Bind("MAPIAdminProfiles", f_.MAPIAdminProfiles);
    }
    bool Loaded() const override { return library_ != nullptr; }
    HRESULT InitializeOle() override { return pal::OleInitializeThread(); }
    void UninitializeOle() override { pal::OleUninitializeThread(); }
    bool Has(const char *function) const override {
        if (!std::strcmp(function, "MAPIInitialize")) return f_.MAPIInitialize;
        if (!std::strcmp(function, "MAPIUninitialize")) return f_.MAPIUninitialize;
        if (!std::strcmp(function, "MAPILogonEx")) return f_.MAPILogonEx;
        if (!std::strcmp(function, "MAPIAdminProfiles")) return f_.MAPIAdminProfiles && f_.HrQueryAllRows && f_.FreeProws;
        return false;
    }
    HRESULT Initialize(uint32_t flags) override {
        MAPIINIT_0 init{0, flags};
        return f_.MAPIInitialize(&init);
    }
    void Uninitialize() override { f_.MAPIUninitialize(); }
    HRESULT LogonEx(uintptr_t ui, const char *profile, const char *password, uint32_t flags,
                    std::unique_ptr<Session> &session) override {
        String p = profile ? profile : "", w = password ? password : "";
        IMAPISession *raw = nullptr;
        HRESULT hr = f_.MAPILogonEx(ui, profile ? p.data() : nullptr, password ? w.data() : nullptr, flags, &raw);
        if (SUCCEEDED(hr) && raw) session = std::make_unique<SystemSession>(f_, raw);
        return hr;
    }
    HRESULT ProfileTable(std::vector<ProfileRow> &out) override {
        clsAutoRelease<IProfAdmin> admin;
        HRESULT hr = f_.MAPIAdminProfiles(0, admin.put());
        if (FAILED(hr)) return hr;
        clsAutoRelease<IMAPITable> table;
        hr = admin->GetProfileTable(0, table.put());
        if (FAILED(hr)) return hr;
        SizedSPropTagArray<2> columns{2, {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE}};
        Rows rows{f_};
        hr = f_.HrQueryAllRows(table.get(), &columns, nullptr, nullptr, 0, &rows.rows);
        if (FAILED(hr)) return hr;
        for (uint32_t i = 0; rows.rows && i < rows.rows->cRows; ++i) {
            const SRow &row = rows.rows->aRow[i];
            ProfileRow r;
            for (uint32_t k = 0; k < row.cValues; ++k) {
                const SPropValue &v = row.lpProps[k];
                if (v.ulPropTag == PR_DISPLAY_NAME_A && v.Value.lpszA) r.name = v.Value.lpszA;
                if (v.ulPropTag == PR_DEFAULT_PROFILE) r.isDefault = v.Value.b != 0;
            }
            out.push_back(r);
        }
        return S_OK;
    }

  private:
    // Decorated names are tried first, as the 32-bit library exports them.
    template <class T> void Bind(const char *name, T &entry) {
        entry = reinterpret_cast<T>(library_->Symbol(name));
        if (!entry) {
            String plain(name);
            size_t at = plain.find('@');
            if (at != String::npos) entry = reinterpret_cast<T>(library_->Symbol(plain.substr(0, at).c_str()));
        }
        if (!entry) pal::DebugOutput(Format("function %s is not defined", name));
    }
    const pal::DynamicLibrary *library_;
    Functions f_;
};

} // namespace

std::unique_ptr<Platform> SystemPlatform() {
    return std::make_unique<SystemPlatformImpl>(static_cast<const pal::DynamicLibrary *>(IsMapiAvailable()));
}

} // namespace kv::xmapi
