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

struct SLPSTRArray {
    uint32_t cValues;
    char **lppszA;
};

struct FileTime {
    uint32_t low;
    uint32_t high;
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
    SLPSTRArray MVszA;
    FileTime ft;
    int32_t err;
    int64_t li;
};

struct SPropValue {
    uint32_t ulPropTag;
    uint32_t dwAlignPad;
    PropValueUnion Value;
};

static_assert(sizeof(SPropValue) == (sizeof(void *) == 8 ? 24 : 16), "SPropValue as the platform lays it out");

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

struct ADRENTRY {
    uint32_t ulReserved1;
    uint32_t cValues;
    SPropValue *rgPropVals;
};

static_assert(sizeof(ADRENTRY) == (sizeof(void *) == 8 ? 16 : 12), "ADRENTRY as the platform lays it out");

struct ADRLIST {
    uint32_t cEntries;
    ADRENTRY aEntries[1];
};

struct ENTRYLIST {
    uint32_t cValues;
    SBinary *lpbin;
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
constexpr uint32_t MAPI_UNICODE = 0x80000000;
constexpr uint32_t MAPI_ABCONT = 4;  // object types of OpenEntry
constexpr uint32_t MAPI_MESSAGE = 5;
constexpr uint32_t AB_NO_DIALOG = 0x1;
constexpr uint32_t PR_RESOURCE_TYPE = 0x3E030003;

// The interfaces, each declared up to the last method used. Window handles
// (ulUIParam) are pointer-sized, as the published headers give them.
struct IMAPITable : IUnknown {};
struct IMAPIProgress;
struct IMAPIAdviseSink;

struct IMAPIProp : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, uint32_t flags, MAPIERROR **error) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveChanges(uint32_t flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProps(void *tags, uint32_t flags, uint32_t *count, SPropValue **values) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropList(uint32_t flags, void **tags) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProperty(uint32_t tag, const IID *iid, uint32_t interfaceOptions,
                                                   uint32_t flags, IUnknown **object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProps(uint32_t count, SPropValue *values, void **problems) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteProps(void *tags, void **problems) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(uint32_t, const IID *, void *, uintptr_t, IMAPIProgress *, const IID *,
                                             void *, uint32_t, void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyProps(void *, uintptr_t, IMAPIProgress *, const IID *, void *, uint32_t,
                                                void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNamesFromIDs(void **, GUID *, uint32_t, uint32_t *, void ***) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsFromNames(uint32_t, void **, uint32_t, void **) = 0;
};

struct IMAPIContainer : IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE GetContentsTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHierarchyTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(uint32_t cbEntryID, void *entryId, const IID *iid, uint32_t flags,
                                                uint32_t *type, IUnknown **object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSearchCriteria(void *, ENTRYLIST *, uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSearchCriteria(uint32_t, void **, ENTRYLIST **, uint32_t *) = 0;
};

struct IMessage;

struct IMAPIFolder : IMAPIContainer {
    virtual HRESULT STDMETHODCALLTYPE CreateMessage(const IID *iid, uint32_t flags, IMessage **message) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyMessages(ENTRYLIST *, const IID *, void *, uintptr_t, IMAPIProgress *,
                                                   uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteMessages(ENTRYLIST *messages, uintptr_t ui, IMAPIProgress *progress,
                                                     uint32_t flags) = 0;
};

struct IMsgStore : IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE Advise(uint32_t, void *, uint32_t, IMAPIAdviseSink *, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEntryIDs(uint32_t, void *, uint32_t, void *, uint32_t, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(uint32_t cbEntryID, void *entryId, const IID *iid, uint32_t flags,
                                                uint32_t *type, IUnknown **object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetReceiveFolder(char *, uint32_t, uint32_t, void *) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReceiveFolder(char *messageClass, uint32_t flags, uint32_t *cbEntryID,
                                                       void **entryId, char **explicitClass) = 0;
};

struct IAttach : IMAPIProp {};

struct IMessage : IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE GetAttachmentTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenAttach(uint32_t number, const IID *iid, uint32_t flags,
                                                 IAttach **attach) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAttach(const IID *iid, uint32_t flags, uint32_t *number,
                                                   IAttach **attach) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAttach(uint32_t, uintptr_t, IMAPIProgress *, uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecipientTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE ModifyRecipients(uint32_t flags, ADRLIST *mods) = 0;
    virtual HRESULT STDMETHODCALLTYPE SubmitMessage(uint32_t flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetReadFlag(uint32_t flags) = 0;
};

struct IAddrBook : IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(uint32_t, void *, const IID *, uint32_t, uint32_t *, IUnknown **) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEntryIDs(uint32_t, void *, uint32_t, void *, uint32_t, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(uint32_t, void *, uint32_t, IMAPIAdviseSink *, uint32_t *) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateOneOff(void *name, void *addressType, void *address, uint32_t flags,
                                                   uint32_t *cbEntryID, void **entryId) = 0;
    virtual HRESULT STDMETHODCALLTYPE NewEntry(uintptr_t, uint32_t, uint32_t, void *, uint32_t, void *, uint32_t *,
                                               void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResolveName(uintptr_t ui, uint32_t flags, void *newEntryTitle,
                                                  ADRLIST *list) = 0;
};

struct IMAPIStatus : IMAPIProp {
    virtual HRESULT STDMETHODCALLTYPE ValidateState(uintptr_t, uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE SettingsDialog(uintptr_t, uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangePassword(char *, char *, uint32_t) = 0;
    virtual HRESULT STDMETHODCALLTYPE FlushQueues(uintptr_t ui, uint32_t cbTargetTransport, void *targetTransport,
                                                  uint32_t flags) = 0;
};

struct IMAPISession : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hr, uint32_t flags, MAPIERROR **error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMsgStoresTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenMsgStore(uintptr_t ui, uint32_t cbEntryID, void *entryId, const IID *iid,
                                                   uint32_t flags, IMsgStore **store) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenAddressBook(uintptr_t ui, const IID *iid, uint32_t flags,
                                                      IAddrBook **book) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProfileSection(const void *, const IID *, uint32_t, void **) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatusTable(uint32_t flags, IMAPITable **table) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenEntry(uint32_t cbEntryID, void *entryId, const IID *iid, uint32_t flags,
                                                uint32_t *type, IUnknown **object) = 0;
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
using PFN_MAPIAllocateBuffer = int32_t(STDMETHODCALLTYPE *)(uint32_t size, void **buffer);
using PFN_MAPIFreeBuffer = uint32_t(STDMETHODCALLTYPE *)(void *buffer);
using PFN_OpenStreamOnFile = HRESULT(STDMETHODCALLTYPE *)(PFN_MAPIAllocateBuffer allocate, PFN_MAPIFreeBuffer free,
                                                          uint32_t flags, const char *fileName, const char *prefix,
                                                          IStream **stream);
using PFN_RTFSync = HRESULT(STDMETHODCALLTYPE *)(IMessage *message, uint32_t flags, int32_t *updated);
using PFN_WrapCompressedRTFStream = HRESULT(STDMETHODCALLTYPE *)(IStream *compressed, uint32_t flags,
                                                                 IStream **uncompressed);
using PFN_FreePadrlist = void(STDMETHODCALLTYPE *)(ADRLIST *list);
using PFN_HrQueryAllRows = HRESULT(STDMETHODCALLTYPE *)(IMAPITable *table, void *columns, SRestriction *restriction,
                                                        void *sortOrder, int32_t maxRows, SRowSet **rows);
using PFN_FreeProws = void(STDMETHODCALLTYPE *)(SRowSet *rows);
using PFN_HrGetOneProp = HRESULT(STDMETHODCALLTYPE *)(IUnknown *object, uint32_t tag, SPropValue **value);
using PFN_MAPIAdminProfiles = HRESULT(STDMETHODCALLTYPE *)(uint32_t flags, IProfAdmin **admin);

} // namespace kv::xmapi
