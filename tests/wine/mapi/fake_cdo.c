/* A stand-in for the system's CDO message objects, for the Wine tests only:
 * class objects for the CDO message and configuration whose objects answer
 * every automation call by name and record it with its kind and arguments. */
#include <windows.h>
#include <oleauto.h>

#include "fake_record.h"

/* {CD000001-8B95-11D1-82DB-00C04FB1625D} the message; CD000002 the configuration. */
static const GUID kCdo = {0xCD000001, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};

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
static int g_parts;
/* The names asked for so far; a name's id is its place here, from 1. */
static WCHAR g_names[64][40];
static UINT g_nameCount;

/* The component asks the objects for their automation interface only. */
static HRESULT STDMETHODCALLTYPE QueryInterface_(IDispatch *self, REFIID iid, void **out) {
    *out = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) ? self : NULL;
    if (!*out) return E_NOINTERFACE;
    self->lpVtbl->AddRef(self);
    return S_OK;
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

/* A new object through `out` (released at once when there is none). */
static HRESULT Give(const char *label, REFIID iid, void **out) {
    Obj *o = calloc(1, sizeof(Obj));
    if (!o) return E_OUTOFMEMORY;
    o->lpVtbl = &g_dispatch;
    o->refs = 1;
    snprintf(o->label, sizeof o->label, "%s", label);
    InterlockedIncrement(&g_objects);
    HRESULT hr = out ? QueryInterface_((IDispatch *)o, iid, out) : S_OK;
    Release_((IDispatch *)o);
    return hr;
}

static HRESULT STDMETHODCALLTYPE GetIDsOfNames_(IDispatch *self, REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                                DISPID *ids) {
    for (UINT i = 0; i < count; ++i) {
        UINT k = 0;
        while (k < g_nameCount && _wcsicmp(names[i], g_names[k])) ++k;
        if (k == g_nameCount && k < 64) lstrcpynW(g_names[g_nameCount++], names[i], 40);
        ids[i] = (DISPID)(k + 1);
    }
    return S_OK;
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

/* By the DISPATCH_ flags: method 1, get 2, put 4, putref 8. */
static const char *const kKinds[] = {"?", "call", "get", "get|call", "put", "?", "?", "?", "putref"};
#define KIND_TEXT(kind) ((kind) < 9 ? kKinds[kind] : "?")

/* The members that give back an object, and its label from the caller's and
 * the short name of a field (what follows its last '/' or ':'). */
static const struct {
    const char *name, *label;
} kGives[] = {{"Fields", "%s.Fields"},
              {"BodyPart", "Part0"},
              {"Item", "%s[%s]"},
              {"GetDecodedContentStream", "%s.Stream"},
              {"AddBodyPart", NULL}};

static HRESULT STDMETHODCALLTYPE Invoke_(IDispatch *self, DISPID id, REFIID iid, LCID lcid, WORD kind,
                                         DISPPARAMS *params, VARIANT *result, EXCEPINFO *info, UINT *argError) {
    Obj *o = (Obj *)self;
    if (id < 1 || id > (DISPID)g_nameCount) return DISP_E_MEMBERNOTFOUND;
    char name[64], args[1200] = "";
    Utf8(name, sizeof name, g_names[id - 1]);
    size_t k = 0;
    /* Arguments arrive last first. */
    for (UINT i = params->cArgs; i > 0 && k < sizeof args - 8; --i) {
        char one[1100];
        ArgText(one, sizeof one, &params->rgvarg[i - 1]);
        k += (size_t)snprintf(args + k, sizeof args - k, "%s%s", k ? ", " : "", one);
    }
    if ((kind == DISPATCH_PROPERTYPUT || kind == DISPATCH_PROPERTYPUTREF) &&
        !(params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT)) {
        Log("%s.%s %s: property put without its named argument", o->label, name, KIND_TEXT(kind));
        return DISP_E_PARAMNOTOPTIONAL;
    }
    Log("%s.%s %s(%s)", o->label, name, KIND_TEXT(kind), args);
    if (!strcmp(name, "To") && strstr(args, "@unreachable")) o->unreachable = 1;
    if (!strcmp(name, "Send") && o->unreachable) {
        memset(info, 0, sizeof *info);
        info->scode = 0x80040213; /* CDO_E_FAILED_TO_CONNECT, a code the system has no text for */
        info->bstrDescription = SysAllocString(L"The transport failed to connect to the server.\r\n");
        return DISP_E_EXCEPTION;
    }
    if (result) VariantInit(result);
    char field[512] = "?", label[160];
    for (size_t g = 0; g < sizeof kGives / sizeof kGives[0]; ++g) {
        if (strcmp(name, kGives[g].name)) continue;
        if (params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_BSTR)
            Utf8(field, sizeof field, V_BSTR(params->rgvarg));
        const char *shortName = field;
        for (const char *p = field; *p; ++p)
            if (*p == '/' || *p == ':') shortName = p + 1;
        if (kGives[g].label) snprintf(label, sizeof label, kGives[g].label, o->label, shortName);
        else snprintf(label, sizeof label, "Part%d", ++g_parts);
        if (result) V_VT(result) = VT_DISPATCH;
        return Give(label, &IID_IDispatch, result ? (void **)&V_DISPATCH(result) : NULL);
    }
    return S_OK;
}

/* No type information: the component calls by name. */
static const IDispatchVtbl g_dispatch = {QueryInterface_, AddRef_, Release_, NULL, NULL, GetIDsOfNames_, Invoke_};

/* The class objects: static, labelled by their class. */
typedef struct Factory {
    const IClassFactoryVtbl *lpVtbl;
    const char *label;
} Factory;

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory *self, REFIID iid, void **out) {
    *out = IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IClassFactory) ? self : NULL;
    return *out ? S_OK : E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory *self) { return 2; }
static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory *self) { return 1; }
static HRESULT STDMETHODCALLTYPE FactoryCreateInstance(IClassFactory *self, IUnknown *outer, REFIID iid, void **out) {
    const char *label = ((Factory *)self)->label;
    Log("CoCreateInstance %s", label);
    if (!strcmp(label, "Message")) g_parts = 0;
    return Give(label, iid, out);
}
static HRESULT STDMETHODCALLTYPE FactoryLockServer(IClassFactory *self, BOOL lock) { return S_OK; }

static const IClassFactoryVtbl g_factory = {FactoryQueryInterface, FactoryAddRef, FactoryRelease, FactoryCreateInstance,
                                            FactoryLockServer};
static Factory g_factories[] = {{&g_factory, "Message"}, {&g_factory, "Configuration"}};

EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    ULONG which = clsid->Data1 - kCdo.Data1;
    if (which > 1 || memcmp(&clsid->Data2, &kCdo.Data2, sizeof(GUID) - sizeof(DWORD))) return CLASS_E_CLASSNOTAVAILABLE;
    return FactoryQueryInterface((IClassFactory *)&g_factories[which], iid, out);
}
