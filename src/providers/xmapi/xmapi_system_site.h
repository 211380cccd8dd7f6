// The provider's object subset on the system's Extended MAPI interfaces.
#pragma once

#include <memory>

#include "providers/xmapi/xmapi_objects.h"
#include "providers/xmapi/xmapi_types.h"

namespace kv::xmapi {

// The library's functions, empty where it does not export them.
struct Functions {
    PFN_MAPIInitialize MAPIInitialize = nullptr;
    PFN_MAPIUninitialize MAPIUninitialize = nullptr;
    PFN_MAPILogonEx MAPILogonEx = nullptr;
    PFN_MAPIAllocateBuffer MAPIAllocateBuffer = nullptr;
    PFN_MAPIFreeBuffer MAPIFreeBuffer = nullptr;
    PFN_OpenStreamOnFile OpenStreamOnFile = nullptr;
    PFN_RTFSync RTFSync = nullptr;
    PFN_HrQueryAllRows HrQueryAllRows = nullptr;
    PFN_FreeProws FreeProws = nullptr;
    PFN_FreePadrlist FreePadrlist = nullptr;
    PFN_WrapCompressedRTFStream WrapCompressedRTFStream = nullptr;
    PFN_HrGetOneProp HrGetOneProp = nullptr;
    PFN_MAPIAdminProfiles MAPIAdminProfiles = nullptr;
};

// What a send and a read reach through one session and its default store;
// both stay owned by the caller and must outlive the site. Strings of table
// columns are asked for wide when `unicode`.
std::unique_ptr<SendSite> MakeSystemSite(const Functions &f, IMAPISession *session, IMsgStore *store, bool unicode);

// The values as the platform's records, in one buffer from MAPIAllocateBuffer
// (null when that fails; `result` receives its answer).
SPropValue *PackProps(const Functions &f, const std::vector<Prop> &values, HRESULT *result = nullptr);
// One record as the provider's value.
Prop PropOf(const SPropValue &value);

} // namespace kv::xmapi
