#include "host.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kvmail {

std::u16string Wide(const std::string &s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        unsigned cp;
        int extra;
        if (c < 0x80) cp = c, extra = 0;
        else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, extra = 1;
        else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, extra = 2;
        else if ((c & 0xF8) == 0xF0) cp = c & 0x07, extra = 3;
        else cp = 0xFFFD, extra = 0;
        if (i + size_t(extra) >= s.size() + (extra ? 0 : 1)) {
            out.push_back(u'\uFFFD');
            break;
        }
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | ((unsigned char)s[i + size_t(k)] & 0x3F);
        i += size_t(extra) + 1;
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

std::string Utf8(const OLECHAR *s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; ++i) {
        unsigned c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) r.push_back(char(c));
        else if (c < 0x800) r += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000) r += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        else
            r += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                  char(0x80 | (c & 0x3F))};
    }
    return r;
}

std::string Utf8(const OLECHAR *s) {
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return Utf8(s, n);
}

Bstr::Bstr(const std::string &utf8) {
    std::u16string w = Wide(utf8);
    b_ = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(w.data()), UINT(w.size()));
}

std::string Bstr::Utf8() const { return b_ ? kvmail::Utf8(b_, SysStringLen(b_)) : std::string(); }

bool ReadFile(const std::string &path, std::string &bytes, std::string &error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot open '" + path + "'";
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    bytes = s.str();
    return true;
}

bool WriteFile(const std::string &path, const std::string &bytes, std::string &error) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(bytes.data(), std::streamsize(bytes.size()))) {
        error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

bool StreamFromFile(const std::string &path, Ptr<IStream> &out, std::string &error) {
    std::string bytes;
    if (!ReadFile(path, bytes, error)) return false;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, out.put()))) {
        error = "no memory for a stream";
        return false;
    }
    ULONG written = 0;
    if (FAILED(out->Write(bytes.data(), ULONG(bytes.size()), &written)) || written != bytes.size()) {
        error = "cannot fill a stream with '" + path + "'";
        return false;
    }
    LARGE_INTEGER zero{};
    out->Seek(zero, STREAM_SEEK_SET, nullptr);
    return true;
}

std::string StreamBytes(IStream *stream) {
    std::string bytes;
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

std::string ErrorRecord(IKvMailConnection2 *connection) {
    LONG code = 0;
    Bstr text;
    connection->GetErrorInformation(&code, text.put());
    std::string lines = text.Utf8();
    while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r')) lines.pop_back();
    for (size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.replace(at, 2, "\n  ");
    return "error " + std::to_string(code) + ": " + lines;
}

std::vector<std::string> Strings(IEnumString *e) {
    std::vector<std::string> out;
    if (!e) return out;
    LPOLESTR item = nullptr;
    ULONG fetched = 0;
    while (e->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        out.push_back(Utf8(item));
        CoTaskMemFree(item);
    }
    return out;
}

} // namespace kvmail
