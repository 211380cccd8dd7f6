/* A stand-in for MAPI32.DLL on the SDK headers (not the component's own
 * declarations), recording every call with its flags and arguments. */
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <stddef.h>

#include "fake_record.h"

#define TAG_SMTP_ADDRESS_W PROP_TAG(PT_UNICODE, 0x39FE)
#define STORE_MASK (STORE_CREATE_OK | 0x40000) /* STORE_UNICODE_OK */
#define TAG_PROXY_ADDRESSES PROP_TAG(PT_MV_STRING8, 0x800F)
#define UL(n) ((unsigned long)(n))
#define IID_TEXT(iid) (!(iid) ? "null" : IsEqualIID(iid, &IID_IStream) ? "IStream" : "other")

static ULONG g_allocationLimit; /* a request above it fails, as out of memory; 0: none */

EXPORT void WINAPI FakeMapiFailAllocationsAbove(ULONG size) { g_allocationLimit = size; }

/* Text for the record: printable bytes as they are, others as \xNN. */
static void Printable(char *out, size_t size, const char *data, size_t n) {
    size_t k = 0;
    for (size_t i = 0; i < n && k + 5 < size; ++i) {
        unsigned char c = (unsigned char)data[i];
        if (c < 0x20 || c >= 0x7f) k += sprintf(out + k, "\\x%02X", c);
        else out[k++] = (char)c;
    }
    out[k] = 0;
}

static void Wide(char *out, size_t size, const WCHAR *text, int n) {
    char utf8[2048];
    int got = text ? WideCharToMultiByte(CP_UTF8, 0, text, n, utf8, sizeof utf8, NULL, NULL) : 0;
    if (n < 0 && got > 0) --got;
    Printable(out, size, utf8, got > 0 ? (size_t)got : 0);
}

#define TEXT_SIZE 4000 /* of every text buffer below */

/* Values as "<name><what> 0xTAG=value ...". */
static const char *ValuesText(char *line, const char *name, const char *what, ULONG n, const SPropValue *values) {
    char text[1024], shown[1100];
    size_t k = (size_t)snprintf(line, TEXT_SIZE, "%s%s", name, what);
    for (const SPropValue *v = values; v < values + n && k < TEXT_SIZE; ++v) {
        switch (PROP_TYPE(v->ulPropTag)) {
        case PT_LONG: snprintf(shown, sizeof shown, "%ld", (long)v->Value.l); break;
        case PT_BOOLEAN: snprintf(shown, sizeof shown, "%d", v->Value.b ? 1 : 0); break;
        case PT_UNICODE:
            Wide(text, sizeof text, v->Value.lpszW, -1);
            snprintf(shown, sizeof shown, "L'%s'", text);
            break;
        case PT_BINARY:
            Printable(text, sizeof text, (const char *)v->Value.bin.lpb, v->Value.bin.cb);
            snprintf(shown, sizeof shown, "<%s>", text);
            break;
        default: snprintf(shown, sizeof shown, "?");
        }
        k += (size_t)snprintf(line + k, TEXT_SIZE - k, " 0x%08lX=%s", UL(v->ulPropTag), shown);
    }
    return line;
}

static const char *TagsText(char *out, const SPropTagArray *tags) {
    size_t k = 0;
    out[0] = 0;
    for (ULONG i = 0; tags && i < tags->cValues && k + 12 < TEXT_SIZE; ++i)
        k += (size_t)sprintf(out + k, "%s0x%08lX", i ? "," : "", UL(tags->aulPropTag[i]));
    return out;
}

static const char *IdText(char *out, ULONG size, const void *id) {
    Printable(out, 64, (const char *)id, size);
    return size ? out : "(root)";
}

/* ---- buffers ---- */

EXPORT SCODE WINAPI MAPIAllocateBuffer(ULONG size, LPVOID *buffer) {
    if (g_allocationLimit && size > g_allocationLimit) return MAPI_E_NOT_ENOUGH_MEMORY;
    if (!(*buffer = calloc(1, size ? size : 1))) return MAPI_E_NOT_ENOUGH_MEMORY;
    InterlockedIncrement(&g_allocations);
    return S_OK;
}

EXPORT ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
    if (buffer) free(buffer), InterlockedDecrement(&g_allocations);
    return S_OK;
}

/* The bytes a value points to, with their address in it. */
static size_t DataOf(SPropValue *v, void ***at) {
    switch (PROP_TYPE(v->ulPropTag)) {
    case PT_STRING8: return *at = (void **)&v->Value.lpszA, strlen(v->Value.lpszA) + 1;
    case PT_UNICODE: return *at = (void **)&v->Value.lpszW, (wcslen(v->Value.lpszW) + 1) * sizeof(WCHAR);
    case PT_BINARY: return *at = (void **)&v->Value.bin.lpb, v->Value.bin.cb;
    default: return 0;
    }
}

