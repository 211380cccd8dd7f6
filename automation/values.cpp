#include "values.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "object.h"

namespace kvauto {
namespace {

std::string PathText(BSTR path) { return Quoted(path); }

bool IsNumber(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_DECIMAL: case VT_CY:
        return true;
    default:
        return false;
    }
}

const char *TypeName(VARTYPE vt) {
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: return "Empty";
    case VT_NULL: return "Null";
    case VT_BSTR: return "a String";
    case VT_BOOL: return "a Boolean";
    case VT_DATE: return "a Date";
    case VT_DISPATCH: case VT_UNKNOWN: return "an object";
    case VT_ERROR: return "an error value (a missing argument?)";
    default: return IsNumber(vt & VT_TYPEMASK) ? "a number" : "a value of another type";
    }
}

} // namespace

bool IsFieldName(BSTR name) {
    UINT n = SysStringLen(name);
    for (UINT i = 0; i < n; ++i)
        if (name[i] < 33 || name[i] > 126 || name[i] == L':') return false;
    return n > 0;
}

std::string Quoted(BSTR text) {
    std::string utf8 = orkv14::Utf8(text, SysStringLen(text)), out = "'";
    for (char c : utf8) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "'";
}

HRESULT ByValue(const VARIANT &argument, VARIANT *value) {
    VariantInit(value);
    return VariantCopyInd(value, const_cast<VARIANT *>(&argument));
}

HRESULT IndexArg(const VARIANT &index, size_t count, size_t *position, std::string &why) {
    Variant v;
    HRESULT hr = ByValue(index, v.get());
    if (SUCCEEDED(hr) && !IsNumber(v.get()->vt)) hr = DISP_E_TYPEMISMATCH;
    if (SUCCEEDED(hr)) hr = VariantChangeType(v.get(), v.get(), 0, VT_R8);
    if (FAILED(hr)) {
        why = std::string("The index must be a number from 1 to Count, not ") + TypeName(index.vt);
        return DISP_E_TYPEMISMATCH;
    }
    double n = std::floor((*v).dblVal + 0.5);
    if (n < 1 || n > double(count)) {
        why = "Index " + std::to_string(static_cast<long long>(n)) + " is out of range: the collection holds " +
              std::to_string(count) + (count == 1 ? " item" : " items");
        return DISP_E_BADINDEX;
    }
    *position = size_t(n) - 1;
    return S_OK;
}

HRESULT BytesArg(const VARIANT &data, std::string &bytes, std::string &why) {
    Variant v;
    HRESULT hr = ByValue(data, v.get());
    VARTYPE vt = SUCCEEDED(hr) ? (*v).vt : VARTYPE(VT_EMPTY);
    VARTYPE element = vt & VT_TYPEMASK;
    if (!(vt & VT_ARRAY) || (element != VT_UI1 && element != VT_I1 && element != VT_VARIANT)) {
        why = std::string("The data must be a Byte() array or an array of numbers from 0 to 255, not ") +
              ((vt & VT_ARRAY) ? "an array of another type" : TypeName(vt));
        return DISP_E_TYPEMISMATCH;
    }
    SAFEARRAY *array = (*v).parray;
    UINT dims = array ? SafeArrayGetDim(array) : 0;
    if (dims != 1) {
        why = "The data must be an array of one dimension, not of " + std::to_string(dims);
        return E_INVALIDARG;
    }
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    size_t n = high >= low ? size_t(high) - size_t(low) + 1 : 0;
    void *items = nullptr;
    if (FAILED(hr = SafeArrayAccessData(array, &items))) {
        why = "The data array cannot be read: " + SystemText(hr);
        return hr;
    }
    hr = S_OK;
    bytes.clear();
    if (element != VT_VARIANT) {
        bytes.assign(static_cast<const char *>(items), n);
    } else {
        bytes.reserve(n);
        const VARIANT *values = static_cast<const VARIANT *>(items);
        for (size_t i = 0; i < n && SUCCEEDED(hr); ++i) {
            Variant number;
            bool ok = IsNumber(values[i].vt) &&
                      SUCCEEDED(VariantChangeType(number.get(), const_cast<VARIANT *>(&values[i]), 0, VT_R8));
            double d = ok ? (*number).dblVal : -1;
            if (!ok || d < 0 || d > 255 || d != std::floor(d)) {
                why = "Element " + std::to_string(long(low) + long(i)) + " of the data is " +
                      (ok ? "not a whole number from 0 to 255" : TypeName(values[i].vt));
                hr = ok ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
            } else {
                bytes.push_back(char(static_cast<unsigned char>(d)));
            }
        }
    }
    SafeArrayUnaccessData(array);
    return hr;
}

