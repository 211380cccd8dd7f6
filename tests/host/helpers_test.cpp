// orkv14.hpp, the C++ helpers hosts build on, against the library's COM
// services (on Windows, the system's).
#include "orkv14.hpp"

#include <gtest/gtest.h>

namespace {

using namespace orkv14;

TEST(CppHelpers, VariantsKeepTheirType) {
    const char *text = "text";
    std::string owned = "owned";
    const struct {
        VARTYPE vt;
        Variant v;
    } cases[] = {{VT_BSTR, Variant(text)}, {VT_BSTR, Variant(owned)}, {VT_I4, Variant(LONG(7))},
                 {VT_BOOL, Variant(true)}};
    for (const auto &c : cases) EXPECT_EQ((*c.v).vt, c.vt);
    EXPECT_EQ(Bstr(text).Utf8(), "text");
}

TEST(CppHelpers, Utf8AndUtf16) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } both[] = {{"a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", u"a\u00E4\u20AC\U0001F600"}, {"", u""}};
    for (const auto &c : both) {
        EXPECT_EQ(Wide(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Utf8(reinterpret_cast<const OLECHAR *>(c.utf16.data()), c.utf16.size()), c.utf8);
    }
    // Malformed input: truncated, overlong, a surrogate, past U+10FFFF.
    EXPECT_EQ(Wide("x\xC3"), u"x\uFFFD");
    EXPECT_EQ(Wide("\xC0\xAF" "a"), u"\uFFFD" "a");
    EXPECT_EQ(Wide("\xED\xA0\x80"), u"\uFFFD");
    EXPECT_EQ(Wide("\xF4\x90\x80\x80"), u"\uFFFD");
    const char16_t lone[] = {0xD800, u'x', 0xDC00};
    EXPECT_EQ(Utf8(reinterpret_cast<const OLECHAR *>(lone), 3), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(CppHelpers, StreamsAndPointers) {
    const std::string bytes("a\0b\r\n", 5);
    Ptr<IStream> stream = MemoryStream(bytes);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(stream.get()), bytes);
    EXPECT_EQ(ReadAll(MemoryStream({}).get()), "");
    Ptr<IUnknown> unknown = stream.As<IUnknown>();
    EXPECT_TRUE(unknown);
    EXPECT_FALSE(stream.As<IKvMail>());
    IStream *raw = stream.release();
    EXPECT_EQ(raw->Release(), 1u) << "As<> holds its own reference";
    unknown.reset();
}

} // namespace
