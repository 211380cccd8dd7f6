// Quoted-printable decoding: the line decoder and the stream step fed in
// pieces must agree.
#include <vector>

#include "fuzz_util.h"
#include "mime/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = data[0] % 16 + 1;
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    fuzz::MemoryStream out;
    kv::DecodeQuotedPrintableLines(kv::clsLineText{fuzz::Joined(fuzz::SplitLines(text)), true}, out.Target());

    kv::codec::QpDecoder state;
    std::string stepped;
    std::vector<uint8_t> buf(kv::codec::QpDecodeMaxLength(piece));
    for (size_t pos = 0; pos < text.size(); pos += piece) {
        size_t n = std::min(piece, text.size() - pos);
        size_t written = kv::codec::QpDecodeStep(state, text.data() + pos, n, buf.data());
        fuzz::Check(written <= kv::codec::QpDecodeMaxLength(n));
        stepped.append(reinterpret_cast<char *>(buf.data()), written);
    }
    stepped.append(reinterpret_cast<char *>(buf.data()), kv::codec::QpDecodeEnd(state, buf.data()));
    fuzz::Check(stepped == out.Contents());
    return 0;
}
