// Small helpers for COM code: owners of an interface pointer and of a BSTR,
// BSTR conversion, and the identifier's registry form.
#pragma once

#include <type_traits>
#include <utility>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

// Owning interface pointer; releases at scope end.
template <class T> class clsAutoRelease {
  public:
    clsAutoRelease() = default;
    explicit clsAutoRelease(T *p, bool addRef = false) : p_(p) {
        if (p_ && addRef) p_->AddRef();
    }
    clsAutoRelease(const clsAutoRelease &o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    clsAutoRelease(clsAutoRelease &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    clsAutoRelease &operator=(clsAutoRelease o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~clsAutoRelease() {
        if (p_) p_->Release();
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    T &operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T **put() {
        reset();
        return &p_;
    }
    void reset(T *p = nullptr, bool addRef = false) {
        if (p && addRef) p->AddRef();
        if (p_) p_->Release();
        p_ = p;
    }
    T *detach() { return std::exchange(p_, nullptr); }

  private:
    T *p_ = nullptr;
};

// An owned BSTR, freed at scope end.
class clsBstr {
  public:
    clsBstr() = default;
    // Null when there is no memory.
    explicit clsBstr(std::u16string_view text)
        : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()))) {}
    // 8-bit text converted with the code page (0: ANSI).
    clsBstr(std::string_view text, uint32_t codepage) : clsBstr(std::u16string_view(Widen(text, codepage))) {}
    clsBstr(clsBstr &&o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    clsBstr &operator=(clsBstr o) noexcept {
        std::swap(b_, o.b_);
        return *this;
    }
    ~clsBstr() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    // For out-parameters: frees what is held first.
    BSTR *put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR release() { return std::exchange(b_, nullptr); }
    std::u16string_view View() const {
        return b_ ? std::u16string_view(reinterpret_cast<const char16_t *>(b_), SysStringLen(b_)) : std::u16string_view();
    }

  private:
    BSTR b_ = nullptr;
};

// Interface text is OLECHAR: a 16-bit wchar_t with the Windows SDK, char16_t elsewhere.
template <class C, class = std::enable_if_t<!std::is_same_v<C, char16_t> && sizeof(C) == sizeof(char16_t)>>
inline std::u16string_view WideView(const C *text) {
    return WideView(reinterpret_cast<const char16_t *>(text));
}

// Writes text into the caller's BSTR with SysReAllocStringLen (the old string
// is freed). E_INVALIDARG for a null target, E_OUTOFMEMORY when allocation fails.
HRESULT AssignBstr(BSTR *target, std::u16string_view text);
// 8-bit text converted with the code page (0 = ANSI).
HRESULT AssignBstr(BSTR *target, std::string_view text, uint32_t codepage);

// The whole stream from its start, its position back at the start afterwards;
// false when seeking or reading fails (what was read stays in `out`).
bool ReadStreamBytes(IStream *stream, String &out);
// The same where a failure may simply end the bytes; a null stream gives "".
String StreamBytes(IStream *stream);
// The stream's size; 0 for a null stream or one that cannot tell.
uint64_t StreamSize(IStream *stream);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
String GuidToRegistryForm(const GUID &guid);

} // namespace kv
