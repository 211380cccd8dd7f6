#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "orkv14.h"
#include "providers/smtp/smtp_connection.h"

namespace testsupport {

// A mail's text for the SMTP transfer, from a string.
class StringText : public kv::clsMailText {
  public:
    explicit StringText(std::string text) : text_(std::move(text)) {}
    uint64_t Size() override { return text_.size(); }
    size_t Read(void *buffer, size_t size) override {
        size_t n = std::min(size, text_.size() - at_);
        std::memcpy(buffer, text_.data() + at_, n);
        at_ += n;
        return n;
    }

  private:
    std::string text_;
    size_t at_ = 0;
};

// A new memory stream holding the bytes (one reference for the caller).
inline IStream *StreamOf(const std::string &bytes) {
    IStream *s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    ULONG written = 0;
    s->Write(bytes.data(), ULONG(bytes.size()), &written);
    return s;
}

// Everything a stream holds, from its start.
inline std::string BytesOf(IStream *s) {
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string out;
    char buf[4096];
    ULONG got = 0;
    while (SUCCEEDED(s->Read(buf, sizeof buf, &got)) && got) out.append(buf, got);
    return out;
}

} // namespace testsupport
