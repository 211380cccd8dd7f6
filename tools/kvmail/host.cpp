#include "host.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kvmail {

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