HRESULT ByteArray(const std::string &bytes, VARIANT *out) {
    VariantInit(out);
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes.size()));
    if (!array) return E_OUTOFMEMORY;
    void *items = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &items))) {
        if (!bytes.empty()) memcpy(items, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
}

HRESULT EmptyStream(Ptr<IStream> &stream) { return CreateStreamOnHGlobal(nullptr, TRUE, stream.put()); }

HRESULT StreamOf(const std::string &bytes, Ptr<IStream> &stream) {
    HRESULT hr = EmptyStream(stream);
    ULONG written = 0;
    if (SUCCEEDED(hr) && !bytes.empty()) hr = stream->Write(bytes.data(), ULONG(bytes.size()), &written);
    if (SUCCEEDED(hr) && written != bytes.size()) hr = E_OUTOFMEMORY;
    LARGE_INTEGER zero{};
    if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return hr;
}

std::string BytesOf(IStream *stream) {
    std::string bytes;
    STATSTG stat{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) bytes.reserve(size_t(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    char buffer[65536];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(buffer, sizeof buffer, &got)) || got == 0) break;
        bytes.append(buffer, got);
    }
    return bytes;
}

std::string Encode(BSTR text, UINT codepage) {
    int length = int(SysStringLen(text));
    if (length == 0) return std::string();
    int n = WideCharToMultiByte(codepage, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codepage, 0, text, length, &bytes[0], n, nullptr, nullptr);
    return bytes;
}

BSTR Decode(const std::string &bytes, UINT codepage) {
    if (bytes.empty()) return SysAllocStringLen(L"", 0);
    int n = MultiByteToWideChar(codepage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0) return Latin1(bytes); // a code page this system lacks
    BSTR text = SysAllocStringLen(nullptr, UINT(n));
    if (text) MultiByteToWideChar(codepage, 0, bytes.data(), int(bytes.size()), text, n);
    return text;
}

BSTR Latin1(const std::string &bytes) {
    BSTR text = SysAllocStringLen(nullptr, UINT(bytes.size()));
    if (text)
        for (size_t i = 0; i < bytes.size(); ++i) text[i] = OLECHAR(static_cast<unsigned char>(bytes[i]));
    return text;
}

BSTR SafeFileName(BSTR name) {
    std::wstring n(name ? name : L"", SysStringLen(name));
    size_t cut = n.find_last_of(L"\\/:");
    if (cut != std::wstring::npos) n.erase(0, cut + 1);
    for (wchar_t &c : n)
        if (c < 32 || c == 127 || std::wcschr(L"<>\"|?*", c)) c = L'_';
    while (!n.empty() && (n.back() == L'.' || n.back() == L' ')) n.pop_back();
    while (!n.empty() && n.front() == L' ') n.erase(0, 1);
    if (n.size() > 200) n.erase(0, n.size() - 200); // the end keeps the extension
    if (n.empty()) n = L"attachment";
    // CON, NUL, COM1 ... name devices, with any extension.
    std::wstring stem = n.substr(0, n.find(L'.'));
    for (wchar_t &c : stem) c = wchar_t(towupper(c));
    static const wchar_t *const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    bool device = (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
                   stem[3] >= L'0' && stem[3] <= L'9');
    for (const wchar_t *d : devices) device = device || stem == d;
    if (device) n.insert(0, 1, L'_');
    return SysAllocStringLen(n.data(), UINT(n.size()));
}

HRESULT CheckReadable(BSTR path, std::string &why) {
    if (SysStringLen(path) == 0) {
        why = "No file name was given";
        return E_INVALIDARG;
    }
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        why = "The file " + PathText(path) + " cannot be read: " + SystemText(hr);
        return hr;
    }
    CloseHandle(file);
    return S_OK;
}

HRESULT WriteWholeFile(BSTR path, const std::string &bytes, bool overwrite, std::string &why) {
    if (SysStringLen(path) == 0) {
        why = "No file name was given";
        return E_INVALIDARG;
    }
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, overwrite ? CREATE_ALWAYS : CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        HRESULT hr = HRESULT_FROM_WIN32(error);
        why = error == ERROR_FILE_EXISTS ? "The file " + PathText(path) + " exists; pass Overwrite = True to replace it"
                                         : "The file " + PathText(path) + " cannot be created: " + SystemText(hr);
        return hr;
    }
    size_t done = 0;
    HRESULT hr = S_OK;
    while (done < bytes.size()) {
        DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 24)), wrote = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
            hr = HRESULT_FROM_WIN32(GetLastError());
            break;
        }
        done += wrote;
    }
    CloseHandle(file);
    if (FAILED(hr)) {
        DeleteFileW(path);
        why = "The file " + PathText(path) + " cannot be written: " + SystemText(hr);
    }
    return hr;
}

} // namespace kvauto
