// RFC 2231 parameter values and percent escapes.
#include "fuzz_util.h"
#include "mime/header_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    bool extended = data[0] & 1;
    uint32_t codepage = (data[0] & 2) ? 1252 : 0;
    std::string value(reinterpret_cast<const char *>(data) + 1, size - 1);
    kv::DecodeParameterValue(value, extended, codepage);
    kv::DecodePercentText(value, codepage);
    return 0;
}
