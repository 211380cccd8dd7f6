#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

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
        {Format("%d%%", 5), "5%"},
        {Format("%y %d", 7), "%y 7"}, // an unknown conversion takes no argument
        {Format("end %"), "end %"},
        {Format(nullptr), ""},
        {Format("[%05d]", -42), "[-0042]"},
        {Format("[%*d]", 5, 42), "[   42]"},
        {Format("[%*d]", -5, 42), "[42   ]"}, // a negative width left-justifies
        {Format("[%.*s]", 2, "abcdef"), "[ab]"},
        {Format("[%.*s]", -1, "abc"), "[abc]"}, // a negative precision counts as none
        {Format("[%*.*f|%d]", -8, 1, 2.25, 9), "[2.2     |9]"},
        {Format("[%#x|%X|%o|%c]", 255, 255, 8, 'z'), "[0xff|FF|10|z]"},
        // "l" is the LONG of the COM types: 32 bits, as on Windows.
        {Format("(%#08lx)", HRESULT(E_FAIL)), "(0x80004005)"},
        {Format("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615"},
        {Format("%zu|%zd", SIZE_MAX, ptrdiff_t(-3)), std::to_string(SIZE_MAX) + "|-3"},
        // Longer than the formatting buffer.
        {Format("<%s>", std::string(600, 'a').c_str()), "<" + std::string(600, 'a') + ">"},
        {Format("%0*d", 600, 7), std::string(599, '0') + "7"},
    };
    for (const auto &row : rows) EXPECT_EQ(row.got, row.want);
}

} // namespace
