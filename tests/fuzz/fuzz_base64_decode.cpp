// Base64 decoding: lines, strings, the unpadded buffer form, and the stream
// step fed in pieces (which must agree with the line decoder).
#include <vector>

#include "fuzz_util.h"
#include "mime/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = data[0] % 16 + 1;
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    fuzz::MemoryStream out;
    kv::clsLineList lines = fuzz::SplitLines(text);
    kv::DecodeBase64Lines(lines, out.Target());

    kv::codec::Base64Decoder state;
    std::string stepped;
    std::vector<uint8_t> buf(kv::codec::Base64DecodeMaxLength(piece));
    for (size_t pos = 0; pos < text.size(); pos += piece) {
        size_t n = std::min(piece, text.size() - pos);
        size_t written = kv::codec::Base64DecodeStep(state, text.data() + pos, n, buf.data());
        fuzz::Check(written <= kv::codec::Base64DecodeMaxLength(n));
        stepped.append(reinterpret_cast<char *>(buf.data()), written);
    }
    stepped.append(reinterpret_cast<char *>(buf.data()), kv::codec::Base64DecodeEnd(state, buf.data()));
    fuzz::Check(stepped == out.Contents());

    std::string decoded = kv::DecodeBase64(text);
    fuzz::Check(decoded.find('\0') == std::string::npos);

    size_t need = kv::DecodeBase64Unpadded(text, nullptr);
    std::vector<uint8_t> exact(need); // exactly the size asked for, so ASan sees any overrun
    fuzz::Check(kv::DecodeBase64Unpadded(text, exact.data()) <= need);
    return 0;
}
