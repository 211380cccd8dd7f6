// What kvmail needs to talk to the component as any host would: owning
// interface pointers, text conversions and streams. Public header only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orkv14.h"

namespace kvmail {

template <class T> class Ptr {
  public:
    Ptr() = default;
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
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

  private:
    T *p_ = nullptr;
};

// An owned BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const std::string &utf8);
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR get() const { return b_; }
    BSTR *put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::string Utf8() const;

  private:
    BSTR b_ = nullptr;
};

std::u16string Wide(const std::string &utf8);
std::string Utf8(const OLECHAR *text, size_t length);
std::string Utf8(const OLECHAR *text);

// Streams.
bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error);
std::string StreamBytes(IStream *stream);
bool WriteFile(const std::string &path, const std::string &bytes, std::string &error);
bool ReadFile(const std::string &path, std::string &bytes, std::string &error);

// The connection's error record as "code: text", lines joined.
std::string ErrorRecord(IKvMailConnection2 *connection);
// Every string an IEnumString holds.
std::vector<std::string> Strings(IEnumString *e);

} // namespace kvmail
