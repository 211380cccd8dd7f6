#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mime/base64.h"
#include "mime/quoted_printable.h"
#include "providers/internet/md5.h"
#include "runtime/com_util.h"
#include "test_text.h"
#include "thrown.h"

using namespace kv;

namespace {

using Bytes = std::string;

// The input as one last block, as the writer hands it over.
Bytes EncodeQp(const Bytes &in) {
    std::vector<char> out(codec::QpEncodeMaxLength(in.size()));
    codec::QpEncoder state;
    size_t consumed = 0;
    return Bytes(out.data(), codec::QpEncodeStep(state, reinterpret_cast<const uint8_t *>(in.data()), in.size(), true,
                                                 out.data(), &consumed));
}

Bytes EncodeB64Body(const Bytes &in) {
    std::vector<char> out(codec::Base64LinesMaxLength(in.size()));
    return Bytes(out.data(), codec::Base64EncodeLines(reinterpret_cast<const uint8_t *>(in.data()), in.size(), out.data()));
}

// A body decoder over a text in place; a failure's message goes to *message.
template <class F> Bytes DecodeText(F decode, const Bytes &text, bool crlfOnly = false, Bytes *message = nullptr) {
    clsAutoRelease<IStream> dst(testsupport::StreamOf(""));
    testsupport::Caught e =
        testsupport::Catch([&] { decode(clsLineText{text, crlfOnly}, clsOutputTarget(pal::kInvalidFile, dst.get())); });
    EXPECT_EQ(e.code, e.thrown ? -5 : 0);
    if (message) *message = e.thrown ? e.Back() : "(no failure)";
    else EXPECT_FALSE(e.thrown) << e.Back();
    return StreamBytes(dst.get());
}

} // namespace

