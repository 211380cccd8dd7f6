// Small helpers for COM code: an owning interface pointer, the BSTR owner,
// BSTR conversion, and the identifier's registry form.
#pragma once

#include <type_traits>
#include <utility>

#include "orkv14.hpp"
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

// The one BSTR owner is the hosts' own.
using clsBstr = orkv14::Bstr;

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
