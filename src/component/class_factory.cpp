#include "component/class_factory.h"

#include <new>

#include "component/configuration.h"
#include "runtime/kvlog.h"
#include "providers/cdosys/cdosys_connection.h"
#include "providers/imap/imap_connection.h"
#include "providers/smapi/smapi_connection.h"
#include "providers/xmapi/enum_mapi_profiles.h"
#include "providers/xmapi/xmapi_connection.h"
#include "runtime/com_util.h"
#include "runtime/module_state.h"
#include "providers/pop3/pop3_connection.h"
#include "providers/smtp/smtp_connection.h"

namespace kv {

namespace {

// A new connection for a provider selector, or null when the identifier is none.
clsConnectionBase *NewConnection(REFIID riid) {
    if (IsEqualIID(riid, IID_IKvSMTPSendConnection)) return new clsSMTPMailConnection();
    if (IsEqualIID(riid, IID_IKvPOP3RecvConnection)) return new clsPOP3MailConnection();
    if (IsEqualIID(riid, IID_IKvSMAPISendConnection)) return new clsSMAPIMailConnection(true);
    if (IsEqualIID(riid, IID_IKvSMAPIRecvConnection)) return new clsSMAPIMailConnection(false);
    if (IsEqualIID(riid, IID_IKvXMAPISendConnection)) return new clsXMAPIMailConnection(true);
    if (IsEqualIID(riid, IID_IKvXMAPIRecvConnection)) return new clsXMAPIMailConnection(false);
    if (IsEqualIID(riid, IID_IKvCDOSYSSendConnection)) return new clsCDOSYSMailConnection(true);
    if (IsEqualIID(riid, IID_IKvCDOSYSRecvConnection)) return new clsCDOSYSMailConnection(false);
    if (IsEqualIID(riid, IID_IKvIMAPRecvConnection)) return new clsIMAPMailConnection();
    return nullptr;
}

bool IsSelector(REFIID riid) {
    for (const IID *id : {&IID_IKvSMTPSendConnection, &IID_IKvPOP3RecvConnection, &IID_IKvSMAPISendConnection,
                          &IID_IKvSMAPIRecvConnection, &IID_IKvXMAPISendConnection, &IID_IKvXMAPIRecvConnection,
                          &IID_IKvCDOSYSSendConnection, &IID_IKvCDOSYSRecvConnection, &IID_IKvIMAPRecvConnection})
        if (IsEqualIID(riid, *id)) return true;
    return false;
}

} // namespace

HRESULT clsClassFactory::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsClassFactory::CreateInstance(%p,'%s',%p)", (void *)outer,
                        GuidToRegistryForm(riid).c_str(), (void *)ppv);
    if (!ppv) return hr = E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return hr = CLASS_E_NOAGGREGATION;

    if (IsEqualIID(riid, IID_IKvLog)) return hr = KvLog().QueryInterface(riid, ppv);

    IUnknown *object = nullptr;
    clsConnectionBase *connection = nullptr;
    try {
        if (IsEqualIID(riid, IID_IKvConfiguration) || IsEqualIID(riid, IID_IKvConfiguration2)) {
            object = static_cast<IKvConfiguration2 *>(new clsKvConfiguration());
        } else if (IsSelector(riid)) {
            connection = NewConnection(riid);
            object = static_cast<IKvMailConnection2 *>(connection);
        } else if (IsEqualIID(riid, IID_IKvEnumMAPIProfiles)) {
            clsEnumMAPIProfiles *profiles = clsEnumMAPIProfiles::FromSystem();
            if (!profiles) return hr = E_OUTOFMEMORY;
            return hr = profiles->QueryInterface(riid, ppv);
        } else {
            return hr = E_NOINTERFACE;
        }
    } catch (const std::bad_alloc &) {
        return hr = E_OUTOFMEMORY;
    }

    // First reference, so that every failure below ends in a Release.
    IUnknown *first = nullptr;
    hr = object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&first));
    if (FAILED(hr)) {
        if (connection) delete connection;
        else delete static_cast<clsKvConfiguration *>(static_cast<IKvConfiguration2 *>(object));
        return hr;
    }
    if (connection && !connection->IsProviderAvailable()) {
        first->Release();
        return hr = E_ACCESSDENIED;
    }
    hr = first->QueryInterface(riid, ppv);
    first->Release();
    return hr;
}

HRESULT clsClassFactory::LockServer(BOOL lock) {
    LogWriteF(kLogCalls, "clsClassFactory::LockServer(%d)", int(lock));
    ModuleLock(lock != 0);
    return S_OK;
}

} // namespace kv
