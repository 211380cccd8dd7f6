// The body encoders: whatever they write decodes back to the input, and
// quoted-printable lines stay within 76 characters.
#include <algorithm>
#include <vector>

#include "fuzz_util.h"
#include "mime/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string body(reinterpret_cast<const char *>(data), size);
    {
        fuzz::MemoryStream src, encoded;
        ULONG n = 0;
        src.stream->Write(body.data(), ULONG(body.size()), &n);
        LARGE_INTEGER zero{};
        src.stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        kv::EncodeQuotedPrintableBody(kv::clsBodySource(kv::pal::kInvalidFile, src.stream), encoded.Target());
        std::string text = encoded.Contents();
        kv::clsLineList lines = fuzz::SplitLines(text);
        for (const auto &line : lines) {
            fuzz::Check(line.size() <= 76);
            fuzz::Check(line.empty() || (line.back() != ' ' && line.back() != '\t'));
        }
        fuzz::MemoryStream decoded;
        kv::DecodeQuotedPrintableLines(lines, decoded.Target());
        std::string expected = body;
        if (!expected.empty() && (expected.size() < 2 || expected.compare(expected.size() - 2, 2, "\r\n") != 0))
            expected += "\r\n";
        fuzz::Check(decoded.Contents() == expected);

        // The step function fed in pieces, carrying what it keeps back.
        size_t piece = size % 13 + 1;
        kv::codec::QpEncoder state;
        std::string stepped, carry;
        for (size_t pos = 0;;) {
            std::string chunk = carry + body.substr(pos, piece);
            pos += std::min(piece, body.size() - pos);
            bool final = pos == body.size();
            std::vector<char> buf(kv::codec::QpEncodeMaxLength(chunk.size()));
            size_t consumed = 0;
            size_t n = kv::codec::QpEncodeStep(state, reinterpret_cast<const uint8_t *>(chunk.data()), chunk.size(),
                                               final, buf.data(), &consumed);
            fuzz::Check(n <= buf.size());
            stepped.append(buf.data(), n);
            carry = chunk.substr(consumed);
            fuzz::Check(carry.size() <= 2);
            if (final) break;
        }
        fuzz::Check(stepped == text);
    }
    {
        fuzz::MemoryStream src, encoded;
        ULONG n = 0;
        src.stream->Write(body.data(), ULONG(body.size()), &n);
        LARGE_INTEGER zero{};
        src.stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        kv::EncodeBase64Body(kv::clsBodySource(kv::pal::kInvalidFile, src.stream), encoded.Target());
        kv::clsLineList lines = fuzz::SplitLines(encoded.Contents());
        fuzz::MemoryStream decoded;
        kv::DecodeBase64Lines(lines, decoded.Target());
        fuzz::Check(decoded.Contents() == body);
    }
    return 0;
}
