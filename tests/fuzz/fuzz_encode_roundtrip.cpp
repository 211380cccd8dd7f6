// The body encoders: whatever they write decodes back to the input, and
// quoted-printable lines stay within 76 characters.
#include <algorithm>
#include <vector>

#include "fuzz_util.h"
#include "mime/base64.h"
#include "mime/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string body(reinterpret_cast<const char *>(data), size);
    {
        std::vector<char> whole(kv::codec::QpEncodeMaxLength(size));
        kv::codec::QpEncoder once;
        size_t taken = 0;
        std::string text(whole.data(), kv::codec::QpEncodeStep(once, data, size, true, whole.data(), &taken));
        for (const auto &line : fuzz::SplitLines(text)) {
            fuzz::Check(line.size() <= 76);
            fuzz::Check(line.empty() || (line.back() != ' ' && line.back() != '\t'));
        }
        fuzz::MemoryStream decoded;
        kv::DecodeQuotedPrintableLines(kv::clsLineText{text}, decoded.Target());
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
        std::vector<char> encoded(kv::codec::Base64LinesMaxLength(size));
        std::string text(encoded.data(), kv::codec::Base64EncodeLines(data, size, encoded.data()));
        fuzz::MemoryStream decoded;
        kv::DecodeBase64Lines(kv::clsLineText{text}, decoded.Target());
        fuzz::Check(decoded.Contents() == body);
    }
    return 0;
}
