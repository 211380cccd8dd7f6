// RFC 2047 encoded words and Q text, as 8-bit text in two code pages and as
// wide text.
#include "fuzz_util.h"
#include "mime/header_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    kv::DecodeEncodedWords(text, 0);
    kv::DecodeEncodedWords(text, 1252);
    kv::DecodeEncodedWords(kv::Widen(text, 1252));
    fuzz::Check(kv::DecodeQText(text).size() <= text.size());
    return 0;
}
