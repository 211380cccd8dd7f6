#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "pal/com.h"
#include "runtime/kvstring.h"

using kv::Format;

namespace {

TEST(KvFormat, WideAndNarrowText) {
    const char16_t *none = nullptr;
    const char *noneA = nullptr;
    const struct {
        kv::String got;
        const char *want;
    } rows[] = {
        {Format("[%ws]", u"abc"), "[abc]"},
        {Format("[%ws]", none), "[(NULL)]"},
        {Format("[%S]", u"abc"), "[abc]"},
        {Format("[%ws]", u"Gr\u00fc\u00dfe \U0001F600"), "[Gr\xC3\xBC\xC3\x9F"
                                                         "e \xF0\x9F\x98\x80]"},
        {Format("[%-6ws]", u"abc"), "[abc   ]"},
        {Format("[%.2ws]", u"abc"), "[ab]"},
        {Format("[%hs]", noneA), "[(null)]"},
        {Format("[%s]", noneA), "[(null)]"},
        {Format("%ws=%hs=%d", u"k", "v", 3), "k=v=3"},
    };
    for (const auto &row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(KvFormat, PercentAndUnknownConversions) {
    EXPECT_EQ(Format("%%"), "%");
    EXPECT_EQ(Format("%d%%", 5), "5%");
    EXPECT_EQ(Format("%y %d", 7), "%y 7") << "an unknown conversion takes no argument";
    EXPECT_EQ(Format("end %"), "end %");
    EXPECT_EQ(Format(nullptr), "");
}

TEST(KvFormat, WidthAndPrecision) {
    const struct {
        kv::String got;
        const char *want;
    } rows[] = {
        {Format("[%5d]", 42), "[   42]"},
        {Format("[%05d]", -42), "[-0042]"},
        {Format("[%*d]", 5, 42), "[   42]"},
        {Format("[%*d]", -5, 42), "[42   ]"}, // a negative width left-justifies
        {Format("[%.*s]", 2, "abcdef"), "[ab]"},
        {Format("[%.*s]", -1, "abc"), "[abc]"}, // a negative precision counts as none
        {Format("[%*.*f|%d]", -8, 1, 2.25, 9), "[2.2     |9]"},
        {Format("[%*ws]", 5, u"ab"), "[   ab]"},
        {Format("[%.*ws]", 1, u"ab"), "[a]"},
        {Format("[%#x|%X|%o|%c]", 255, 255, 8, 'z'), "[0xff|FF|10|z]"},
    };
    for (const auto &row : rows) EXPECT_EQ(row.got, row.want);
}

TEST(KvFormat, IntegerSizes) {
    // "l" is the LONG of the COM types: 32 bits, as on Windows.
    volatile HRESULT hr = E_FAIL;
    volatile LONG minusFive = -5;
    volatile DWORD big = 0xFFFFFFFFu;
    EXPECT_EQ(Format("%08lX", hr), "80004005");
    EXPECT_EQ(Format("(%#08lx)", hr), "(0x80004005)");
    EXPECT_EQ(Format("%ld|%ld", minusFive, (LONG)7), "-5|7");
    EXPECT_EQ(Format("%lu", big), "4294967295");
    EXPECT_EQ(Format("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615");
    EXPECT_EQ(Format("%zu|%zd", SIZE_MAX, (ptrdiff_t)-3), kv::String(std::to_string(SIZE_MAX) + "|-3"));
    EXPECT_EQ(Format("%hd|%hhu", 70000, 300), "4464|44");
}

TEST(KvFormat, Pointers) {
    int object = 0;
    kv::String text = Format("%p", static_cast<void *>(&object));
    EXPECT_EQ(std::strtoull(text.c_str(), nullptr, 16), reinterpret_cast<uintptr_t>(&object)) << text;
    EXPECT_EQ(Format("%p|%d", static_cast<void *>(&object), 5), text + "|5");
}

TEST(KvFormat, TextLongerThanTheBuffer) {
    std::string longA(600, 'a');
    EXPECT_EQ(Format("<%s>", longA.c_str()), "<" + longA + ">");
    std::u16string longW(1000, u'\u00e9');
    std::string longUtf8;
    for (int i = 0; i < 1000; ++i) longUtf8 += "\xC3\xA9";
    EXPECT_EQ(Format("<%ws>", longW.c_str()), "<" + longUtf8 + ">");
    EXPECT_EQ(Format("%0*d", 600, 7), std::string(599, '0') + "7");
}

} // namespace