/* Values in one buffer, as the platform hands them out (lists of strings,
 * which only the fixed data holds, are not copied). */
static SPropValue *CopyValues(ULONG n, const SPropValue *src) {
    size_t size = n * sizeof(SPropValue) + 8;
    void **at;
    for (ULONG i = 0; i < n; ++i) size += (DataOf((SPropValue *)&src[i], &at) + 7) & ~(size_t)7;
    SPropValue *out = NULL;
    if (MAPIAllocateBuffer((ULONG)size, (void **)&out) != S_OK) return NULL;
    char *data = (char *)(out + n);
    for (ULONG i = 0; i < n; ++i) {
        out[i] = src[i];
        size_t d = DataOf(&out[i], &at);
        if (!d) continue;
        memcpy(data, *at, d);
        *at = data;
        data += (d + 7) & ~(size_t)7;
    }
    return out;
}

/* ---- the data ---- */

typedef struct Props {
    ULONG n;
    const SPropValue *v;
} Props;

/* clang-format off */
#define BIN(tag, text) {tag, 0, {.bin = {sizeof(text) - 1, (BYTE *)(text)}}}
#define STR_W(tag, text) {tag, 0, {.lpszW = (WCHAR *)(text)}}
#define STR_A(tag, text) {tag, 0, {.lpszA = (char *)(text)}}
#define LONGV(tag, n) {tag, 0, {.l = (n)}}
#define PROPS(a) {COUNT(a), a}
/* clang-format on */
#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

static const SPropValue kStoreRow[] = {BIN(PR_ENTRYID, "STORE1")};
static const SPropValue kStoreProps[] = {BIN(PR_IPM_OUTBOX_ENTRYID, "OUTBOX"), BIN(PR_IPM_SENTMAIL_ENTRYID, "SENT"),
                                         LONGV(PR_STORE_SUPPORT_MASK, STORE_MASK)};
static const SPropValue kStatusRow[] = {BIN(PR_ENTRYID, "SPOOLER"), LONGV(PR_RESOURCE_TYPE, MAPI_SPOOLER)};
static const SPropValue kProfile1[] = {STR_A(PR_DISPLAY_NAME_A, "Work"), {PR_DEFAULT_PROFILE, 0, {.b = 0}}};
static const SPropValue kProfile2[] = {STR_A(PR_DISPLAY_NAME_A, "Home"), {PR_DEFAULT_PROFILE, 0, {.b = 1}}};
static const SPropValue kContentRows[][1] = {{BIN(PR_ENTRYID, "MSG1")}, {BIN(PR_ENTRYID, "MSG2")}};

#define SENDER(name, type, address)                                                                                    \
    STR_W(PR_SENDER_NAME_W, name), STR_W(PR_SENDER_ADDRTYPE_W, type), STR_W(PR_SENDER_EMAIL_ADDRESS_W, address)
static const SPropValue kMessage1[] = {
    SENDER(L"Ann Example", L"SMTP", L"ann@example.org"), STR_W(PR_SUBJECT_W, L"First \x00e4"),
    {PR_CREATION_TIME, 0, {.ft = {0x74400080u, 0x01DC7B94u}}}, /* 2026-01-02 03:04:05 UTC */
    STR_W(PR_BODY_W, L"Hello\r\nthere")};
/* An older store: the body only in 8-bit form. */
static const SPropValue kMessage2[] = {SENDER(L"Bob", L"EX", L"/O=ORG/CN=BOB"), STR_W(PR_SUBJECT_W, L"Second"),
                                       STR_A(PR_BODY_A, "8-bit body")};
#define ENTRY(name, type, address)                                                                                     \
    STR_W(PR_DISPLAY_NAME_W, name), STR_W(PR_ADDRTYPE_W, type), STR_W(PR_EMAIL_ADDRESS_W, address)
#define RECIPIENT(name, type, address, kind) ENTRY(name, type, address), LONGV(PR_RECIPIENT_TYPE, kind)
/* Eve: an Exchange recipient whose SMTP address only the global address list knows. */
static const SPropValue kRecipientRows[][4] = {{RECIPIENT(L"Carl", L"SMTP", L"carl@example.org", MAPI_TO)},
                                               {RECIPIENT(L"Eve", L"EX", L"/O=ORG/CN=EVE", MAPI_TO)},
                                               {RECIPIENT(L"Dora", L"SMTP", L"dora@example.org", MAPI_CC)},
                                               {RECIPIENT(L"Hidden", L"SMTP", L"hidden@example.org", MAPI_BCC)}};
