// The Extended MAPI records and the interface subsets the provider calls,
// laid out as the platform's published headers (mapidefs.h, mapix.h) give them.
#pragma once

#include <cstdint>

#include "pal/com.h"

namespace kv::xmapi {

struct SBinary {
    uint32_t cb;
    uint8_t *lpb;
};

union PropValueUnion {
    int16_t i;
    int32_t l;
    uint16_t b;
    float flt;
    double dbl;
    char *lpszA;
    char16_t *lpszW;
    SBinary bin;
    int32_t err;
    int64_t li;
};

struct SPropValue {
    uint32_t ulPropTag;
    uint32_t dwAlignPad;
    PropValueUnion Value;
};

struct SRow {
    uint32_t ulAdrEntryPad;
    uint32_t cValues;
    SPropValue *lpProps;
};

struct SRowSet {
    uint32_t cRows;
    SRow aRow[1];
};

template <uint32_t N> struct SizedSPropTagArray {
    uint32_t cValues;
    uint32_t aulPropTag[N];
};

struct SPropertyRestriction {
    uint32_t relop;
    uint32_t ulPropTag;
    SPropValue *lpProp;
};

struct SRestriction {
    uint32_t rt;
    union {
        SPropertyRestriction resProperty;
        void *pad[3];
    } res;
};

struct MAPIINIT_0 {
    uint32_t ulVersion;
    uint32_t ulFlags;
};

struct MAPIERROR {
    uint32_t ulVersion;
    char *lpszError;
    char *lpszComponent;
    uint32_t ulLowLevelError;
    uint32_t ulContext;
};

constexpr uint32_t PT_BOOLEAN = 0x000B;
constexpr uint32_t PR_ENTRYID = 0x0FFF0102;
constexpr uint32_t PR_DISPLAY_NAME_A = 0x3001001E;
constexpr uint32_t PR_DEFAULT_STORE = 0x3400000B;
constexpr uint32_t PR_STORE_SUPPORT_MASK = 0x340D0003;
constexpr uint32_t PR_DEFAULT_PROFILE = 0x3D04000B;
constexpr uint32_t RES_PROPERTY = 4;
constexpr uint32_t RELOP_EQ = 4;
constexpr uint32_t MAPI_BEST_ACCESS = 0x10;

// The interfaces, each declared up to the last method used.
struct IMAPITable : IUnknown {};
struct IMsgStore : IUnknown {};

struct IMAPISession : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, uint32_t flags, MAPIERROR **error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMsgStoresTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenMsgStore(uintptr_t ui, uint32_t cbEntryID, void *entryId, const IID *iid,
                                                   uint32_t flags, IMsgStore **store) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenAddressBook(uintptr_t, const IID *, uint32_t, void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProfileSection(const void *, const IID *, uint32_t, void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatusTable(uint32_t, IMAPITable **) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(uint32_t, void *, const IID *, uint32_t, uint32_t *, IUnknown **) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEntryIDs(uint32_t, void *, uint32_t, void *, uint32_t, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(uint32_t, void *, uint32_t, void *, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE MessageOptions(uintptr_t, uint32_t, char *, void *) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDefaultMessageOpt(char *, uint32_t, uint32_t *, SPropValue **) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumAdrTypes(uint32_t, uint32_t *, char ***) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryIdentity(uint32_t *, void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE Logoff(uintptr_t ui, uint32_t flags, uint32_t reserved) = 0;
};

struct IProfAdmin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, uint32_t flags, MAPIERROR **error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProfileTable(uint32_t flags, IMAPITable **table) = 0;
};

using PFN_MAPIInitialize = HRESULT(STDMETHODCALLTYPE *)(void *init);
using PFN_MAPIUninitialize = void(STDMETHODCALLTYPE *)();
using PFN_MAPILogonEx = HRESULT(STDMETHODCALLTYPE *)(uintptr_t ui, char *profile, char *password, uint32_t flags,
                                                     IMAPISession **session);
using PFN_MAPIFreeBuffer = uint32_t(STDMETHODCALLTYPE *)(void *buffer);
using PFN_HrQueryAllRows = HRESULT(STDMETHODCALLTYPE *)(IMAPITable *table, void *columns, SRestriction *restriction,
                                                        void *sortOrder, int32_t maxRows, SRowSet **rows);
using PFN_FreeProws = void(STDMETHODCALLTYPE *)(SRowSet *rows);
using PFN_HrGetOneProp = HRESULT(STDMETHODCALLTYPE *)(IUnknown *object, uint32_t tag, SPropValue **value);
using PFN_MAPIAdminProfiles = HRESULT(STDMETHODCALLTYPE *)(uint32_t flags, IProfAdmin **admin);

} // namespace kv::xmapi
