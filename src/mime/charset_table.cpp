#include "mime/charset_table.h"

#include "pal/codepage.h"

namespace kv {

namespace {

struct CharsetRow {
    const char *name;
    uint32_t codepage;
};

// Ends with a row whose code page is 0.
const CharsetRow kCharsets[] = {
    {"windows-1250", 1250},
    {"windows-1251", 1251},
    {"windows-1253", 1253},
    {"windows-1254", 1254},
    {"windows-1255", 1255},
    {"windows-1256", 1256},
    {"windows-1257", 1257},
    {"windows-1258", 1258},
    {"iso-8859-1", 1252},
    {"iso-8859-1", 28591},
    {"iso-8859-2", 28592},
    {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},
    {"unicode", 1200},
    {"unicodeFEFF", 1201},
    {"utf-7", 65000},
    {"utf-8", 65001},
    {"iso-2022-jp", 50220},
    {"iso-2022-jp", 50222},
    {"iso-2022-kr", 50225},
    {"DIN_66003", 20106},
    {"NS_4551-1", 20108},
    {"SEN_850200_B", 20107},
    {"_autodetect", 50932},
    {"_autodetect_kr", 50949},
    {"big5", 950},
    {"csISO2022JP", 50221},
    {"euc-kr", 51949},
    {"gb2312", 936},
    {"hz-gb-2312", 52936},
    {"ibm852", 852},
    {"ibm866", 866},
    {"irv", 20105},
    {"koi8-r", 20866},
    {"ks_c_5601", 949},
    {"shift-jis", 932},
    {"windows-874", 874},
    {"x-euc", 51932},
    {"x-user-defined", 50000},
    {nullptr, 0},
};

struct MediaTypeRow {
    const char *extension;
    const char *mediaType;
};

const MediaTypeRow kMediaTypes[81] = {
    {".aif", "audio/x-aiff"},
    {".aiff", "audio/x-aiff"},
    {".aifc", "audio/x-aiff"},
    {".au", "audio/basic"},
    {".snd", "audio/basic"},
    {".avi", "video/x-msvideo"},
    {".bas", "text/plain"},
    {".bat", "text/plain"},
    {".bin", "application/octet-stream"},
    {".bmp", "image/bmp"},
    {".dib", "image/bmp"},
    {".cer", "application/x-x509-ca-cert"},
    {".class", "application/java-class"},
    {".cmd", "text/plain"},
    {".com", "application/octet-stream"},
    {".css", "text/css"},
    {".doc", "application/msword"},
    {".etx", "text/x-setext"},
    {".evy", "application/envoy"},
    {".exe", "application/octet-stream"},
    {".gif", "image/gif"},
    {".gz", "application/x-gzip"},
    {".html", "text/html"},
    {".htm", "text/html"},
    {".ief", "image/ief"},
    {".jar", "application/java-archive"},
    {".jardiff", "application/x-java-archive-diff"},
    {".java", "text/x-java-source"},
    {".jpeg", "image/jpeg"},
    {".jpg", "image/jpeg"},
    {".jnlp", "application/x-java-jnlp-file"},
    {".js", "application/x-javascript"},
    {".mht", "text/html"},
    {".mhtm", "text/html"},
    {".mhtml", "text/html"},
    {".mid", "audio/midi"},
    {".midi", "audio/midi"},
    {".mov", "video/quicktime"},
    {".qt", "video/quicktime"},
    {".movie", "video/x-sgi-movie"},
    {".mp3", "audio/mpeg"},
    {".mpg", "video/mpeg"},
    {".mpeg", "video/mpeg"},
    {".oda", "application/oda"},
    {".pbm", "image/x-portable-bitmap"},
    {".pdf", "application/pdf"},
    {".pgm", "image/x-portable-graymap"},
    {".png", "image/png"},
    {".ppm", "image/x-portable-pixmap"},
    {".ps", "application/postscript"},
    {".eps", "application/postscript"},
    {".ai", "application/postscript"},
    {".ra", "audio/x-pn-realaudio"},
    {".rm", "audio/x-pn-realaudio"},
    {".ram", "audio/x-pn-realaudio"},
    {".rgb", "image/x-rgb"},
    {".rtf", "application/rtf"},
    {".rtx", "text/richtext"},
    {".ser", "application/x-java-serialized-object"},
    {".ssi", "application/x-shockwave-flash"},
    {".shtml", "application/x-shockwave-flash"},
    {".swf", "application/x-shockwave-flash"},
    {".tar", "application/x-tar"},
    {".tiff", "image/tiff"},
    {".tif", "image/tiff"},
    {".tsv", "text/tab-separated-values"},
    {".txt", "text/plain"},
    {".text", "text/plain"},
    {".asc", "text/plain"},
    {".usr", "application/x-x509-user-cert"},
    {".vcf", "text/x-vcard"},
    {".vew", "application/groupwise"},
    {".wav", "audio/wav"},
    {".w61", "application/wordperfect6.1"},
    {".wml", "x-world/x-vrml"},
    {".wp", "application/wordperfect"},
    {".wpd", "application/wordperfect"},
    {".wp5", "application/wordperfect"},
    {".w60", "application/wordperfect6.0"},
    {".xml", "application/xml"},
    {".zip", "application/zip"},
};

bool FindCharset(uint32_t codepage, String &name) {
    for (const CharsetRow *row = kCharsets; row->codepage != 0; ++row)
        if (row->codepage == codepage) {
            name = row->name;
            return true;
        }
    return false;
}

} // namespace

String CharsetForCodePage(uint32_t codepage) {
    String name;
    if (FindCharset(codepage, name)) return name;
    uint32_t ansi = pal::AnsiCodePage();
    if (codepage != ansi && FindCharset(ansi, name)) return name;
    return "US_ASCII";
}

uint32_t CodePageForCharset(std::string_view charset) {
    for (const CharsetRow *row = kCharsets; row->codepage != 0; ++row)
        if (EqualsNoCase(row->name, charset)) return row->codepage;
    return pal::AnsiCodePage();
}

String MediaTypeForExtension(std::string_view extension) {
    for (const auto &row : kMediaTypes)
        if (EqualsNoCase(row.extension, extension)) return row.mediaType;
    return String();
}

String ExtensionForMediaType(std::string_view mediaType) {
    for (const auto &row : kMediaTypes)
        if (EqualsNoCase(row.mediaType, mediaType)) return row.extension;
    return String();
}

String ExtensionOfPath(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return String();
    std::string_view ext = name.substr(dot);
    if (ext.size() > 255) ext = ext.substr(0, 255);
    return String(ext);
}

} // namespace kv