static const SPropValue kAttachRow1[] = {LONGV(PR_ATTACH_NUM, 0), STR_W(PR_ATTACH_FILENAME_W, L"notes.txt")};
static const char kAttachData1[] = "line 1\r\n\x01\xff!";

static const Props kRows_contents[] = {PROPS(kContentRows[0]), PROPS(kContentRows[1])};
static const Props kRows_status[] = {PROPS(kStatusRow)};
static const Props kRows_profiles[] = {PROPS(kProfile1), PROPS(kProfile2)};
static const Props kRows_stores[] = {PROPS(kStoreRow)};
static const Props kRows_recipients[] = {
    PROPS(kRecipientRows[0]), PROPS(kRecipientRows[1]), PROPS(kRecipientRows[2]), PROPS(kRecipientRows[3])};

/* The address book: the root holds a personal list and the global one. */
static const SPropValue kHierarchy1[] = {BIN(PR_ENTRYID, "PAB"), LONGV(PR_DISPLAY_TYPE, DT_NOT_SPECIFIC)};
static const SPropValue kHierarchy2[] = {BIN(PR_ENTRYID, "GAL"), LONGV(PR_DISPLAY_TYPE, DT_GLOBAL)};
static char *kEveProxies[] = {"smtp:eve.old@example.org", "SMTP:eve@example.org", "X500:/O=OLD/CN=EVE"};
static const SPropValue kGal1[] = {ENTRY(L"Bob", L"EX", L"/O=ORG/CN=BOB"),
                                   STR_W(TAG_SMTP_ADDRESS_W, L"bob@example.org")};
static const SPropValue kGal2[] = {ENTRY(L"Eve", L"EX", L"/o=org/cn=eve"),
                                   {TAG_PROXY_ADDRESSES, 0, {.MVszA = {COUNT(kEveProxies), kEveProxies}}}};
static const Props kRows_hierarchy[] = {PROPS(kHierarchy1), PROPS(kHierarchy2)};
static const Props kRows_gal[] = {PROPS(kGal1), PROPS(kGal2)};
static const Props kRows_attachments[] = {PROPS(kAttachRow1)};

/* ---- objects ---- */

typedef struct Obj {
    const void *lpVtbl;
    LONG refs;
    const char *name;
    const Props *rows, *props; /* a table's rows; what GetProps answers */
    ULONG rowCount, tag;       /* a stream's property */
    char *data;                /* a stream's bytes */
    size_t size, pos;
} Obj;

/* The kinds of object, each one method table; 1: it has properties. */
#define KINDS(X)                                                                                                       \
    X(Session, 0) X(Table, 0) X(Stream, 0) X(Admin, 0) X(Prop, 1) X(Store, 1) X(Folder, 0) X(Message, 1)               \
    X(AddrBook, 0) X(Status, 0) X(ABRoot, 0) X(Gal, 0)
#define DECLARE_KIND(kind, props) static void *g_vt##kind[64];
KINDS(DECLARE_KIND)

static HRESULT STDMETHODCALLTYPE Unexpected(Obj *self) {
    Log("UNEXPECTED call on %s", self ? self->name : "?");
    return MAPI_E_NO_SUPPORT;
}

/* A new object through `out`, or the failure to make it. */
static HRESULT Give(void **vtbl, const char *name, ULONG tag, void **out) {
    Obj *o = calloc(1, sizeof(Obj));
    if (!o) return MAPI_E_NOT_ENOUGH_MEMORY;
    o->lpVtbl = vtbl, o->refs = 1, o->name = name, o->tag = tag;
    InterlockedIncrement(&g_objects);
    *out = o;
    return S_OK;
}

static ULONG STDMETHODCALLTYPE AddRef_(Obj *self) { return (ULONG)++self->refs; }
static ULONG STDMETHODCALLTYPE Release_(Obj *self) {
    LONG left = --self->refs;
    if (left == 0) {
        free(self->data);
        free(self);
        InterlockedDecrement(&g_objects);
    }
    return (ULONG)left;
}

#define SLOT(vt, Type, method, fn) (vt)[offsetof(Type##Vtbl, method) / sizeof(void *)] = (void *)(fn)

static const SPropValue *Find(const Props *p, ULONG tag) {
    for (ULONG i = 0; p && i < p->n; ++i)
        if (p->v[i].ulPropTag == tag) return &p->v[i];
    return NULL;
}

