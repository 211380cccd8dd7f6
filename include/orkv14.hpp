/*
 * What every C++ host of orkv14 needs beside the interfaces: owners for
 * interface pointers, BSTRs and VARIANTs, UTF-8 <-> UTF-16 conversion, memory
 * streams for contents and the connection's error record as text.
 * Header only; it uses nothing but orkv14.h and the standard library.
 */
#ifndef ORKV14_HPP
#define ORKV14_HPP

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "orkv14.h"

namespace orkv14 {

// An owning interface pointer: releases at scope end, never copies.
template <class T> class Ptr {
  public:
    Ptr() = default;
    // Takes over a reference the caller already holds.
    explicit Ptr(T *owned) : p_(owned) {}
    Ptr(Ptr &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ptr &operator=(Ptr &&other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Ptr(const Ptr &) = delete;
    Ptr &operator=(const Ptr &) = delete;
    ~Ptr() { reset(); }

    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held first.
    T **put() {
        reset();
        return &p_;
    }
    void **put_void() { return reinterpret_cast<void **>(put()); }
    T *release() { return std::exchange(p_, nullptr); }
    // Another interface of the same object; empty when it has none.
    template <class U> Ptr<U> As() const {
        Ptr<U> other;
        if (p_) p_->QueryInterface(kv_uuidof<U>(), other.put_void());
        return other;
    }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

  private:
    T *p_ = nullptr;
};

// UTF-8 as UTF-16; a malformed sequence becomes U+FFFD.
inline std::u16string Wide(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        unsigned cp, min;
        size_t extra;
        if (c < 0x80) cp = c, extra = 0, min = 0;
        else if ((c & 0xE0) == 0xC0) cp = c & 0x1Fu, extra = 1, min = 0x80;
        else if ((c & 0xF0) == 0xE0) cp = c & 0x0Fu, extra = 2, min = 0x800;
        else if ((c & 0xF8) == 0xF0) cp = c & 0x07u, extra = 3, min = 0x10000;
        else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= extra && i + k < utf8.size() && ((unsigned char)utf8[i + k] & 0xC0) == 0x80; ++k)
            cp = (cp << 6) | ((unsigned char)utf8[i + k] & 0x3Fu);
        if (k <= extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            i += k;
            continue;
        }
        i += k;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
inline std::string Utf8(const OLECHAR *text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        unsigned c = (unsigned)(char16_t)text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && (char16_t)text[i + 1] >= 0xDC00 &&
            (char16_t)text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((unsigned)(char16_t)text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            out += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                    char(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

inline std::string Utf8(const OLECHAR *text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return Utf8(text, n);
}

// An owned BSTR; null when there was no memory for it.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8) : Bstr(std::u16string_view(Wide(utf8))) {}
    explicit Bstr(std::u16string_view text)
        : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()))) {}
    Bstr(Bstr &&other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    Bstr &operator=(Bstr &&other) noexcept {
        if (this != &other) {
            SysFreeString(b_);
            b_ = std::exchange(other.b_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(b_); }

    BSTR get() const { return b_; }
    // For out-parameters: frees what is held first.
    BSTR *put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR release() { return std::exchange(b_, nullptr); }
    size_t size() const { return b_ ? SysStringLen(b_) : 0; }
    std::u16string_view View() const { return {reinterpret_cast<const char16_t *>(b_), size()}; }
    std::string Utf8() const { return b_ ? orkv14::Utf8(b_, SysStringLen(b_)) : std::string(); }

  private:
    BSTR b_ = nullptr;
};

// An owned VARIANT, cleared at scope end.
class Variant {
  public:
    Variant() { VariantInit(&v_); }
    explicit Variant(std::string_view utf8) : Variant() {
        v_.vt = VT_BSTR;
        v_.bstrVal = Bstr(utf8).release();
    }
    explicit Variant(LONG value) : Variant() {
        v_.vt = VT_I4;
        v_.lVal = value;
    }
    // Only a bool itself: a pointer or an int must not turn into VT_BOOL.
    template <class B, std::enable_if_t<std::is_same_v<B, bool>, int> = 0> explicit Variant(B value) : Variant() {
        v_.vt = VT_BOOL;
        v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    ~Variant() { VariantClear(&v_); }

    VARIANT *get() { return &v_; }
    const VARIANT &operator*() const { return v_; }
    // For out-parameters: clears what is held first.
    VARIANT *put() {
        VariantClear(&v_);
        return &v_;
    }

  private:
    VARIANT v_;
};

// A memory stream holding bytes, at position 0 (contents of bodies and
// attachments); empty when there is no memory.
inline Ptr<IStream> MemoryStream(std::string_view bytes) {
    Ptr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return stream;
    ULONG written = 0;
    LARGE_INTEGER zero{};
    if (bytes.empty()) return stream;
    if (bytes.size() > 0xFFFFFFFFu || FAILED(stream->Write(bytes.data(), ULONG(bytes.size()), &written)) ||
        written != bytes.size() || FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
        stream.reset();
    return stream;
}

// Everything a stream holds, from its start.
inline std::string ReadAll(IStream *stream) {
    std::string bytes;
    LARGE_INTEGER zero{};
    if (!stream || FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return bytes;
    char buffer[16384];
    for (ULONG got = 0; SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got > 0;) bytes.append(buffer, got);
    return bytes;
}

// A connection's error record: its code and its lines, each ended by CR LF.
struct Error {
    LONG code = 0;
    std::string text;
};

inline Error LastError(IKvMailConnection *connection) {
    Error e;
    Bstr text;
    if (connection && SUCCEEDED(connection->GetErrorInformation(&e.code, text.put()))) e.text = text.Utf8();
    return e;
}

} // namespace orkv14

#endif
