// The "UTF-8" transfer decoding: fails only with its own texts, and writes
// nothing when the first pass rejects the input.
#include "fuzz_util.h"
#include "runtime/except.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    fuzz::MemoryStream out;
    try {
        kv::DecodeUtf8Lines(kv::clsLineText{text}, out.Target());
    } catch (const kv::clsExcept &e) {
        const std::string &m = e.Messages().back();
        if (m == "UCS-4 not supported!") return 0;
        fuzz::Check(m == "invalid UTF-8 sequence found!" || m == "invalid UTF-8 encoding!");
        fuzz::Check(out.Contents().empty());
    }
    return 0;
}
