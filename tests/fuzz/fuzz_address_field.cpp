// The address tokenizer with its queries, and the header encoders over the
// same text.
#include "fuzz_util.h"
#include "mime/address_field.h"
#include "mime/header_words.h"
#include "runtime/except.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    kv::clsParseList items = kv::ParseAddressField(text);
    std::string all = kv::GetFieldText(items);
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
    return 0;
}
