#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "pal/com.h"
#include "runtime/kvstring.h"

using kv::Format;

namespace {

TEST(KvFormat, Conversions) {
    const char16_t *none = nullptr;
    const char *noneA = nullptr;
    const struct {
        kv::String got;
        std::string want;
    } rows[] = {
        {Format("[%ws]", u"abc"), "[abc]"},
        {Format("[%ws]", none), "[(NULL)]"},
        {Format("[%S]", u"abc"), "[abc]"},
        {Format("[%ws]", u"Gr\u00fc\u00dfe \U0001F600"), "[Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80]"},
        {Format("[%hs]", noneA), "[(null)]"},
        {Format("[%s]", noneA), "[(null)]"},
        {Format("%ws=%hs=%d", u"k", "v", 3), "k=v=3"},
        {Format("[%05d]", -42), "[-0042]"},
        {Format("[%#x|%X|%c|%-3s|%.7G]", 255, 255, 'z', "ab", 2.25), "[0xff|FF|z|ab |2.25]"},
        // "l" is the LONG of the COM types: 32 bits, as on Windows.
        {Format("(%#08lx)", HRESULT(E_FAIL)), "(0x80004005)"},
        {Format("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615"},
        {Format("%zu", SIZE_MAX), std::to_string(SIZE_MAX)},
        // Longer than the formatting buffer.
        {Format("<%s>", std::string(600, 'a').c_str()), "<" + std::string(600, 'a') + ">"},
    };
    for (const auto &row : rows) EXPECT_EQ(row.got, row.want);
}

} // namespace
