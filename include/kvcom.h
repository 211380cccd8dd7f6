/*
 * The subset of COM and OLE automation that orkv14 and its hosts use, for
 * platforms without a COM runtime. Layouts, values and vtable orders are those
 * of the Windows SDK, so the same host code compiles on both. On Windows the
 * SDK headers are used instead and this file is not included.
 *
 * Usable from C (C11) and C++.
 */
#ifndef KVCOM_H
#define KVCOM_H

#ifdef _WIN32
#error "kvcom.h is the COM subset for platforms without COM; include <objbase.h> on Windows"
#endif

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KVCOM_EXTERN_C extern "C"
#else
#define KVCOM_EXTERN_C extern
#endif

#if defined(__GNUC__)
#define KVCOM_API KVCOM_EXTERN_C __attribute__((visibility("default")))
#else
#define KVCOM_API KVCOM_EXTERN_C
#endif

/* ---- basic types (Windows sizes: LONG and ULONG are 32 bits everywhere) ---- */
typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int8_t CHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef uint32_t LCID;
typedef void *HANDLE;
typedef void *HGLOBAL;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;

#ifdef __cplusplus
typedef char16_t OLECHAR;
#define OLESTR(s) u##s
#else
typedef uint16_t OLECHAR;
#define OLESTR(s) ((const OLECHAR *)u##s)
#endif
typedef OLECHAR WCHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef OLECHAR *BSTR;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

#ifdef __cplusplus
#define REFIID const IID &
#define REFCLSID const CLSID &
#define REFGUID const GUID &
#else
#define REFIID const IID *
#define REFCLSID const CLSID *
#define REFGUID const GUID *
#endif

/* ---- HRESULT values ---- */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001)
#define STG_E_INVALIDPOINTER ((HRESULT)0x80030009)
#define STG_E_MEDIUMFULL ((HRESULT)0x80030070)
#define STG_E_INVALIDPARAMETER ((HRESULT)0x80030057)
#define STG_E_ACCESSDENIED ((HRESULT)0x80030005)
#define STG_E_INSUFFICIENTMEMORY ((HRESULT)0x80030008)

/* ---- interface declaration macros, as the Windows SDK defines them ---- */
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#ifndef interface
#define interface struct
#endif
#if defined(__cplusplus) && !defined(CINTERFACE)
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void
#define DECLARE_INTERFACE(iface) interface iface
#define DECLARE_INTERFACE_(iface, baseiface) interface iface : public baseiface
#define BEGIN_INTERFACE
#define END_INTERFACE
#else
#define STDMETHOD(method) HRESULT(STDMETHODCALLTYPE *method)
#define STDMETHOD_(type, method) type(STDMETHODCALLTYPE *method)
#define PURE
#define THIS_ INTERFACE *This,
#define THIS INTERFACE *This
#define DECLARE_INTERFACE(iface)                                                                   \
    typedef interface iface {                                                                      \
        const struct iface##Vtbl *lpVtbl;                                                          \
    } iface;                                                                                       \
    typedef const struct iface##Vtbl iface##Vtbl;                                                  \
    struct iface##Vtbl
#define DECLARE_INTERFACE_(iface, baseiface) DECLARE_INTERFACE(iface)
#define BEGIN_INTERFACE
#define END_INTERFACE
#endif

/* ---- IUnknown ---- */
#undef INTERFACE
#define INTERFACE IUnknown
DECLARE_INTERFACE(IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    END_INTERFACE
};
typedef IUnknown *LPUNKNOWN;

/* ---- IClassFactory ---- */
#undef INTERFACE
#define INTERFACE IClassFactory
DECLARE_INTERFACE_(IClassFactory, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(CreateInstance)(THIS_ IUnknown * outer, REFIID riid, void **ppv) PURE;
    STDMETHOD(LockServer)(THIS_ BOOL lock) PURE;
    END_INTERFACE
};

/* ---- streams ---- */
typedef enum tagSTREAM_SEEK { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 } STREAM_SEEK;
typedef enum tagSTATFLAG { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 } STATFLAG;
#define STGTY_STREAM 2

typedef struct tagSTATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
} STATSTG;