/* The values of `tags`; a missing one as an error value, MAPI_E_BAD_CHARWIDTH
 * when the store keeps it in the other string width. */
static HRESULT Select(const Props *p, const SPropTagArray *tags, ULONG *count, SPropValue **values) {
    SPropValue picked[32]; /* more than the component ever asks for */
    HRESULT result = S_OK;
    ULONG n = tags ? tags->cValues : 0;
    for (ULONG i = 0; i < n; ++i) {
        ULONG tag = tags->aulPropTag[i], type = PROP_TYPE(tag);
        const SPropValue *found = Find(p, tag);
        if (found) {
            picked[i] = *found;
            continue;
        }
        ULONG other = CHANGE_PROP_TYPE(tag, (type == PT_UNICODE ? PT_STRING8 : type == PT_STRING8 ? PT_UNICODE : type));
        picked[i].ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        picked[i].Value.err = other != tag && Find(p, other) ? MAPI_E_BAD_CHARWIDTH : MAPI_E_NOT_FOUND;
        result = MAPI_W_ERRORS_RETURNED;
    }
    if (!(*values = CopyValues(n, picked))) return MAPI_E_NOT_ENOUGH_MEMORY;
    *count = n;
    return result;
}

static HRESULT STDMETHODCALLTYPE StreamWrite(Obj *self, const void *buffer, ULONG size, ULONG *written) {
    char *grown = realloc(self->data, self->size + size + 1);
    if (!grown) return STG_E_MEDIUMFULL;
    self->data = grown;
    memcpy(self->data + self->size, buffer, size);
    self->size += size;
    if (written) *written = size;
    return S_OK;
}
static HRESULT STDMETHODCALLTYPE StreamRead(Obj *self, void *buffer, ULONG size, ULONG *read) {
    size_t left = self->size - self->pos;
    ULONG n = size < left ? size : (ULONG)left;
    memcpy(buffer, self->data + self->pos, n);
    self->pos += n;
    if (read) *read = n;
    return S_OK;
}
static HRESULT STDMETHODCALLTYPE StreamCopyTo(Obj *self, IStream *to, ULARGE_INTEGER most, ULARGE_INTEGER *read,
                                              ULARGE_INTEGER *written) {
    size_t left = self->size - self->pos;
    ULONG n = most.QuadPart < left ? (ULONG)most.QuadPart : (ULONG)left, done = 0;
    Log("%s.CopyTo %lu", self->name, UL(n));
    HRESULT hr = n ? to->lpVtbl->Write(to, self->data + self->pos, n, &done) : S_OK;
    self->pos += done; /* the component asks for no counts */
    return hr;
}
static HRESULT STDMETHODCALLTYPE StreamCommit(Obj *self, DWORD flags) {
    char text[TEXT_SIZE];
    if (PROP_TYPE(self->tag) == PT_UNICODE) Wide(text, sizeof text, (const WCHAR *)self->data, (int)(self->size / 2));
    else Printable(text, sizeof text, self->data ? self->data : "", self->size);
    Log("%s[0x%08lX].Commit 0x%lX '%s'", self->name, UL(self->tag), UL(flags), text);
    return S_OK;
}

/* A table of fixed rows; the second message has no recipients and no attachments. */
static HRESULT GiveTable(Obj *self, const char *name, const Props *rows, ULONG count, LPMAPITABLE *out) {
    HRESULT hr = Give(g_vtTable, name, 0, (void **)out);
    if (hr == S_OK && strcmp(self->name, "MSG2")) ((Obj *)*out)->rows = rows, ((Obj *)*out)->rowCount = count;
    return hr;
}

/* What OpenEntry and OpenMsgStore find, by the opener's name and the id. */
static const Props kStoreData = PROPS(kStoreProps);
static const Props kMessages[] = {PROPS(kMessage1), PROPS(kMessage2)};
static const struct {
    const char *parent, *id;
    void **vt;
    const char *name;
    ULONG type;
    const Props *props;
} kEntries[] = {
    {"Session", "STORE1", g_vtStore, "Store", MAPI_STORE, &kStoreData},
    {"Session", "SPOOLER", g_vtStatus, "Spooler", MAPI_STATUS, NULL},
    {"Store", "OUTBOX", g_vtFolder, "Outbox", MAPI_FOLDER, NULL},
    {"Store", "INBOX", g_vtFolder, "Inbox", MAPI_FOLDER, NULL},
    {"Inbox", "SUB", g_vtFolder, "Sub", MAPI_FOLDER, NULL}, /* a folder inside the inbox */
    {"Inbox", "MSG1", g_vtMessage, "MSG1", MAPI_MESSAGE, &kMessages[0]},
    {"Inbox", "MSG2", g_vtMessage, "MSG2", MAPI_MESSAGE, &kMessages[1]},
    {"AddrBook", "", g_vtABRoot, "ABRoot", MAPI_ABCONT, NULL},
    {"AddrBook", "GAL", g_vtGal, "GAL", MAPI_ABCONT, NULL},
};

