// Header text. Input: one byte (bits 0-1 the surface), then the text.
//   0 RFC 2047 encoded words and Q text, as 8-bit text in two code pages and wide;
//   1 RFC 2231 parameter values and percent escapes (bit 2: extended, bit 3: code page 1252);
//   2, 3 the address tokenizer with its queries, and the header encoders over the same text.
#include "fuzz_util.h"
#include "mime/address_field.h"
#include "mime/header_words.h"
#include "runtime/except.h"

namespace {

void Address(const std::string &text) {
    kv::clsParseList items = kv::ParseAddressField(text);
    kv::GetFieldText(items);
    std::string address = kv::GetFieldAddress(items);
    kv::GetFieldAddress(items, true);
    kv::GetFieldDisplayName(items);
    fuzz::Check(kv::HasFieldAddress(items) || address.empty());
    for (const auto &item : items) fuzz::Check(!item.text.empty());

    kv::WString wide = kv::Widen(text, 1252);
    try {
        kv::EncodeAddressField(wide, "utf-8");
        fuzz::Check(kv::HasFieldAddress(kv::ParseAddressField(kv::Narrow(wide, 0))));
    } catch (const kv::clsExcept &e) {
        fuzz::Check(e.Messages().back().rfind("no address found in '", 0) == 0);
    }
    kv::EncodeHeaderText(wide, "iso-8859-1");
    kv::EncodeHeaderWord(wide, "utf-8");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    std::string text = fuzz::Text(data + 1, size - 1);
    uint32_t codepage = (data[0] & 8) ? 1252 : 0;
    switch (data[0] & 3) {
    case 0:
        kv::DecodeEncodedWords(text, 0);
        kv::DecodeEncodedWords(text, 1252);
        kv::DecodeEncodedWords(kv::Widen(text, 1252));
        fuzz::Check(kv::DecodeQText(text).size() <= text.size());
        break;
    case 1:
        kv::DecodeParameterValue(text, (data[0] & 4) != 0, codepage);
        kv::DecodePercentText(text, codepage);
        break;
    default: Address(text); break;
    }
    return 0;
}
