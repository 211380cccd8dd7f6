// The body codecs. Input: one byte (bits 0-1 the codec, bits 2-5 the piece size 1 to 16), then the text.
//   0 quoted-printable, 1 Base64 decoding: the stream step fed in pieces agrees with the line decoder;
//   2 "UTF-8" decoding: fails only with its own texts, writing nothing then;
//   3 the encoders: the text decodes back, quoted-printable lines stay within 76 characters and its
//     step fed in pieces agrees.
#include <algorithm>
#include <vector>

#include "fuzz_util.h"
#include "mime/base64.h"
#include "mime/quoted_printable.h"
#include "runtime/except.h"

namespace {

template <class State, class Step, class End>
std::string Stepped(const std::string &text, size_t piece, size_t maxLength, Step step, End end) {
    State state;
    std::string out;
    std::vector<uint8_t> buf(maxLength);
    for (size_t pos = 0; pos < text.size(); pos += piece) {
        size_t written = step(state, text.data() + pos, std::min(piece, text.size() - pos), buf.data());
        fuzz::Check(written <= maxLength);
        out.append(reinterpret_cast<char *>(buf.data()), written);
    }
    return out.append(reinterpret_cast<char *>(buf.data()), end(state, buf.data()));
}

void Decode(bool qp, const std::string &text, size_t piece) {
    fuzz::MemoryStream out;
    if (qp) {
        kv::DecodeQuotedPrintableLines(kv::clsLineText{fuzz::Joined(fuzz::SplitLines(text)), true}, out.Target());
        fuzz::Check(Stepped<kv::codec::QpDecoder>(text, piece, kv::codec::QpDecodeMaxLength(piece),
                                                  kv::codec::QpDecodeStep, kv::codec::QpDecodeEnd) == out.Contents());
    } else {
        kv::DecodeBase64Lines(kv::clsLineText{text}, out.Target());
        fuzz::Check(Stepped<kv::codec::Base64Decoder>(text, piece, kv::codec::Base64DecodeMaxLength(piece),
                                                      kv::codec::Base64DecodeStep,
                                                      kv::codec::Base64DecodeEnd) == out.Contents());
        fuzz::Check(kv::DecodeBase64(text).find('\0') == std::string::npos);
    }
}

void DecodeUtf8(const std::string &text) {
    fuzz::MemoryStream out;
    try {
        kv::DecodeUtf8Lines(kv::clsLineText{text}, out.Target());
    } catch (const kv::clsExcept &e) {
        const std::string &m = e.Messages().back();
        if (m == "UCS-4 not supported!") return;
        fuzz::Check(m == "invalid UTF-8 sequence found!" || m == "invalid UTF-8 encoding!");
        fuzz::Check(out.Contents().empty());
    }
}

void Encode(const std::string &body, size_t piece) {
    const auto *data = reinterpret_cast<const uint8_t *>(body.data());
    std::vector<char> whole(kv::codec::QpEncodeMaxLength(body.size()));
    kv::codec::QpEncoder once;
    size_t taken = 0;
    std::string text(whole.data(), kv::codec::QpEncodeStep(once, data, body.size(), true, whole.data(), &taken));
    for (const auto &line : fuzz::SplitLines(text))
        fuzz::Check(line.size() <= 76 && (line.empty() || (line.back() != ' ' && line.back() != '\t')));
    fuzz::MemoryStream decoded;
    kv::DecodeQuotedPrintableLines(kv::clsLineText{text}, decoded.Target());
    std::string expected = body;
    if (!expected.empty() && (expected.size() < 2 || expected.compare(expected.size() - 2, 2, "\r\n") != 0))
        expected += "\r\n";
    fuzz::Check(decoded.Contents() == expected);

    // The step fed in pieces, carrying what it keeps back.
    kv::codec::QpEncoder state;
    std::string stepped, carry;
    for (size_t pos = 0;;) {
        std::string chunk = carry + body.substr(pos, piece);
        pos += std::min(piece, body.size() - pos);
        bool final = pos == body.size();
        std::vector<char> buf(kv::codec::QpEncodeMaxLength(chunk.size()));
        size_t consumed = 0;
        stepped.append(buf.data(), kv::codec::QpEncodeStep(state, reinterpret_cast<const uint8_t *>(chunk.data()),
                                                           chunk.size(), final, buf.data(), &consumed));
        carry = chunk.substr(consumed);
        fuzz::Check(carry.size() <= 2);
        if (final) break;
    }
    fuzz::Check(stepped == text);

    std::vector<char> encoded(kv::codec::Base64LinesMaxLength(body.size()));
    fuzz::MemoryStream base64;
    kv::DecodeBase64Lines(
        kv::clsLineText{std::string(encoded.data(), kv::codec::Base64EncodeLines(data, body.size(), encoded.data()))},
        base64.Target());
    fuzz::Check(base64.Contents() == body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = (data[0] >> 2) % 16 + 1;
    std::string text = fuzz::Text(data + 1, size - 1);
    switch (data[0] & 3) {
    case 0: Decode(true, text, piece); break;
    case 1: Decode(false, text, piece); break;
    case 2: DecodeUtf8(text); break;
    default: Encode(text, piece); break;
    }
    return 0;
}