static HRESULT Open(Obj *self, const char *method, ULONG size, LPENTRYID id, LPCIID iid, ULONG flags, ULONG *type,
                    void **out) {
    char text[TEXT_SIZE];
    Log("%s.%s %s iid=%s flags=0x%lX", self->name, method, IdText(text, size, id), IID_TEXT(iid), UL(flags));
    for (size_t i = 0; i < COUNT(kEntries); ++i) {
        if (strcmp(kEntries[i].parent, self->name) || size != strlen(kEntries[i].id) ||
            memcmp(id, kEntries[i].id, size))
            continue;
        if (type) *type = kEntries[i].type;
        HRESULT hr = Give(kEntries[i].vt, kEntries[i].name, 0, out);
        if (hr == S_OK) ((Obj *)*out)->props = kEntries[i].props;
        return hr;
    }
    return MAPI_E_NOT_FOUND;
}


static HRESULT STDMETHODCALLTYPE OpenEntry_(Obj *self, ULONG size, LPENTRYID id, LPCIID iid, ULONG flags, ULONG *type,
                                            LPUNKNOWN *out) {
    return Open(self, "OpenEntry", size, id, iid, flags, type, (void **)out);
}
static HRESULT STDMETHODCALLTYPE OpenMsgStore_(Obj *self, ULONG_PTR ui, ULONG size, LPENTRYID id, LPCIID iid,
                                               ULONG flags, LPMDB *out) {
    return Open(self, "OpenMsgStore", size, id, iid, flags, NULL, (void **)out);
}

