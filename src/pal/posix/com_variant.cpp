// VARIANT services for the types that options use, with the Windows rules.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pal/com.h"

namespace {

bool IsOwnedType(VARTYPE vt) { return vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH; }

bool IsSupported(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

// Resolves one level of VT_BYREF into a plain value (not owning its contents).
HRESULT Deref(const VARIANT *src, VARIANT &out) {
    std::memset(&out, 0, sizeof out);
    if (!(src->vt & VT_BYREF)) {
        out = *src;
        return S_OK;
    }
    VARTYPE vt = VARTYPE(src->vt & ~VT_BYREF);
    if (!src->byref) return E_INVALIDARG;
    out.vt = vt;
    switch (vt) {
    case VT_I1: case VT_UI1: out.bVal = *src->pbVal; break;
    case VT_I2: case VT_UI2: case VT_BOOL: out.iVal = *src->piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: out.lVal = *src->plVal; break;
    case VT_R4: out.fltVal = *src->pfltVal; break;
    case VT_R8: case VT_DATE: out.dblVal = *src->pdblVal; break;
    case VT_I8: case VT_UI8: out.llVal = *src->pllVal; break;
    case VT_BSTR: out.bstrVal = *src->pbstrVal; break;
    case VT_UNKNOWN: case VT_DISPATCH: out.punkVal = *src->ppunkVal; break;
    case VT_VARIANT: return Deref(src->pvarVal, out);
    default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

enum class Kind { Int, UInt, Real, Bool };

struct Number {
    Kind kind = Kind::Int;
    long long i = 0;
    unsigned long long u = 0;
    double d = 0;
};

std::string Utf8(BSTR s) {
    std::string r;
    if (!s) return r;
    UINT n = SysStringLen(s);
    for (UINT k = 0; k < n; ++k) {
        unsigned c = s[k];
        if (c < 0x80) r.push_back(char(c));
        else r.push_back('\x7f'); // never part of a number or a boolean word
    }
    return r;
}

bool EqualsNoCase(const std::string &a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

HRESULT ParseNumber(BSTR s, Number &n) {
    std::string t = Trim(Utf8(s));
    if (t.empty()) return DISP_E_TYPEMISMATCH;
    if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
        char *end = nullptr;
        errno = 0;
        unsigned long long v = std::strtoull(t.c_str() + 2, &end, 16);
        if (*end || errno) return errno ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        n.kind = Kind::Int;
        n.i = (long long)v;
        return S_OK;
    }
    // Only plain decimal text: sign, digits, one point, an exponent.
    size_t k = 0;
    if (t[k] == '+' || t[k] == '-') ++k;
    bool digits = false, point = false;
    for (; k < t.size(); ++k) {
        if (t[k] >= '0' && t[k] <= '9') digits = true;
        else if (t[k] == '.' && !point) point = true;
        else break;
    }
    if (!digits) return DISP_E_TYPEMISMATCH;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        ++k;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
        bool exp = false;
        while (k < t.size() && t[k] >= '0' && t[k] <= '9') ++k, exp = true;
        if (!exp) return DISP_E_TYPEMISMATCH;
        point = true;
    }
    if (k != t.size()) return DISP_E_TYPEMISMATCH;
    if (!point) {
        errno = 0;
        long long v = std::strtoll(t.c_str(), nullptr, 10);
        if (errno == ERANGE) {
            n.kind = Kind::Real;
            n.d = std::strtod(t.c_str(), nullptr);
            return S_OK;
        }
        n.kind = Kind::Int;
        n.i = v;
        return S_OK;
    }
    n.kind = Kind::Real;
    n.d = std::strtod(t.c_str(), nullptr);
    return S_OK;
}

HRESULT ToNumber(const VARIANT &v, Number &n) {
    switch (v.vt) {
    case VT_EMPTY: n.kind = Kind::Int; n.i = 0; return S_OK;
    case VT_I1: n.i = v.cVal; return S_OK;
    case VT_UI1: n.i = v.bVal; return S_OK;
    case VT_I2: n.i = v.iVal; return S_OK;
    case VT_UI2: n.i = v.uiVal; return S_OK;
    case VT_I4: case VT_INT: case VT_ERROR: n.i = v.lVal; return S_OK;
    case VT_UI4: case VT_UINT: n.i = v.ulVal; return S_OK;
    case VT_I8: n.i = v.llVal; return S_OK;
    case VT_UI8: n.kind = Kind::UInt; n.u = v.ullVal; return S_OK;
    case VT_R4: n.kind = Kind::Real; n.d = v.fltVal; return S_OK;
    case VT_R8: case VT_DATE: n.kind = Kind::Real; n.d = v.dblVal; return S_OK;
    case VT_BOOL: n.kind = Kind::Bool; n.i = v.boolVal ? -1 : 0; return S_OK;
    case VT_BSTR: {
        std::string t = Trim(Utf8(v.bstrVal));
        if (EqualsNoCase(t, "true") || EqualsNoCase(t, "#TRUE#")) {
            n.kind = Kind::Bool;
            n.i = -1;
            return S_OK;
        }
        if (EqualsNoCase(t, "false") || EqualsNoCase(t, "#FALSE#")) {
            n.kind = Kind::Bool;
            n.i = 0;
            return S_OK;
        }
        return ParseNumber(v.bstrVal, n);
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even, as the platform's conversions do.
HRESULT RoundToInteger(double d, long double lo, long double hi, long long &out) {
    if (std::isnan(d)) return DISP_E_OVERFLOW;
    double r = std::nearbyint(d); // default rounding mode: to nearest, ties to even
    if ((long double)r < lo || (long double)r > hi) return DISP_E_OVERFLOW;
    out = (long long)r;
    return S_OK;
}

HRESULT ToInteger(const Number &n, long long lo, unsigned long long hi, long long &out) {
    switch (n.kind) {
    case Kind::Real:
        return RoundToInteger(n.d, (long double)lo, (long double)hi, out);
    case Kind::UInt:
        if (n.u > hi) return DISP_E_OVERFLOW;
        out = (long long)n.u;
        return S_OK;
    default:
        if (n.i < lo || (n.i >= 0 && (unsigned long long)n.i > hi)) return DISP_E_OVERFLOW;
        out = n.i;
        return S_OK;
    }
}

HRESULT MakeString(const std::string &text, VARIANT &out) {
    std::u16string w(text.begin(), text.end());
    out.vt = VT_BSTR;
    out.bstrVal = SysAllocStringLen(w.data(), UINT(w.size()));
    return out.bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT ToText(const VARIANT &v, USHORT flags, VARIANT &out) {
    char buf[64];
    switch (v.vt) {
    case VT_EMPTY: return MakeString("", out);
    case VT_BOOL:
        if (flags & VARIANT_ALPHABOOL) return MakeString(v.boolVal ? "True" : "False", out);
        return MakeString(v.boolVal ? "-1" : "0", out);
    case VT_R4: case VT_R8: case VT_DATE: {
        double d = v.vt == VT_R4 ? double(v.fltVal) : v.dblVal;
        std::snprintf(buf, sizeof buf, v.vt == VT_R4 ? "%.7G" : "%.15G", d);
        return MakeString(buf, out);
    }
    case VT_UI8:
        std::snprintf(buf, sizeof buf, "%llu", (unsigned long long)v.ullVal);
        return MakeString(buf, out);
    default: {
        Number n;
        HRESULT hr = ToNumber(v, n);
        if (FAILED(hr)) return hr;
        std::snprintf(buf, sizeof buf, "%lld", n.i);
        return MakeString(buf, out);
    }
    }
}

HRESULT Convert(const VARIANT &src, USHORT flags, VARTYPE vt, VARIANT &out) {
    std::memset(&out, 0, sizeof out);
    if (src.vt == vt) return VariantCopy(&out, &src);
    if (vt == VT_EMPTY) {
        out.vt = VT_EMPTY;
        return S_OK;
    }
    if (src.vt == VT_NULL) return vt == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
    if (vt == VT_NULL) return DISP_E_TYPEMISMATCH;
    if (vt == VT_BSTR) return ToText(src, flags, out);
    if (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;

    Number n;
    HRESULT hr = ToNumber(src, n);
    if (FAILED(hr)) return hr;
    long long i = 0;
    switch (vt) {
    case VT_BOOL:
        out.vt = VT_BOOL;
        if (n.kind == Kind::Real) out.boolVal = n.d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        else if (n.kind == Kind::UInt) out.boolVal = n.u != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        else out.boolVal = n.i != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE: {
        double d = n.kind == Kind::Real ? n.d : n.kind == Kind::UInt ? double(n.u) : double(n.i);
        out.vt = vt;
        if (vt == VT_R4) {
            if (std::fabs(d) > 3.402823466e38) return DISP_E_OVERFLOW;
            out.fltVal = float(d);
        } else
            out.dblVal = d;
        return S_OK;
    }
    case VT_I1: hr = ToInteger(n, -128, 127, i); if (SUCCEEDED(hr)) out.cVal = CHAR(i); break;
    case VT_UI1: hr = ToInteger(n, 0, 255, i); if (SUCCEEDED(hr)) out.bVal = BYTE(i); break;
    case VT_I2: hr = ToInteger(n, -32768, 32767, i); if (SUCCEEDED(hr)) out.iVal = SHORT(i); break;
    case VT_UI2: hr = ToInteger(n, 0, 65535, i); if (SUCCEEDED(hr)) out.uiVal = USHORT(i); break;
    case VT_I4: case VT_INT: case VT_ERROR:
        hr = ToInteger(n, INT32_MIN, INT32_MAX, i); if (SUCCEEDED(hr)) out.lVal = LONG(i); break;
    case VT_UI4: case VT_UINT:
        hr = ToInteger(n, 0, UINT32_MAX, i); if (SUCCEEDED(hr)) out.ulVal = ULONG(i); break;
    case VT_I8: hr = ToInteger(n, INT64_MIN, INT64_MAX, i); if (SUCCEEDED(hr)) out.llVal = i; break;
    case VT_UI8:
        if (n.kind == Kind::UInt) out.ullVal = n.u;
        else {
            hr = ToInteger(n, 0, INT64_MAX, i);
            if (SUCCEEDED(hr)) out.ullVal = (unsigned long long)i;
        }
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    if (SUCCEEDED(hr)) out.vt = vt;
    return hr;
}

} // namespace

void VariantInit(VARIANT *v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT *v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
        else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
    }
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANT *dest, const VARIANT *src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!(src->vt & VT_BYREF) && !IsSupported(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if (IsOwnedType(src->vt) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT *dest, const VARIANT *src) {
    if (!dest || !src) return E_INVALIDARG;
    VARIANT plain;
    HRESULT hr = Deref(src, plain);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = VariantCopy(&result, &plain);
    if (FAILED(hr)) return hr;
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT *dest, const VARIANT *src, USHORT flags, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    VARIANT plain;
    HRESULT hr = Deref(src, plain);
    if (FAILED(hr)) return hr;
    if (!IsSupported(plain.vt) || !IsSupported(vt)) return DISP_E_BADVARTYPE;
    VARIANT result;
    hr = Convert(plain, flags, vt, result);
    if (FAILED(hr)) return hr;
    VariantClear(dest); // after converting: dest may be src
    *dest = result;
    return S_OK;
}
