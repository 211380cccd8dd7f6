// Body transfer encodings, base64 on strings, the buffer codecs and the digests.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "runtime/except.h"
#include "mime/base64.h"
#include "mime/quoted_printable.h"
#include "providers/internet/md5.h"
#include "runtime/com_util.h"

using namespace kv;

namespace {

using Bytes = std::string;

// A memory stream that hands out what was written.
struct MemoryStream {
    IStream *stream = nullptr;
    MemoryStream() { CreateStreamOnHGlobal(nullptr, TRUE, &stream); }
    ~MemoryStream() { stream->Release(); }
    Bytes Contents() const { return StreamBytes(stream); }
};

// Hands out its contents a few bytes per Read, as a slow source may.
struct TrickleStream : IStream {
    Bytes data;
    size_t pos = 0;
    explicit TrickleStream(Bytes d) : data(std::move(d)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void *pv, ULONG cb, ULONG *read) override {
        ULONG n = ULONG(std::min<size_t>({cb, 5, data.size() - pos}));
        std::memcpy(pv, data.data() + pos, n);
        pos += n;
        *read = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *, ULONG, ULONG *written) override {
        *written = 0;
        return E_FAIL; // a full disk, say
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }
};

using Lines = std::vector<Bytes>;

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

Bytes Joined(const Lines &lines) {
    Bytes text;
    for (const Bytes &line : lines) text += line + "\r\n";
    return text;
}

// A body decoder over a text in place; a failure's message goes to *message.
template <class F> Bytes DecodeText(F decode, const Bytes &text, bool crlfOnly = false, Bytes *message = nullptr) {
    MemoryStream dst;
    try {
        decode(clsLineText{text, crlfOnly}, clsOutputTarget(pal::kInvalidFile, dst.stream));
        if (message) *message = "(no failure)";
    } catch (const clsExcept &e) {
        EXPECT_EQ(e.Code(), -5);
        if (!message) ADD_FAILURE() << e.Messages().back();
        else *message = e.Messages().back();
    }
    return dst.Contents();
}

// Lines decoded one by one: what the decoders over a text must give.
Bytes QpByLine(const Lines &lines) {
    Bytes out;
    for (const Bytes &line : lines) {
        std::vector<uint8_t> buf(codec::QpDecodeMaxLength(line.size()));
        out.append(reinterpret_cast<char *>(buf.data()), codec::QpDecodeLine(line.data(), line.size(), buf.data()));
    }
    return out;
}

} // namespace

