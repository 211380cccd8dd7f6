// Output targets and body sources, and the "UTF-8" transfer decoding.
#include <algorithm>
#include <cstring>
#include <vector>

#include "mime/body_io.h"
#include "runtime/except.h"

namespace kv {

void clsOutputTarget::Write(const void *data, size_t size) const {
    if (size == 0) return;
    if (window_ && window_->IsOpen()) {
        if (uint8_t *room = window_->Room(size)) {
            std::memcpy(room, data, size);
            window_->AddUsed(size);
            return;
        }
        window_->Close();
    }
    if (file_ != pal::kInvalidFile && !pal::FileWrite(file_, data, size))
        throw clsExcept(kErrGeneral, "cannot write to the output file");
    if (stream_) {
        const char *p = static_cast<const char *>(data);
        while (size > 0) {
            ULONG chunk = ULONG(std::min<size_t>(size, 0x40000000));
            ULONG written = 0;
            HRESULT hr = stream_->Write(p, chunk, &written);
            if (FAILED(hr) || written != chunk) throw clsExcept(kErrGeneral, "cannot write to the output stream");
            p += chunk;
            size -= chunk;
        }
    }
}

size_t clsBodySource::Read(void *buffer, size_t size) const {
    char *p = static_cast<char *>(buffer);
    size_t total = 0;
    while (total < size) {
        size_t got = 0;
        if (file_ != pal::kInvalidFile) {
            int64_t n = pal::FileRead(file_, p + total, size - total);
            if (n < 0) throw clsExcept(kErrGeneral, "cannot read the body file");
            got = size_t(n);
        } else if (stream_) {
            ULONG chunk = ULONG(std::min<size_t>(size - total, 0x40000000));
            ULONG n = 0;
            HRESULT hr = stream_->Read(p + total, chunk, &n);
            if (FAILED(hr)) throw clsExcept(kErrGeneral, "cannot read the body stream");
            got = std::min<size_t>(n, chunk);
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

namespace {

// One character of a line: its value and how many bytes it took; throws for
// what the first pass rejects.
uint32_t ReadUtf8(std::string_view line, size_t &i) {
    static const uint32_t kLargestShorter[] = {0, 0, 0x7F, 0x7FF, 0xFFFF, 0x1FFFFF, 0x3FFFFFF};
    uint8_t lead = uint8_t(line[i++]);
    int ones = 0;
    while (ones < 8 && (lead & (0x80 >> ones))) ++ones;
    if (ones == 0) return lead;
    if (ones == 1) throw clsExcept(kErrGeneral, "invalid UTF-8 sequence found!");
    if (ones >= 7) throw clsExcept(kErrGeneral, "invalid UTF-8 encoding!");
    uint32_t value = lead & (0x7Fu >> ones);
    for (int k = 1; k < ones; ++k) {
        if (i >= line.size() || (uint8_t(line[i]) & 0xC0) != 0x80)
            throw clsExcept(kErrGeneral, "invalid UTF-8 sequence found!");
        value = value << 6 | (uint8_t(line[i++]) & 0x3F);
    }
    if (value <= kLargestShorter[ones]) throw clsExcept(kErrGeneral, "invalid UTF-8 encoding!");
    return value;
}

// The low byte of each character of a checked line; what came before a
// character beyond 16 bits is written out before the failure.
void AppendLatin1(std::string_view line, std::vector<char> &out, const clsOutputTarget &target) {
    for (size_t i = 0; i < line.size();) {
        uint32_t value = ReadUtf8(line, i);
        if (value > 0xFFFF) {
            target.Write(out.data(), out.size());
            throw clsExcept(kErrGeneral, "UCS-4 not supported!");
        }
        out.push_back(char(value & 0xFF));
    }
}

} // namespace

void DecodeUtf8Lines(clsLineText lines, const clsOutputTarget &target) {
    {
        clsLineCursor check(lines);
        for (std::string_view line; check.Next(line);)
            for (size_t i = 0; i < line.size();) ReadUtf8(line, i);
    }
    constexpr size_t kFlushAt = 64 * 1024;
    std::vector<char> out;
    out.reserve(kFlushAt + 1024);
    clsLineCursor cursor(lines);
    for (std::string_view line; cursor.Next(line);) {
        AppendLatin1(line, out, target);
        if (out.size() >= kFlushAt) {
            target.Write(out.data(), out.size());
            out.clear();
        }
    }
    target.Write(out.data(), out.size());
}

void WriteLinesCrLf(clsLineText lines, const clsOutputTarget &target) {
    ForEachCrLfRun(lines, [&](const char *data, size_t size) { target.Write(data, size); });
}

} // namespace kv
