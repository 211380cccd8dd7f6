// The lookups' rules, not the tables' rows: names compare without case but
// whole, the first row wins, and a miss falls back to the ANSI code page.
#include <gtest/gtest.h>

#include "mime/charset_table.h"
#include "pal/codepage.h"

using namespace kv;

namespace {

TEST(CharsetTable, LookupRules) {
    const uint32_t ansi = pal::AnsiCodePage();
    const struct {
        const char *name;
        uint32_t codepage;
    } byName[] = {
        {"Utf-8", 65001}, {"ISO-8859-1", 1252}, {"CSISO2022JP", 50221}, {"windows-1252", ansi},
        {"", ansi},       {"utf-8 ", ansi},     {"utf8", ansi},
    };
    for (const auto &row : byName) EXPECT_EQ(CodePageForCharset(row.name), row.codepage) << '"' << row.name << '"';
    EXPECT_EQ(CodePageForCharset(std::string_view("utf-8\0x", 7)), ansi) << "the whole name counts";
    const struct {
        uint32_t codepage;
        const char *name;
    } byCodePage[] = {
        {28591, "iso-8859-1"},
        {50221, "csISO2022JP"},
        // No row: the name of the ANSI code page (UTF-8 here), never the terminator row.
        {437, "utf-8"},
        {0xFFFFFFFF, "utf-8"},
    };
    for (const auto &row : byCodePage) EXPECT_EQ(CharsetForCodePage(row.codepage), row.name) << row.codepage;
}

TEST(MediaTypeTable, LookupRules) {
    const struct {
        const char *extension, *mediaType;
    } rows[] = {
        {".Jpeg", "image/jpeg"}, {"jpg", ""}, {".", ""}, {".jpg.", ""}, {".docx", ""},
    };
    for (const auto &row : rows) EXPECT_EQ(MediaTypeForExtension(row.extension), row.mediaType) << row.extension;
    const struct {
        const char *mediaType, *extension;
    } back[] = {
        {"TEXT/PLAIN", ".bas"},
        {"application/x-foo", ""},
        {"text/plain; charset=us-ascii", ""},
    };
    for (const auto &row : back) EXPECT_EQ(ExtensionForMediaType(row.mediaType), row.extension) << row.mediaType;
}

TEST(MediaTypeTable, ExtensionOfPath) {
    const struct {
        const char *path;
        std::string extension;
    } rows[] = {
        {"C:\\dir\\photo.JPG", ".JPG"},
        {"/home/u/archive.tar.gz", ".gz"},
        {"dir.d/file", ""},
        {"dir.d\\file", ""},
        {".hidden", ".hidden"},
        {"file.", "."},
    };
    for (const auto &row : rows) EXPECT_EQ(ExtensionOfPath(row.path), row.extension) << row.path;
    EXPECT_EQ(ExtensionOfPath("name." + std::string(300, 'e')), "." + std::string(254, 'e'));
}

} // namespace
