// Base64 decoding: the body decoder, strings, and the stream step fed in
// pieces (which must agree with the body decoder).
#include <vector>

#include "fuzz_util.h"
#include "mime/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = data[0] % 16 + 1;
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    fuzz::MemoryStream out;
    kv::DecodeBase64Lines(kv::clsLineText{text}, out.Target());

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
    return 0;
}