static HRESULT STDMETHODCALLTYPE CreateOneOff_(Obj *self, LPTSTR name, LPTSTR type, LPTSTR address, ULONG flags,
                                               ULONG *size, LPENTRYID *id) {
    char n[256], t[64], a[256]; /* wide, as the flags say */
    Wide(n, sizeof n, (const WCHAR *)name, -1);
    Wide(t, sizeof t, (const WCHAR *)type, -1);
    Wide(a, sizeof a, (const WCHAR *)address, -1);
    Log("%s.CreateOneOff '%s' '%s' '%s' flags=0x%lX", self->name, n, t, a, UL(flags));
    *size = (ULONG)strlen(a) + 5;
    if (MAPIAllocateBuffer(*size + 1, (void **)id) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
    snprintf((char *)*id, *size + 1, "1OFF:%s", a);
    return S_OK;
}

/* The methods: kind called, interface, method, parameters, the record's
 * format and arguments, then what they do before answering S_OK. */
#define METHODS(X)                                                                                                     \
    X(Prop, IMAPIProp, SaveChanges, (Obj * self, ULONG flags), ("%s.SaveChanges 0x%lX", self->name, UL(flags)))       \
    X(Message, IMessage, SubmitMessage, (Obj * self, ULONG flags), ("%s.SubmitMessage 0x%lX", self->name, UL(flags)))  \
    X(Message, IMessage, SetReadFlag, (Obj * self, ULONG flags), ("%s.SetReadFlag 0x%lX", self->name, UL(flags)))      \
    X(Session, IMAPISession, Logoff, (Obj * self, ULONG_PTR ui, ULONG flags, ULONG reserved),                          \
      ("Session.Logoff flags=0x%lX", UL(flags)))                                                                       \
    X(Status, IMAPIStatus, FlushQueues, (Obj * self, ULONG ui, ULONG size, LPENTRYID transport, ULONG flags),          \
      ("%s.FlushQueues transport=%s flags=0x%lX", self->name, transport ? "given" : "null", UL(flags)))                \
    X(Folder, IMAPIFolder, CreateMessage, (Obj * self, LPCIID iid, ULONG flags, LPMESSAGE * out),                      \
      ("%s.CreateMessage iid=%s flags=0x%lX", self->name, IID_TEXT(iid), UL(flags)),                                   \
      return Give(g_vtMessage, "Message", 0, (void **)out);)                                                           \
    X(Message, IMessage, OpenAttach, (Obj * self, ULONG number, LPCIID iid, ULONG flags, LPATTACH * out),              \
      ("%s.OpenAttach %lu iid=%s flags=0x%lX", self->name, UL(number), IID_TEXT(iid), UL(flags)),                      \
      return Give(g_vtProp, "Attach", 0, (void **)out);)                                                               \
    X(Message, IMessage, CreateAttach, (Obj * self, LPCIID iid, ULONG flags, ULONG * number, LPATTACH * out),          \
      ("%s.CreateAttach iid=%s flags=0x%lX", self->name, IID_TEXT(iid), UL(flags)), *number = 0;                       \
      return Give(g_vtProp, "Attach", 0, (void **)out);)                                                               \
    X(Session, IMAPISession, OpenAddressBook, (Obj * self, ULONG_PTR ui, LPCIID iid, ULONG flags, LPADRBOOK * out),    \
      ("Session.OpenAddressBook iid=%s flags=0x%lX", IID_TEXT(iid), UL(flags)),                                        \
      return Give(g_vtAddrBook, "AddrBook", 0, (void **)out);)                                                         \
    X(Prop, IMAPIProp, GetProps,                                                                                       \
      (Obj * self, LPSPropTagArray tags, ULONG flags, ULONG * count, LPSPropValue * values),                           \
      ("%s.GetProps %s flags=0x%lX", self->name, TagsText(text, tags), UL(flags)),                                     \
      return Select(self->props, tags, count, values);)                                                                \
    X(Prop, IMAPIProp, SetProps, (Obj * self, ULONG n, LPSPropValue values, LPSPropProblemArray * problems),           \
      ("%s", ValuesText(text, self->name, ".SetProps", n, values)), if (problems) *problems = NULL;)                   \
    X(Prop, IMAPIProp, OpenProperty, (Obj * self, ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN * out), \
      ("%s.OpenProperty 0x%08lX iid=%s options=0x%lX flags=0x%lX", self->name, UL(tag), IID_TEXT(iid), UL(options),   \
       UL(flags)),                                                                                                     \
      HRESULT hr = Give(g_vtStream, "Stream", tag, (void **)out); /* opened to be read: the attachment's bytes */      \
      if (hr == S_OK && tag == PR_ATTACH_DATA_BIN && !flags)                                                           \
          StreamWrite((Obj *)*out, kAttachData1, sizeof kAttachData1 - 1, 0);                                          \
      return hr;)                                                                                                      \
    X(Folder, IMAPIFolder, DeleteMessages, (Obj * self, LPENTRYLIST list, ULONG ui, LPMAPIPROGRESS p, ULONG flags),    \
      ("%s.DeleteMessages %s flags=0x%lX", self->name, IdText(text, list->lpbin[0].cb, list->lpbin[0].lpb),            \
       UL(flags)))                                                                                                     \
    X(Store, IMsgStore, GetReceiveFolder,                                                                              \
      (Obj * self, LPTSTR messageClass, ULONG flags, ULONG * size, LPENTRYID * id, LPTSTR * explicitClass),            \
      ("%s.GetReceiveFolder class=%s flags=0x%lX", self->name, messageClass ? "given" : "null", UL(flags)),            \
      if (MAPIAllocateBuffer(*size = 5, (void **)id) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;                         \
      memcpy(*id, "INBOX", 5);)                                                                                        \
    X(Message, IMessage, ModifyRecipients, (Obj * self, ULONG flags, LPADRLIST list),                                  \
      ("%s.ModifyRecipients flags=0x%lX count=%lu", self->name, UL(flags), UL(list->cEntries)),                        \
      for (ULONG i = 0; i < list->cEntries; ++i)                                                                       \
          Log("%s", ValuesText(text, "  recipient", "", list->aEntries[i].cValues, list->aEntries[i].rgPropVals));)    \
    /* as the platform does: an entry's values may be replaced by new ones */                                          \
    X(AddrBook, IAddrBook, ResolveName, (Obj * self, ULONG ui, ULONG flags, LPTSTR title, LPADRLIST list),             \
      ("%s.ResolveName flags=0x%lX count=%lu", self->name, UL(flags), UL(list->cEntries)),                             \
      for (ULONG i = 0; i < list->cEntries; ++i) {                                                                     \
          SPropValue *copy = CopyValues(list->aEntries[i].cValues, list->aEntries[i].rgPropVals);                      \
          if (!copy) return MAPI_E_NOT_ENOUGH_MEMORY;                                                                  \
          MAPIFreeBuffer(list->aEntries[i].rgPropVals);                                                                \
          list->aEntries[i].rgPropVals = copy;                                                                         \
      })

/* The methods that answer a table of fixed rows: kind, interface, method,
 * table (its rows in kRows_<table>). */
#define TABLES(X)                                                                                                      \
    X(Folder, IMAPIFolder, GetContentsTable, contents)                                                                 \
    X(Gal, IMAPIContainer, GetContentsTable, gal)                                                                      \
    X(ABRoot, IMAPIContainer, GetHierarchyTable, hierarchy)                                                            \
    X(Session, IMAPISession, GetMsgStoresTable, stores)                                                                \
    X(Session, IMAPISession, GetStatusTable, status)                                                                   \
    X(Admin, IProfAdmin, GetProfileTable, profiles)                                                                    \
    X(Message, IMessage, GetRecipientTable, recipients)                                                                \
    X(Message, IMessage, GetAttachmentTable, attachments)

#define DEFINE_METHOD(kind, iface, method, params, record, ...)                                                        \
    static HRESULT STDMETHODCALLTYPE kind##_##method params {                                                          \
        char text[TEXT_SIZE];                                                                                          \
        (void)text;                                                                                                    \
        Log record;                                                                                                    \
        __VA_ARGS__ return S_OK;                                                                                       \
    }
#define DEFINE_TABLE(kind, iface, method, table)                                                                       \
    static HRESULT STDMETHODCALLTYPE kind##_##method(Obj *self, ULONG flags, LPMAPITABLE *out) {                       \
        Log("%s." #method " flags=0x%lX", self->name, UL(flags));                                                      \
        return GiveTable(self, #table, kRows_##table, COUNT(kRows_##table), out);                                      \
    }
METHODS(DEFINE_METHOD)
TABLES(DEFINE_TABLE)

/* Every kind answers IUnknown's reference counting, the rest as METHODS and
 * TABLES say; any other call is recorded as unexpected. */
__attribute__((constructor)) static void Build(void) {
#define BASE_SLOTS(kind, props)                                                                                        \
    for (size_t i = 0; i < 64; ++i) g_vt##kind[i] = (void *)Unexpected;                                                \
    SLOT(g_vt##kind, IUnknown, AddRef, AddRef_);                                                                       \
    SLOT(g_vt##kind, IUnknown, Release, Release_);                                                                     \
    if (props) {                                                                                                       \
        SLOT(g_vt##kind, IMAPIProp, SaveChanges, Prop_SaveChanges);                                                    \
        SLOT(g_vt##kind, IMAPIProp, GetProps, Prop_GetProps);                                                          \
        SLOT(g_vt##kind, IMAPIProp, SetProps, Prop_SetProps);                                                          \
        SLOT(g_vt##kind, IMAPIProp, OpenProperty, Prop_OpenProperty);                                                  \
    }
    KINDS(BASE_SLOTS)
#define FILL(kind, iface, method, ...) SLOT(g_vt##kind, iface, method, kind##_##method);
    METHODS(FILL)
    TABLES(FILL)
    SLOT(g_vtSession, IMAPISession, OpenMsgStore, OpenMsgStore_);
    SLOT(g_vtStore, IMsgStore, OpenEntry, OpenEntry_);
    SLOT(g_vtFolder, IMAPIFolder, OpenEntry, OpenEntry_);
    SLOT(g_vtAddrBook, IAddrBook, OpenEntry, OpenEntry_);
    SLOT(g_vtSession, IMAPISession, OpenEntry, OpenEntry_);
    SLOT(g_vtAddrBook, IAddrBook, CreateOneOff, CreateOneOff_);
    SLOT(g_vtStream, IStream, Read, StreamRead);
    SLOT(g_vtStream, IStream, Write, StreamWrite);
    SLOT(g_vtStream, IStream, CopyTo, StreamCopyTo);
    SLOT(g_vtStream, IStream, Commit, StreamCommit);
}

/* ---- the functions ---- */

EXPORT HRESULT STDAPICALLTYPE HrQueryAllRows(LPMAPITABLE table, LPSPropTagArray tags, LPSRestriction restriction,
                                             LPSSortOrderSet sort, LONG maxRows, LPSRowSet *rows) {
    Obj *t = (Obj *)table;
    char text[TEXT_SIZE], where[128] = "";
    if (restriction && restriction->rt == RES_PROPERTY && restriction->res.resProperty.lpProp)
        snprintf(where, sizeof where, " where rt=%lu relop=%lu 0x%08lX==%ld", UL(restriction->rt),
                 UL(restriction->res.resProperty.relop), UL(restriction->res.resProperty.ulPropTag),
                 (long)restriction->res.resProperty.lpProp->Value.l);
    Log("HrQueryAllRows %s columns=%s%s max=%ld", t->name, TagsText(text, tags), where, (long)maxRows);
    SRowSet *set = NULL;
    if (MAPIAllocateBuffer(offsetof(SRowSet, aRow) + (t->rowCount + 1) * sizeof(SRow), (void **)&set) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    for (ULONG i = 0; i < t->rowCount; ++i, ++set->cRows) {
        HRESULT hr = Select(&t->rows[i], tags, &set->aRow[i].cValues, &set->aRow[i].lpProps);
        if (FAILED(hr)) return hr;
    }
    *rows = set;
    return S_OK;
}

EXPORT void STDAPICALLTYPE FreeProws(LPSRowSet rows) {
    for (ULONG i = 0; i < rows->cRows; ++i) MAPIFreeBuffer(rows->aRow[i].lpProps);
    MAPIFreeBuffer(rows);
}

EXPORT void STDAPICALLTYPE FreePadrlist(LPADRLIST list) {
    for (ULONG i = 0; i < list->cEntries; ++i) MAPIFreeBuffer(list->aEntries[i].rgPropVals);
    MAPIFreeBuffer(list);
}

EXPORT HRESULT STDAPICALLTYPE OpenStreamOnFile(LPALLOCATEBUFFER allocate, LPFREEBUFFER release, ULONG flags,
                                               LPTSTR path, LPTSTR prefix, LPSTREAM *out) {
    Log("OpenStreamOnFile %s flags=0x%lX allocators=%s", path, UL(flags), allocate && release ? "given" : "missing");
    FILE *f = fopen(path, "rb"); /* its bytes, for the component to copy */
    if (!f) return MAPI_E_NOT_FOUND;
    HRESULT hr = Give(g_vtStream, "File", 0, (void **)out);
    char buffer[4096];
    for (size_t got; hr == S_OK && (got = fread(buffer, 1, sizeof buffer, f)) > 0;)
        StreamWrite((Obj *)*out, buffer, (ULONG)got, NULL);
    fclose(f);
    return hr;
}

EXPORT void WINAPI MAPIUninitialize(void) { Log("MAPIUninitialize"); }

/* The functions that record their call, do what follows and answer S_OK:
 * name, parameters, the record's format and arguments, what they do. */
#define FUNCTIONS(X)                                                                                                   \
    X(MAPIInitialize, (LPVOID init),                                                                                   \
      ("MAPIInitialize version=%lu flags=0x%lX", UL(((MAPIINIT_0 *)init)->ulVersion),                                  \
       UL(((MAPIINIT_0 *)init)->ulFlags)), )                                                                           \
    X(MAPILogonEx, (ULONG_PTR ui, LPTSTR profile, LPTSTR password, ULONG flags, LPMAPISESSION *session),               \
      ("MAPILogonEx profile=%s password=%s flags=0x%lX", profile ? (const char *)profile : "(null)",                   \
       password ? "(given)" : "(null)", UL(flags)),                                                                    \
      return Give(g_vtSession, "Session", 0, (void **)session);)                                                       \
    X(MAPIAdminProfiles, (ULONG flags, LPPROFADMIN *admin), ("MAPIAdminProfiles flags=0x%lX", UL(flags)),              \
      return Give(g_vtAdmin, "ProfAdmin", 0, (void **)admin);)                                                         \
    X(RTFSync, (LPMESSAGE message, ULONG flags, WINBOOL *updated),                                                     \
      ("RTFSync %s 0x%lX", ((Obj *)message)->name, UL(flags)),                                                         \
      *updated = TRUE;)                                                                                                \
    X(WrapCompressedRTFStream, (LPSTREAM compressed, ULONG flags, LPSTREAM *out),                                      \
      ("WrapCompressedRTFStream %s[0x%08lX] flags=0x%lX", ((Obj *)compressed)->name, UL(((Obj *)compressed)->tag),     \
       UL(flags)),                                                                                                     \
      return Give(g_vtStream, "RTF", ((Obj *)compressed)->tag, (void **)out);)                                         \
    X(HrGetOneProp, (LPMAPIPROP object, ULONG tag, LPSPropValue *value),                                               \
      ("HrGetOneProp %s 0x%08lX", ((Obj *)object)->name, UL(tag)), SizedSPropTagArray(1, one) = {1, {tag}};            \
      ULONG n; return Select(((Obj *)object)->props, (LPSPropTagArray)&one, &n, value);)
#define DEFINE_FUNCTION(name, params, record, ...)                                                                     \
    EXPORT HRESULT STDAPICALLTYPE name params {                                                                        \
        Log record;                                                                                                    \
        __VA_ARGS__ return S_OK;                                                                                       \
    }
FUNCTIONS(DEFINE_FUNCTION)