#undef INTERFACE
#define INTERFACE IStream
DECLARE_INTERFACE_(IStream, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Read)(THIS_ void *pv, ULONG cb, ULONG *pcbRead) PURE;
    STDMETHOD(Write)(THIS_ const void *pv, ULONG cb, ULONG *pcbWritten) PURE;
    STDMETHOD(Seek)(THIS_ LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPosition) PURE;
    STDMETHOD(SetSize)(THIS_ ULARGE_INTEGER newSize) PURE;
    STDMETHOD(CopyTo)(THIS_ IStream * dest, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                      ULARGE_INTEGER *pcbWritten) PURE;
    STDMETHOD(Commit)(THIS_ DWORD flags) PURE;
    STDMETHOD(Revert)(THIS) PURE;
    STDMETHOD(LockRegion)(THIS_ ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) PURE;
    STDMETHOD(UnlockRegion)(THIS_ ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) PURE;
    STDMETHOD(Stat)(THIS_ STATSTG * stat, DWORD flags) PURE;
    STDMETHOD(Clone)(THIS_ IStream * *clone) PURE;
    END_INTERFACE
};
typedef IStream *LPSTREAM;

/* ---- IEnumString ---- */
#undef INTERFACE
#define INTERFACE IEnumString
DECLARE_INTERFACE_(IEnumString, IUnknown) {
    BEGIN_INTERFACE
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(Next)(THIS_ ULONG celt, LPOLESTR * rgelt, ULONG * pceltFetched) PURE;
    STDMETHOD(Skip)(THIS_ ULONG celt) PURE;
    STDMETHOD(Reset)(THIS) PURE;
    STDMETHOD(Clone)(THIS_ IEnumString * *clone) PURE;
    END_INTERFACE
};
#undef INTERFACE

/* ---- VARIANT ---- */
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0xfff
};

/* VariantChangeType flags */
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02

typedef struct tagDEC {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
} DECIMAL;

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                HRESULT scode;
                DATE date;
                BSTR bstrVal;
                IUnknown *punkVal;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                BYTE *pbVal;
                SHORT *piVal;
                LONG *plVal;
                LONGLONG *pllVal;
                FLOAT *pfltVal;
                DOUBLE *pdblVal;
                VARIANT_BOOL *pboolVal;
                HRESULT *pscode;
                DATE *pdate;
                BSTR *pbstrVal;
                IUnknown **ppunkVal;
                VARIANT *pvarVal;
                void *byref;
                CHAR *pcVal;
                USHORT *puiVal;
                ULONG *pulVal;
                ULONGLONG *pullVal;
                INT *pintVal;
                UINT *puintVal;
                struct {
                    void *pvRecord;
                    void *pRecInfo;
                } brecVal;
            };
        };
        DECIMAL decVal;
    };
};
typedef VARIANT VARIANTARG;

/* ---- services the library exports for hosts on this platform ---- */
KVCOM_API BSTR SysAllocString(const OLECHAR *text);
KVCOM_API BSTR SysAllocStringLen(const OLECHAR *text, UINT length);
KVCOM_API INT SysReAllocString(BSTR *target, const OLECHAR *text);
KVCOM_API INT SysReAllocStringLen(BSTR *target, const OLECHAR *text, UINT length);
KVCOM_API void SysFreeString(BSTR text);
KVCOM_API UINT SysStringLen(BSTR text);
KVCOM_API UINT SysStringByteLen(BSTR text);

KVCOM_API void VariantInit(VARIANT *v);
KVCOM_API HRESULT VariantClear(VARIANT *v);
KVCOM_API HRESULT VariantCopy(VARIANT *dest, const VARIANT *src);
KVCOM_API HRESULT VariantCopyInd(VARIANT *dest, const VARIANT *src);
KVCOM_API HRESULT VariantChangeType(VARIANT *dest, const VARIANT *src, USHORT flags, VARTYPE vt);

/* A growable memory stream; the HGLOBAL argument must be null here. */
KVCOM_API HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL deleteOnRelease, IStream **stream);

KVCOM_API void *CoTaskMemAlloc(size_t size);
KVCOM_API void *CoTaskMemRealloc(void *block, size_t size);
KVCOM_API void CoTaskMemFree(void *block);

#ifdef __cplusplus
static inline BOOL IsEqualGUID(REFGUID a, REFGUID b) {
    return __builtin_memcmp(&a, &b, sizeof(GUID)) == 0;
}
#else
static inline BOOL IsEqualGUID(REFGUID a, REFGUID b) {
    return __builtin_memcmp(a, b, sizeof(GUID)) == 0;
}
#endif
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

/* Defined here, not exported, so a host that loads the library at run time
   needs no symbols from it to name these interfaces. */
#if defined(__GNUC__)
#define KVCOM_UNUSED __attribute__((unused))
#else
#define KVCOM_UNUSED
#endif
#define KVCOM_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                        \
    static const GUID name KVCOM_UNUSED = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

KVCOM_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
KVCOM_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
KVCOM_DEFINE_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00,
                  0x44, 0x77, 0x3d);
KVCOM_DEFINE_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
KVCOM_DEFINE_GUID(IID_IEnumString, 0x00000101, 0x0000, 0x0000, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);

#endif /* KVCOM_H */
