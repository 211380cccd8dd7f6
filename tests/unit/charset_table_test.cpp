#include <gtest/gtest.h>

#include "mime/charset_table.h"
#include "pal/codepage.h"

using namespace kv;

namespace {

// The published table, row by row.
const struct {
    const char *name;
    uint32_t codepage;
} kCharsetRows[] = {
    {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1253", 1253}, {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},
    {"iso-8859-1", 1252},   {"iso-8859-1", 28591},  {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},  {"iso-8859-5", 28595},  {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},  {"unicode", 1200},      {"unicodeFEFF", 1201},  {"utf-7", 65000},
    {"utf-8", 65001},       {"iso-2022-jp", 50220}, {"iso-2022-jp", 50222}, {"iso-2022-kr", 50225},
    {"DIN_66003", 20106},   {"NS_4551-1", 20108},   {"SEN_850200_B", 20107}, {"_autodetect", 50932},
    {"_autodetect_kr", 50949}, {"big5", 950},       {"csISO2022JP", 50221}, {"euc-kr", 51949},
    {"gb2312", 936},        {"hz-gb-2312", 52936},  {"ibm852", 852},        {"ibm866", 866},
    {"irv", 20105},         {"koi8-r", 20866},      {"ks_c_5601", 949},     {"shift-jis", 932},
    {"windows-874", 874},   {"x-euc", 51932},       {"x-user-defined", 50000},
};

TEST(CharsetTable, EveryRowLooksUpToItsFirstOccurrence) {
    static_assert(std::size(kCharsetRows) == 43);
    for (const auto &row : kCharsetRows) {
        SCOPED_TRACE(row.name);
        uint32_t firstCodePage = 0;
        const char *firstName = nullptr;
        for (const auto &other : kCharsetRows) {
            if (!firstCodePage && EqualsNoCase(other.name, row.name)) firstCodePage = other.codepage;
            if (!firstName && other.codepage == row.codepage) firstName = other.name;
        }
        EXPECT_EQ(CodePageForCharset(row.name), firstCodePage);
        EXPECT_EQ(CodePageForCharset(ToUpper(row.name)), firstCodePage);
        EXPECT_EQ(CharsetForCodePage(row.codepage), firstName);
    }
}

TEST(CharsetTable, CharsetEdgeCases) {
    const uint32_t ansi = pal::AnsiCodePage();
    const struct {
        const char *name;
        uint32_t codepage;
    } byName[] = {
        {"UTF-8", 65001},       {"Utf-8", 65001},       {"utf-8", 65001},
        {"iso-8859-1", 1252},   {"ISO-8859-1", 1252},   {"iso-2022-jp", 50220},
        {"csISO2022JP", 50221}, {"CSISO2022JP", 50221}, {"windows-1252", ansi},
        {"us-ascii", ansi},     {"", ansi},             {"utf-8 ", ansi},
        {"utf8", ansi},         {"unicodefeff", 1201},
    };
    for (const auto &row : byName) EXPECT_EQ(CodePageForCharset(row.name), row.codepage) << '"' << row.name << '"';
    EXPECT_EQ(CodePageForCharset(std::string_view("utf-8\0x", 7)), ansi) << "the whole name counts";

    const struct {
        uint32_t codepage;
        const char *name;
    } byCodePage[] = {
        {28591, "iso-8859-1"}, {1252, "iso-8859-1"}, {50222, "iso-2022-jp"}, {50221, "csISO2022JP"},
        {1201, "unicodeFEFF"}, {65001, "utf-8"},
        // No row: the name of the ANSI code page (UTF-8 here), never the terminator row.
        {437, "utf-8"}, {0, "utf-8"}, {20127, "utf-8"}, {0xFFFFFFFF, "utf-8"},
    };
    for (const auto &row : byCodePage) EXPECT_EQ(CharsetForCodePage(row.codepage), row.name) << row.codepage;
}

TEST(MediaTypeTable, ExtensionEdgeCases) {
    const struct {
        const char *extension;
        const char *mediaType;
    } rows[] = {
        {".JPG", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".Jpeg", "image/jpeg"},
        {"jpg", ""},
        {"", ""},
        {".", ""},
        {".jpg.", ""},
        {".ssi", "application/x-shockwave-flash"},
        {".shtml", "application/x-shockwave-flash"},
        {".wml", "x-world/x-vrml"},
        {".htm", "text/html"},
        {".mhtml", "text/html"},
        {".zip", "application/zip"},
        {".aif", "audio/x-aiff"},
        {".w60", "application/wordperfect6.0"},
        {".docx", ""},
    };
    for (const auto &row : rows) EXPECT_EQ(MediaTypeForExtension(row.extension), row.mediaType) << row.extension;
}

TEST(MediaTypeTable, MediaTypeGivesFirstRowsExtension) {
    const struct {
        const char *mediaType;
        const char *extension;
    } rows[] = {
        {"text/plain", ".bas"},
        {"TEXT/PLAIN", ".bas"},
        {"text/html", ".html"},
        {"image/jpeg", ".jpeg"},
        {"application/octet-stream", ".bin"},
        {"audio/x-aiff", ".aif"},
        {"application/postscript", ".ps"},
        {"application/x-shockwave-flash", ".ssi"},
        {"application/wordperfect", ".wp"},
        {"application/zip", ".zip"},
        {"application/x-foo", ""},
        {"", ""},
        {"text/plain; charset=us-ascii", ""},
    };
    for (const auto &row : rows) EXPECT_EQ(ExtensionForMediaType(row.mediaType), row.extension) << row.mediaType;
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
        {"noext", ""},
        {"", ""},
        {".hidden", ".hidden"},
        {"file.", "."},
        {"a/b\\c.x", ".x"},
    };
    for (const auto &row : rows) EXPECT_EQ(ExtensionOfPath(row.path), row.extension) << row.path;
    std::string longExt = "name." + std::string(300, 'e');
    String ext = ExtensionOfPath(longExt);
    EXPECT_EQ(ext.size(), 255u);
    EXPECT_EQ(ext, "." + std::string(254, 'e'));
    // A name found this way feeds the media-type lookup directly.
    EXPECT_EQ(MediaTypeForExtension(ExtensionOfPath("C:\\x\\Report.PDF")), "application/pdf");
}

} // namespace
