/* A stand-in for the system's CDO message objects, for the Wine tests only:
 * an in-process server for the CDO message and configuration classes whose
 * objects answer every automation call by name and record it with its call
 * kind and arguments. */
#include <windows.h>
#include <oleauto.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_record.h"

#define EXPORT __declspec(dllexport)

static const CLSID kClsidMessage = {0xCD000001, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};
static const CLSID kClsidConfiguration = {0xCD000002, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};

static LONG g_objects;

static void Log(const char *format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    RecordLine(line, sizeof line, format, args);
    va_end(args);
}

EXPORT DWORD WINAPI FakeCdoTakeLog(char *buffer, DWORD size) { return TakeRecord(buffer, size); }

EXPORT LONG WINAPI FakeCdoObjects(void) { return g_objects; }

static void Utf8(char *out, size_t size, const WCHAR *text) {
    int got = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, out, (int)size, NULL, NULL) : 0;
    if (got <= 0) out[0] = 0;
}

/* Every object: one automation interface, named by the path that reached it. */
typedef struct Obj {
    const IDispatchVtbl *lpVtbl;
    LONG refs;
    char label[160];
    int unreachable; /* the server named by a recipient */
} Obj;

static const IDispatchVtbl g_dispatch;
static const IClassFactoryVtbl g_factory;
static int g_parts;

static Obj *NewObj(const char *label) {
    Obj *o = calloc(1, sizeof(Obj));
    if (!o) return NULL;
    o->lpVtbl = &g_dispatch;
    o->refs = 1;
    snprintf(o->label, sizeof o->label, "%s", label);
    InterlockedIncrement(&g_objects);
    return o;
}

static HRESULT STDMETHODCALLTYPE QueryInterface_(IDispatch *self, REFIID iid, void **out) {
    if (!out) return E_INVALIDARG;
    *out = NULL;
    /* The CDO interfaces are dual: every one of them is this dispatch. */
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) ||
        memcmp(&iid->Data2, &kClsidMessage.Data2, sizeof(GUID) - sizeof(DWORD)) == 0) {
        self->lpVtbl->AddRef(self);
        *out = self;
        return S_OK;
    }
    return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE AddRef_(IDispatch *self) { return (ULONG)InterlockedIncrement(&((Obj *)self)->refs); }
static ULONG STDMETHODCALLTYPE Release_(IDispatch *self) {
    LONG left = InterlockedDecrement(&((Obj *)self)->refs);
    if (left == 0) {
        free(self);
        InterlockedDecrement(&g_objects);
    }
    return (ULONG)left;
}
static HRESULT STDMETHODCALLTYPE GetTypeInfoCount_(IDispatch *self, UINT *count) {
    *count = 0;
    return S_OK;
}
static HRESULT STDMETHODCALLTYPE GetTypeInfo_(IDispatch *self, UINT index, LCID lcid, ITypeInfo **info) {
    return E_NOTIMPL;
}

/* The members every object answers, and what a call gives back: a new object
 * labelled by this format of the caller's label (NULL: nothing). */
/* clang-format off */
#define MEMBERS(X)                                                                                                     \
    X(Configuration, NULL) X(From, NULL) X(Subject, NULL) X(To, NULL) X(CC, NULL) X(BCC, NULL)                         \
    X(Fields, "%s.Fields") X(BodyPart, "Part0") X(Send, NULL) X(Load, NULL) X(Item, "%s[%s]") X(Update, NULL)          \
    X(Value, NULL) X(AddBodyPart, "Part%d") X(ContentMediaType, NULL) X(ContentTransferEncoding, NULL)                 \
    X(GetDecodedContentStream, "%s.Stream") X(Charset, NULL) X(WriteText, NULL) X(Write, NULL)                         \
    X(LoadFromFile, NULL) X(Flush, NULL)
/* clang-format on */
#define NAME(member, gives) L## #member,
#define GIVES(member, gives) gives,
static const WCHAR *const kNames[] = {MEMBERS(NAME)};
static const char *const kGives[] = {MEMBERS(GIVES)};
#define NAME_COUNT (sizeof kNames / sizeof kNames[0])