TEST(EncodingsQuotedPrintable, EncodesBodies) {
    const Bytes a73(73, 'a'), a72(72, 'a');
    const struct {
        Bytes in, out;
    } cases[] = {
        {"", ""},
        {"From me", "From=20me\r\n"},
        {"from me", "from me\r\n"},
        {" From me", " From me\r\n"},
        {"a\r\nFrom x", "a\r\nFrom=20x\r\n"},
        {".x", "=2Ex\r\n"},
        {"x.y\r\n.", "x.y\r\n=2E\r\n"},
        {"a=b", "a=3Db\r\n"},
        {"#", "=23\r\n"},
        {"!\"#$@[\\]^`{|}~", "=21=22=23=24=40=5B=5C=5D=5E=60=7B=7C=7D=7E\r\n"},
        {"\xE9\x7F\x01", "=E9=7F=01\r\n"},
        {"a\tb", "a=09b\r\n"},
        {"a\rb\nc", "a=0Db=0Ac\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\r\n\r\nb", "a\r\n\r\nb\r\n"},
        // Blanks before a line end would be stripped in transport.
        {"a \r\nb", "a=20\r\nb\r\n"},
        {"a  \r\n", "a =20\r\n"},
        {"a ", "a=20\r\n"},
        {"a\t\r\n", "a=09\r\n"},
        {"a b", "a b\r\n"},
        {"a \r", "a =0D\r\n"},
        // Soft line breaks keep lines at 76 characters at most.
        {Bytes(200, 'a'), a73 + "=\r\n" + a73 + "=\r\n" + Bytes(54, 'a') + "\r\n"},
        {a73 + "\r\nb", a73 + "\r\nb\r\n"},
        {a72 + "\xE9\xE9", a72 + "=E9=\r\n=E9\r\n"},
        {a73 + "From x", a73 + "=\r\nFrom=20x\r\n"},
        {a73 + ".", a73 + "=\r\n=2E\r\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(EncodeQp(c.in), c.out) << "input: " << c.in;
}

TEST(EncodingsQuotedPrintable, DecodesLines) {
    const struct {
        Lines in;
        Bytes out;
    } cases[] = {
        {{"abc="}, "abc"},
        {{"abc= "}, "abc"},
        {{"=41=42"}, "AB\r\n"},
        {{"=4a=4A"}, "JJ\r\n"},
        {{"a=", "b"}, "ab\r\n"},
        {{"", "x"}, "\r\nx\r\n"},
        // An "=" that starts no escape stays as it stands.
        {{"<p align=\"center\">"}, "<p align=\"center\">\r\n"},
        {{"=N&=G1= x==41"}, "=N&=G1= x=A\r\n"},
        {{"abc=4"}, "abc=4\r\n"},
        {{"=\xE9\xE9"}, "=\xE9\xE9\r\n"},
        {{"a b_c"}, "a b_c\r\n"},
        // Long lines decode; refusing them would lose the body.
        {{Bytes(81, 'a')}, Bytes(81, 'a') + "\r\n"},
        {{Bytes(80, 'a'), Bytes(5000, 'b') + "="}, Bytes(80, 'a') + "\r\n" + Bytes(5000, 'b')},
    };
    // Line by line where a lone CR or LF may stand in a line, and by the
    // stream decoder where any line end ends a line.
    for (const auto &c : cases)
        for (bool crlfOnly : {true, false})
            EXPECT_EQ(DecodeText(DecodeQuotedPrintableLines, Joined(c.in), crlfOnly), c.out) << c.in.front();
}

TEST(EncodingsBase64, EncodesBodiesInLinesOf76) {
    Bytes b57(57, 'x'), line76 = EncodeBase64(b57.data(), b57.size());
    ASSERT_EQ(line76.size(), 76u);
    EXPECT_EQ(EncodeB64Body(""), "");
    EXPECT_EQ(EncodeB64Body("abc"), "YWJj\r\n");
    EXPECT_EQ(EncodeB64Body(b57), line76 + "\r\n");
    EXPECT_EQ(EncodeB64Body(b57 + "ab"), line76 + "\r\nYWI=\r\n");
    // A source that hands out a few bytes at a time still fills whole blocks
    // (of whole lines).
    TrickleStream slow(b57 + b57 + "a");
    Bytes block(200, '\0');
    EXPECT_EQ(clsBodySource(pal::kInvalidFile, &slow).Read(&block[0], block.size()), 115u);
}

TEST(EncodingsBase64, DecodesLines) {
    const struct {
        Lines in;
        Bytes out;
    } cases[] = {
        {{"YWI="}, "ab"},
        {{"YQ=="}, "a"},
        {{"YWJj", "ZGVm"}, "abcdef"},
        {{"YW Jj", "Y-WJj"}, "abcabc"},
        {{"YW=j"}, "a"},   // "=" in the third place: one byte
        {{"=YWJ"}, "ab"},  // "=" first: skipped
        {{"YWJjZA=="}, "abcd"},
        {{""}, ""},
        {{"YWJj "}, "abc"},
        // Groups run across line ends; padding ends a group.
        {{"YWJjZ", "GVm"}, "abcdef"},
        {{"YQ=", "=YWJ=", "Yw=="}, "aabc"},
        // A group cut short by the end carries only its own bits.
        {{"YWI"}, "ab"},
        {{"Y"}, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(DecodeText(DecodeBase64Lines, Joined(c.in)), c.out) << c.in.front();
}

TEST(EncodingsUtf8, DecodesToLowBytes) {
    const struct {
        Lines in;
        Bytes out;
    } cases[] = {
        {{"\xC3\xA9"}, "\xE9"},
        {{"ab", "c"}, "abc"},
        {{"\xE2\x82\xAC"}, "\xAC"},
        {{"\xC4\x80x"}, Bytes("\0x", 2)},
        {{"\xEF\xBF\xBF"}, "\xFF"},
        {{"ab", "c\xC3\xA9\nd"}, "abc\xE9" "d"},
    };
    for (const auto &c : cases) EXPECT_EQ(DecodeText(DecodeUtf8Lines, Joined(c.in)), c.out);
}

TEST(EncodingsUtf8, FailsWithTheRightText) {
    const struct {
        Lines in;
        Bytes message, written;
    } cases[] = {
        {{"\xC0\x80"}, "invalid UTF-8 encoding!", ""},
        {{"\xE0\x9F\xBF"}, "invalid UTF-8 encoding!", ""},
        {{"\xF0\x8F\xBF\xBF"}, "invalid UTF-8 encoding!", ""},
        {{"\xFE"}, "invalid UTF-8 encoding!", ""},
        {{"\xFF"}, "invalid UTF-8 encoding!", ""},
        {{"\x80"}, "invalid UTF-8 sequence found!", ""},
        {{"\xC3"}, "invalid UTF-8 sequence found!", ""},
        {{"\xC3x"}, "invalid UTF-8 sequence found!", ""},
        {{"abc\ndef\r\xC3"}, "invalid UTF-8 sequence found!", ""},
        // The first pass checks every line before anything is written.
        {{"abc", "def", "\xC3"}, "invalid UTF-8 sequence found!", ""},
        {{"ab", "c\xF0\x9F\x98\x80"}, "UCS-4 not supported!", "abc"},
        {{"\xF0\x9F\x98\x80"}, "UCS-4 not supported!", ""},
        {{"\xF8\x88\x80\x80\x80"}, "UCS-4 not supported!", ""},
    };
    for (const auto &c : cases) {
        Bytes message, written = DecodeText(DecodeUtf8Lines, Joined(c.in), false, &message);
        EXPECT_EQ(message, c.message) << c.in.back();
        EXPECT_EQ(written, c.written) << c.in.back();
    }
}

TEST(EncodingsBase64, Strings) {
    EXPECT_EQ(EncodeBase64("abc", 3), "YWJj");
    EXPECT_EQ(EncodeBase64("ab", 2), "YWI=");
    EXPECT_EQ(EncodeBase64("a", 1), "YQ==");
    EXPECT_EQ(EncodeBase64("", 0), "");
    EXPECT_EQ(EncodeBase64Unpadded("a", 1), "YQAA");
    EXPECT_EQ(EncodeBase64Unpadded("ab", 2), "YWIA");
    EXPECT_EQ(EncodeBase64Unpadded(u"abc"), "YWJjAAAA") << "the wide form encodes its terminating zero";
    EXPECT_EQ(EncodeBase64Unpadded(u"\u00e9"), "6QAA");
    EXPECT_EQ(EncodeBase64(String("\xC3\xA9"), 1252), "6Q==");
    EXPECT_EQ(EncodeBase64(String("\xC3\xA9"), 0), "w6k=");

    EXPECT_EQ(DecodeBase64("YWJj"), "abc");
    EXPECT_EQ(DecodeBase64("YWI="), "ab");
    EXPECT_EQ(DecodeBase64("YQ=="), "a");
    EXPECT_EQ(DecodeBase64("YW\r\nJj ZGVm"), "abcdef");
    EXPECT_EQ(DecodeBase64("YWJjAGRl"), "abc"); // ends at the first zero byte
    EXPECT_EQ(DecodeBase64("YWI"), "ab");
    EXPECT_EQ(DecodeBase64("YWJ="), "ab"); // the padding bits give no byte
    EXPECT_EQ(DecodeBase64(""), "");
}

TEST(EncodingsOutputTarget, WritesToFileAndStream) {
    std::string path = pal::CreateTempFileName("kvenc", ".tmp");
    ASSERT_FALSE(path.empty());
    pal::FileHandle file = pal::FileOpen(path, true);
    ASSERT_NE(file, pal::kInvalidFile);
    MemoryStream dst;
    DecodeQuotedPrintableLines(clsLineText{"=41\r\nb="}, clsOutputTarget(file, dst.stream));
    pal::FileClose(file);
    EXPECT_EQ(dst.Contents(), "A\r\nb");
    file = pal::FileOpen(path, false);
    ASSERT_NE(file, pal::kInvalidFile);
    char buf[16];
    int64_t n = pal::FileRead(file, buf, sizeof buf);
    EXPECT_EQ(Bytes(buf, size_t(n > 0 ? n : 0)), "A\r\nb");

    // The file as a body source.
    pal::FileClose(file);
    file = pal::FileOpen(path, false);
    EXPECT_EQ(clsBodySource(file, nullptr).Read(buf, sizeof buf), 4u);
    EXPECT_EQ(Bytes(buf, 4), "A\r\nb");
    pal::FileClose(file);
    pal::DeleteFilePath(path);
}

TEST(EncodingsOutputTarget, FailedWriteThrows) {
    TrickleStream broken("");
    try {
        DecodeQuotedPrintableLines(clsLineText{"abc"}, clsOutputTarget(pal::kInvalidFile, &broken));
        FAIL() << "no exception";
    } catch (const clsExcept &e) {
        EXPECT_EQ(e.Messages().back(), "cannot write to the output stream");
    }
}

namespace {

// Feeds a step function in pieces of random length, carrying what it keeps back.
Bytes QpEncodeInPieces(const Bytes &in, std::mt19937 &rng) {
    codec::QpEncoder state;
    Bytes out, carry;
    size_t pos = 0;
    while (true) {
        size_t take = std::min<size_t>(rng() % 7, in.size() - pos);
        Bytes chunk = carry + in.substr(pos, take);
        pos += take;
        bool final = pos == in.size();
        std::vector<char> buf(codec::QpEncodeMaxLength(chunk.size()));
        size_t consumed = 0;
        size_t n = codec::QpEncodeStep(state, reinterpret_cast<const uint8_t *>(chunk.data()), chunk.size(), final,
                                       buf.data(), &consumed);
        out.append(buf.data(), n);
        carry = chunk.substr(consumed);
        if (final) {
            EXPECT_TRUE(carry.empty());
            return out;
        }
        EXPECT_LE(carry.size(), 2u);
    }
}

// Each piece decodes into a buffer of exactly the size the codec asks for.
template <class State, class Step, class End, class Max>
Bytes DecodeInPieces(const Bytes &in, std::mt19937 &rng, Step step, End end, Max maxLength) {
    State state;
    Bytes out;
    for (size_t pos = 0; pos < in.size();) {
        size_t take = std::min<size_t>(rng() % 7, in.size() - pos);
        std::vector<uint8_t> buf(maxLength(take));
        size_t n = step(state, in.data() + pos, take, buf.data());
        EXPECT_LE(n, buf.size());
        out.append(reinterpret_cast<char *>(buf.data()), n);
        pos += take;
    }
    uint8_t tail[8];
    out.append(reinterpret_cast<char *>(tail), end(state, tail));
    return out;
}

Bytes RandomText(std::mt19937 &rng, const Bytes &alphabet, size_t maxLength) {
    Bytes s(rng() % maxLength, ' ');
    for (char &c : s) c = alphabet[rng() % alphabet.size()];
    return s;
}

Lines SplitLines(const Bytes &text) {
    Lines lines;
    Bytes line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line.push_back(text[i]);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Plain, byte-at-a-time statements of the rules, to hold the fast paths to.
Bytes ReferenceQpEncode(const Bytes &in) {
    Bytes out, line;
    auto endLine = [&] {
        out += line + "\r\n";
        line.clear();
    };
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = uint8_t(in[i]);
        if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
            endLine();
            ++i;
            continue;
        }
        if (line.size() > 72) {
            line += "=";
            endLine();
        }
        bool safe = c >= 0x20 && c <= 0x7E && !std::strchr("=!\"#$@[\\]^`{|}~", c);
        if (c == '.' && line.empty()) safe = false;
        if (c == ' ' && line == "From") safe = false;
        if (c == ' ' && (i + 1 == in.size() || (in[i + 1] == '\r' && i + 2 < in.size() && in[i + 2] == '\n')))
            safe = false;
        line += safe ? Bytes(1, char(c)) : Format("=%02X", c);
    }
    if (!line.empty()) endLine();
    return out;
}

Bytes ReferenceBase64(const Bytes &text) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out;
    uint32_t bits = 0;
    int values = 0;
    auto end = [&] {
        for (int b = 0; b < values - 1; ++b) out += char(bits << (6 * (4 - values)) >> (16 - 8 * b));
        bits = 0;
        values = 0;
    };
    for (char c : text) {
        const char *f = c ? std::strchr(kAlphabet, c) : nullptr;
        if (c == '=' && values >= 2) end();
        if (!f) continue;
        bits = bits << 6 | uint32_t(f - kAlphabet);
        if (++values == 4) end();
    }
    end();
    return out;
}

} // namespace

TEST(EncodingsCodecs, LineStartRulesHoldAcrossCalls) {
    // The "From " and leading-period tests look back at the line's start,
    // which an earlier call may have written.
    const Bytes in = "ab\r\nFrom me\r\n.x\r\nFromage From \r\n" + Bytes(73, 'q') + "From x";
    const Bytes whole = EncodeQp(in);
    ASSERT_EQ(whole, ReferenceQpEncode(in));
    for (size_t piece = 1; piece <= 5; ++piece) {
        codec::QpEncoder state;
        Bytes out, carry;
        for (size_t pos = 0; pos < in.size() || !carry.empty();) {
            Bytes chunk = carry + in.substr(pos, piece);
            pos += std::min(piece, in.size() - pos);
            bool final = pos == in.size();
            std::vector<char> buf(codec::QpEncodeMaxLength(chunk.size()));
            size_t consumed = 0;
            out.append(buf.data(), codec::QpEncodeStep(state, reinterpret_cast<const uint8_t *>(chunk.data()),
                                                       chunk.size(), final, buf.data(), &consumed));
            carry = chunk.substr(consumed);
            if (final) break;
        }
        EXPECT_EQ(out, whole) << "pieces of " << piece;
    }
}

TEST(EncodingsCodecs, FastPathsFollowTheRules) {
    std::mt19937 rng(99);
    const Bytes qpAlphabet = Bytes("abcdefghFrom..  \r\n\t=\xE9\x00", 22);
    for (int round = 0; round < 600; ++round) {
        Bytes plain = RandomText(rng, qpAlphabet, 500);
        ASSERT_EQ(EncodeQp(plain), ReferenceQpEncode(plain)) << plain;
    }
}

TEST(EncodingsCodecs, StepsGiveTheSameBytesWhereverTheInputIsCut) {
    std::mt19937 rng(1234);
    const Bytes qpAlphabet = Bytes("aF.rom= \r\n\t\xE9", 12);
    const Bytes b64Alphabet = "QWJjYZ09+/= \r\n-";
    for (int round = 0; round < 400; ++round) {
        Bytes plain = RandomText(rng, qpAlphabet, 300);
        Bytes whole = EncodeQp(plain);
        ASSERT_EQ(QpEncodeInPieces(plain, rng), whole) << plain;

        // Quoted-printable decoding undoes the encoding, line ends as CR LF.
        Bytes expected = plain;
        if (!expected.empty() && (expected.size() < 2 || expected.substr(expected.size() - 2) != "\r\n"))
            expected += "\r\n";
        Bytes decoded = DecodeInPieces<codec::QpDecoder>(whole, rng, codec::QpDecodeStep, codec::QpDecodeEnd,
                                                         codec::QpDecodeMaxLength);
        ASSERT_EQ(decoded, expected) << plain;

        // The stream decoders agree with the line decoders on the same text.
        Bytes qpText = RandomText(rng, qpAlphabet, 200);
        if (round == 0) qpText = "\n\r\r\n\n\n\n=\n";
        ASSERT_EQ(DecodeInPieces<codec::QpDecoder>(qpText, rng, codec::QpDecodeStep, codec::QpDecodeEnd,
                                                         codec::QpDecodeMaxLength),
                  QpByLine(SplitLines(qpText)))
            << qpText;
        Bytes b64Text = RandomText(rng, b64Alphabet, 200);
        ASSERT_EQ(DecodeInPieces<codec::Base64Decoder>(b64Text, rng, codec::Base64DecodeStep, codec::Base64DecodeEnd,
                                                       codec::Base64DecodeMaxLength),
                  ReferenceBase64(b64Text))
            << b64Text;

        // Base64 bodies come back byte for byte.
        Bytes binary = RandomText(rng, Bytes("\0\x01\xFF\r\nab", 7), 400);
        Bytes body = EncodeB64Body(binary);
        ASSERT_EQ(DecodeText(DecodeBase64Lines, body), binary);
    }
}

// The decoders over a whole text in place give what the line decoder gives
// for its lines, whatever the line ends; joined lines (CR LF only) keep a
// lone CR or LF inside their line.
TEST(EncodingsText, DecodersInPlaceAgreeWithTheLineDecoder) {
    std::mt19937 rng(7);
    // Dense hex for the block path of the quoted-printable decoder, line ends
    // of every kind, soft breaks and cut escapes.
    const Bytes qpAlphabet = "=3D=C3=BCab cd=\r\n\n\r=4=";
    const Bytes b64Alphabet = "QWJjYZ09+/= \r\n-";
    const Bytes plainAlphabet = "ab.\r\n\r\n\xE9";
    for (int round = 0; round < 600; ++round) {
        Bytes qp = RandomText(rng, qpAlphabet, 400), b64 = RandomText(rng, b64Alphabet, 400),
              plain = RandomText(rng, plainAlphabet, 100);
        // Runs of plain characters for the block copies, escapes close
        // together (with and without hex digits) for the paths that decode a
        // block of them at once, and long stretches without a line end.
        Bytes runs = RandomText(rng, Bytes("abcdefghijkl=\r\n=\xE9", 17), 500), dense;
        while (dense.size() < 400) {
            unsigned pick = rng() % 16;
            if (pick < 9) dense += "=" + RandomText(rng, Bytes("09AFafGz=\xE9 .\r\n", 15), 2);
            else if (pick < 14) dense += RandomText(rng, Bytes("xyz \xFF", 5), 1 + rng() % 4);
            else dense += pick == 14 ? "=\r\n" : "\r\n";
        }
        Bytes stretch = RandomText(rng, "=3D=C3=BCab cd==4=x", 400);
        for (int k = 0; k < 3 && !stretch.empty(); ++k)
            stretch.insert(rng() % stretch.size(), rng() % 2 ? "=\r\n" : "\r\n");
        for (const Bytes &text : {qp, runs, dense, stretch})
            ASSERT_EQ(DecodeText(DecodeQuotedPrintableLines, text), QpByLine(SplitLines(text))) << text;
        ASSERT_EQ(DecodeText(DecodeBase64Lines, b64), ReferenceBase64(b64)) << b64;
        ASSERT_EQ(DecodeText(WriteLinesCrLf, plain), Joined(SplitLines(plain))) << plain;
        // Lines that hold a lone CR or LF, joined by CR LF.
        Lines held;
        for (int k = int(rng() % 4); k > 0; --k) {
            Bytes line = RandomText(rng, "=41a\rb\n=", 30);
            for (size_t at; (at = line.find("\r\n")) != Bytes::npos;) line.erase(at, 1); // no CR LF inside
            held.push_back(line);
        }
        ASSERT_EQ(DecodeText(DecodeQuotedPrintableLines, Joined(held), true), QpByLine(held));
        ASSERT_EQ(DecodeText(DecodeBase64Lines, Joined(held), true), ReferenceBase64(Joined(held)));
        ASSERT_EQ(DecodeText(WriteLinesCrLf, Joined(held), true), Joined(held));
    }
}

TEST(EncodingsDigest, Md5MatchesRfc1321) {
    const struct {
        const char *in, *hex;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) EXPECT_EQ(Md5Hex(c.in, std::strlen(c.in)), c.hex) << c.in;
    // Fed in pieces that straddle the 64-byte blocks.
    clsMd5 md5;
    const char *text = cases[6].in;
    for (size_t i = 0; i < 80; i += 7) md5.Update(text + i, std::min<size_t>(7, 80 - i));
    auto digest = md5.Final();
    EXPECT_EQ(digest[0], 0x57);
    EXPECT_EQ(digest[15], 0x7a);
}

TEST(EncodingsDigest, HmacMd5MatchesRfc2104) {
    const struct {
        Bytes key, data;
        const char *hex;
    } cases[] = {
        {Bytes(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {Bytes(16, '\xAA'), Bytes(50, '\xDD'), "56be34521d144c88dbb8c733f0e8b3f6"},
        // Keys longer than a block are hashed first (RFC 2202).
        {Bytes(80, '\xAA'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        // The CRAM-MD5 example of RFC 2195.
        {"tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>", "b913a602c7eda7a495b4e6e7334d3890"},
    };
    for (const auto &c : cases) EXPECT_EQ(HmacMd5Hex(c.key, c.data), c.hex) << c.data;
}