TEST(EncodingsQuotedPrintable, EncodesAndDecodes) {
    const Bytes a73(73, 'a'), a72(72, 'a');
    const struct {
        Bytes in, out;
    } cases[] = {
        {"", ""},
        {"From me", "From=20me\r\n"},
        {"from me", "from me\r\n"},
        {".x", "=2Ex\r\n"},
        {"x.y\r\n.", "x.y\r\n=2E\r\n"},
        {"a=b", "a=3Db\r\n"},
        {"!\"#$@[\\]^`{|}~", "=21=22=23=24=40=5B=5C=5D=5E=60=7B=7C=7D=7E\r\n"},
        {"\xE9\x7F\x01", "=E9=7F=01\r\n"},
        {"a\tb", "a=09b\r\n"},
        {"a\rb\nc", "a=0Db=0Ac\r\n"},
        {"a\r\n\r\nb", "a\r\n\r\nb\r\n"},
        // Blanks before a line end would be stripped in transport.
        {"a \r\nb", "a=20\r\nb\r\n"},
        {"a ", "a=20\r\n"},
        {"a\t\r\n", "a=09\r\n"},
        {"a \r", "a =0D\r\n"},
        // Soft line breaks keep lines at 76 characters at most.
        {Bytes(200, 'a'), a73 + "=\r\n" + a73 + "=\r\n" + Bytes(54, 'a') + "\r\n"},
        {a72 + "\xE9\xE9", a72 + "=E9=\r\n=E9\r\n"},
        {a73 + "From x", a73 + "=\r\nFrom=20x\r\n"},
        {a73 + ".", a73 + "=\r\n=2E\r\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(EncodeQp(c.in), c.out) << "input: " << c.in;
    const struct {
        Bytes in, out; // the lines of in each end in CR LF
    } decoded[] = {
        {"abc=", "abc"},
        {"abc= ", "abc"},
        {"=41=42", "AB\r\n"},
        {"a=\r\nb", "ab\r\n"},
        {"\r\nx", "\r\nx\r\n"},
        // An "=" that starts no escape stays as it stands.
        {"<p align=\"center\">", "<p align=\"center\">\r\n"},
        {"=N&=G1= x==41", "=N&=G1= x=A\r\n"},
        {"=\xE9\xE9", "=\xE9\xE9\r\n"},
        // Long lines decode; refusing them would lose the body.
        {Bytes(81, 'a'), Bytes(81, 'a') + "\r\n"},
        {Bytes(80, 'a') + "\r\n" + Bytes(5000, 'b') + "=", Bytes(80, 'a') + "\r\n" + Bytes(5000, 'b')},
    };
    // Line by line where a lone CR or LF may stand in a line, and by the
    // stream decoder where any line end ends a line.
    for (const auto &c : decoded)
        for (bool crlfOnly : {true, false})
            EXPECT_EQ(DecodeText(DecodeQuotedPrintableLines, c.in + "\r\n", crlfOnly), c.out) << c.in;
}

// The line decoder and the string decoder share their steps.
TEST(EncodingsBase64, Decodes) {
    const struct {
        Bytes in, out;
    } cases[] = {
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"YWJj\r\nZGVm", "abcdef"},
        {"YW Jj\r\nY-WJj", "abcabc"},
        {"YW=j", "a"},  // "=" in the third place: one byte
        {"=YWJ", "ab"}, // "=" first: skipped
        {"", ""},
        // Groups run across line ends; padding ends a group.
        {"YWJjZ\r\nGVm", "abcdef"},
        {"YQ=\r\n=YWJ=\r\nYw==", "aabc"},
        // A group cut short by the end carries only its own bits; so do the padding bits.
        {"YWI", "ab"},
        {"YWJ=", "ab"},
        {"Y", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DecodeText(DecodeBase64Lines, c.in + "\r\n"), c.out) << c.in;
        EXPECT_EQ(DecodeBase64(c.in), c.out) << c.in;
    }
    EXPECT_EQ(DecodeBase64("YWJjAGRl"), "abc"); // ends at the first zero byte
}

// Characters become their low byte; the first pass checks every line before
// anything is written.
TEST(EncodingsUtf8, DecodesOrFailsWithTheRightText) {
    const struct {
        Bytes in, message, written; // the lines of in each end in CR LF
    } cases[] = {
        {"\xC3\xA9\r\n\xE2\x82\xAC", "(no failure)", "\xE9\xAC"},
        {"ab\r\nc\xC4\x80\nd", "(no failure)", Bytes("abc\0d", 5)},
        {"\xC0\x80", "invalid UTF-8 encoding!", ""},
        {"\xE0\x9F\xBF", "invalid UTF-8 encoding!", ""},
        {"\xFE", "invalid UTF-8 encoding!", ""},
        {"\x80", "invalid UTF-8 sequence found!", ""},
        {"abc\ndef\r\xC3", "invalid UTF-8 sequence found!", ""},
        {"abc\r\ndef\r\n\xC3", "invalid UTF-8 sequence found!", ""},
        {"ab\r\nc\xF0\x9F\x98\x80", "UCS-4 not supported!", "abc"},
    };
    for (const auto &c : cases) {
        Bytes message, written = DecodeText(DecodeUtf8Lines, c.in + "\r\n", false, &message);
        EXPECT_EQ(message, c.message) << c.in;
        EXPECT_EQ(written, c.written) << c.in;
    }
}

TEST(EncodingsBase64, Strings) {
    EXPECT_EQ(EncodeBase64("a", 1), "YQ=="); // two bytes: the body below
    EXPECT_EQ(EncodeBase64Unpadded("a", 1), "YQAA");
    EXPECT_EQ(EncodeBase64Unpadded(u"abc"), "YWJjAAAA") << "the wide form encodes its terminating zero";
    EXPECT_EQ(EncodeBase64Unpadded(u"\u00e9"), "6QAA");
    EXPECT_EQ(EncodeBase64(String("\xC3\xA9"), 1252), "6Q==");
    EXPECT_EQ(EncodeBase64(String("\xC3\xA9"), 0), "w6k=");
    // Bodies: lines of 76 characters.
    const Bytes b57(57, 'x'), line76 = EncodeBase64(b57.data(), b57.size());
    EXPECT_EQ(EncodeB64Body(""), "");
    EXPECT_EQ(EncodeB64Body(b57 + "ab"), line76 + "\r\nYWI=\r\n");
}

// RFC 1321 and RFC 2104/2202/2195 vectors: "md5 data digest" or
// "hmac key data digest", each field in hex.
TEST(EncodingsDigest, PublishedVectors) {
    std::ifstream in(KV_TEST_DATA_DIR "/digests.txt");
    ASSERT_TRUE(in) << "missing tests/data/digests.txt";
    auto hex = [](const std::string &h) {
        Bytes out;
        for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoul(h.substr(i, 2), nullptr, 16));
        return out;
    };
    std::string line, kind, key, data, digest;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        fields >> kind;
        if (kind == "hmac") fields >> key;
        fields >> data >> digest;
        if (data == "-") data.clear();
        Bytes d = hex(data);
        EXPECT_EQ(kind == "md5" ? Md5Hex(d.data(), d.size()) : HmacMd5Hex(hex(key), d), digest) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 12);
}