static HRESULT STDMETHODCALLTYPE GetIDsOfNames_(IDispatch *self, REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                                DISPID *ids) {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (UINT k = 0; k < NAME_COUNT; ++k)
            if (_wcsicmp(names[i], kNames[k]) == 0) ids[i] = (DISPID)(k + 1);
        if (ids[i] == DISPID_UNKNOWN) {
            char name[64];
            Utf8(name, sizeof name, names[i]);
            Log("%s: unknown name %s", ((Obj *)self)->label, name);
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

static void ArgText(char *out, size_t size, const VARIANT *v) {
    char text[1024];
    switch (V_VT(v)) {
    case VT_BSTR: Utf8(text, sizeof text, V_BSTR(v)); snprintf(out, size, "'%s'", text); break;
    case VT_I4: snprintf(out, size, "%ld", (long)V_I4(v)); break;
    case VT_BOOL: snprintf(out, size, "%s", V_BOOL(v) ? "true" : "false"); break;
    case VT_DISPATCH: snprintf(out, size, "<%s>", V_DISPATCH(v) ? ((Obj *)V_DISPATCH(v))->label : "null"); break;
    case VT_ARRAY | VT_UI1: {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(V_ARRAY(v), 1, &lower);
        SafeArrayGetUBound(V_ARRAY(v), 1, &upper);
        snprintf(out, size, "bytes[%ld]", (long)(upper - lower + 1));
        break;
    }
    default: snprintf(out, size, "vt%u", (unsigned)V_VT(v)); break;
    }
}

static const char *KindText(WORD kind) {
    switch (kind) {
    case DISPATCH_METHOD: return "call";
    case DISPATCH_PROPERTYGET: return "get";
    case DISPATCH_PROPERTYGET | DISPATCH_METHOD: return "get|call";
    case DISPATCH_PROPERTYPUT: return "put";
    case DISPATCH_PROPERTYPUTREF: return "putref";
    default: return "?";
    }
}

/* The short name of a field: what follows the last '/' or ':'. */
static const char *ShortName(const char *name) {
    const char *s = name;
    for (const char *p = name; *p; ++p)
        if (*p == '/' || *p == ':') s = p + 1;
    return s;
}

static HRESULT Returned(VARIANT *result, const char *label) {
    Obj *o = NewObj(label);
    if (!o) return E_OUTOFMEMORY;
    if (!result) {
        Release_((IDispatch *)o);
        return S_OK;
    }
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = (IDispatch *)o;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE Invoke_(IDispatch *self, DISPID id, REFIID iid, LCID lcid, WORD kind,
                                         DISPPARAMS *params, VARIANT *result, EXCEPINFO *info, UINT *argError) {
    Obj *o = (Obj *)self;
    if (id < 1 || id > (DISPID)NAME_COUNT) return DISP_E_MEMBERNOTFOUND;
    char name[64], args[1200] = "";
    Utf8(name, sizeof name, kNames[id - 1]);
    size_t k = 0;
    /* Arguments arrive last first. */
    for (UINT i = params ? params->cArgs : 0; i > 0 && k < sizeof args - 8; --i) {
        char one[1100];
        ArgText(one, sizeof one, &params->rgvarg[i - 1]);
        k += (size_t)snprintf(args + k, sizeof args - k, "%s%s", k ? ", " : "", one);
    }
    int putLike = kind == DISPATCH_PROPERTYPUT || kind == DISPATCH_PROPERTYPUTREF;
    if (putLike && !(params && params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                     params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT)) {
        Log("%s.%s %s: property put without its named argument", o->label, name, KindText(kind));
        return DISP_E_PARAMNOTOPTIONAL;
    }
    Log("%s.%s %s(%s)", o->label, name, KindText(kind), args);
    if (!strcmp(name, "To") && strstr(args, "@unreachable")) o->unreachable = 1;
    if (!strcmp(name, "Send") && o->unreachable) {
        if (info) {
            memset(info, 0, sizeof *info);
            info->scode = 0x80040213; /* CDO_E_FAILED_TO_CONNECT, a code the system has no text for */
            info->bstrDescription = SysAllocString(L"The transport failed to connect to the server.\r\n");
        }
        return DISP_E_EXCEPTION;
    }
    if (result) VariantInit(result);
    if (!kGives[id - 1]) return S_OK;
    char field[512] = "?", label[160];
    if (!strcmp(name, "Item") && params && params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_BSTR)
        Utf8(field, sizeof field, V_BSTR(&params->rgvarg[0]));
    if (!strcmp(name, "AddBodyPart"))
        snprintf(label, sizeof label, "Part%d", ++g_parts);
    else
        snprintf(label, sizeof label, kGives[id - 1], o->label, ShortName(field));
    return Returned(result, label);
}

static const IDispatchVtbl g_dispatch = {QueryInterface_, AddRef_,        Release_, GetTypeInfoCount_,
                                         GetTypeInfo_,    GetIDsOfNames_, Invoke_};

/* The class objects */
typedef struct Factory {
    const IClassFactoryVtbl *lpVtbl;
    const char *label;
} Factory;

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory *self, REFIID iid, void **out) {
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IClassFactory)) {
        *out = self;
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory *self) { return 2; }
static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory *self) { return 1; }
static HRESULT STDMETHODCALLTYPE FactoryCreateInstance(IClassFactory *self, IUnknown *outer, REFIID iid, void **out) {
    const char *label = ((Factory *)self)->label;
    Log("CoCreateInstance %s", label);
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!strcmp(label, "Message")) g_parts = 0;
    Obj *o = NewObj(label);
    if (!o) return E_OUTOFMEMORY;
    HRESULT hr = QueryInterface_((IDispatch *)o, iid, out);
    Release_((IDispatch *)o);
    return hr;
}
static HRESULT STDMETHODCALLTYPE FactoryLockServer(IClassFactory *self, BOOL lock) { return S_OK; }

static const IClassFactoryVtbl g_factory = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                            FactoryCreateInstance, FactoryLockServer};
static Factory g_messageFactory = {&g_factory, "Message"};
static Factory g_configurationFactory = {&g_factory, "Configuration"};

EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    Factory *f = IsEqualCLSID(clsid, &kClsidMessage)         ? &g_messageFactory
                 : IsEqualCLSID(clsid, &kClsidConfiguration) ? &g_configurationFactory
                                                             : NULL;
    if (!f) return CLASS_E_CLASSNOTAVAILABLE;
    return FactoryQueryInterface((IClassFactory *)f, iid, out);
}

EXPORT HRESULT WINAPI DllCanUnloadNow(void) { return g_objects ? S_FALSE : S_OK; }
