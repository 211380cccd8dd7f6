// The lookups' rules, not the tables' rows: names compare without case but
// whole, the first row wins, and a miss falls back to the ANSI code page.
#include <gtest/gtest.h>

#include "mime/charset_table.h"
#include "pal/codepage.h"

using namespace kv;

namespace {

// The ANSI code page here is 65001: a miss must be told apart from a hit on
// another row, and the fallback name is never the terminator row's.
TEST(CharsetTable, LookupRules) {
    const uint32_t ansi = pal::AnsiCodePage();
    using Name = std::pair<std::string_view, uint32_t>;
    for (const auto &[name, codepage] : {Name("ISO-8859-1", 1252), {"CSISO2022JP", 50221}, {"iso-8859-1 ", ansi},
                                         {"iso-8859", ansi}, {std::string_view("iso-8859-1\0x", 12), ansi}})
        EXPECT_EQ(CodePageForCharset(name), codepage) << '"' << name << '"';
    using Row = std::pair<uint32_t, const char *>;
    for (const auto &[codepage, name] :
         {Row(28591, "iso-8859-1"), {50221, "csISO2022JP"}, {437, "utf-8"}, {~0u, "utf-8"}})
        EXPECT_EQ(CharsetForCodePage(codepage), name) << codepage;
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
    const struct {
        const char *path;
        std::string extension;
    } paths[] = {
        {"C:\\dir\\photo.JPG", ".JPG"},
        {"/home/u/archive.tar.gz", ".gz"},
        {"dir.d/file", ""},
        {"dir.d\\file", ""},
        {".hidden", ".hidden"},
        {"file.", "."},
    };
    for (const auto &row : paths) EXPECT_EQ(ExtensionOfPath(row.path), row.extension) << row.path;
    EXPECT_EQ(ExtensionOfPath("name." + std::string(300, 'e')), "." + std::string(254, 'e'));
}

} // namespace
