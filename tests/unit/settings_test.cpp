#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "settings/blowfish.h"
#include "settings/settings_base64.h"
#include "settings/settings_registry.h"
#include "settings/settings_string.h"

namespace {

using kv::clsOptionList;
using kv::clsVariant;
using Bytes = std::vector<uint8_t>;

struct Writer {
    Bytes b;
    Writer &Le(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Writer &U32(uint32_t v) { return Le(v, 4); }
    Writer &U64(uint64_t v) { return Le(v, 8); }
    Writer &Raw(const void *p, size_t n) {
        b.insert(b.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
        return *this;
    }
    Writer &Text(const char *s) { return U32(uint32_t(std::strlen(s) + 1)).Raw(s, std::strlen(s) + 1); }
    // Pads to whole Base64 groups, as "@1@" strings need.
    Writer &Whole() {
        while (b.size() % 3) b.push_back(0);
        return *this;
    }
};

// A settings string around the given bytes, enciphered as a writer would.
std::u16string Enciphered(Bytes data, const char *markers = "") {
    if (data.size() >= 8) kv::clsBlowfish(kv::kSettingsStringKey).Encode(data.data(), data.size());
    std::string text = std::string("01:") + markers + kv::settings::Base64Encode(data.data(), data.size());
    return std::u16string(text.begin(), text.end());
}

Bytes Deflate(const Bytes &data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), uLong(data.size())), Z_OK);
    out.resize(size);
    return out;
}

clsVariant Typed(VARTYPE vt, uint64_t bits) {
    clsVariant v;
    v.ptr()->vt = vt;
    v.ptr()->ullVal = bits;
    return v;
}

// A list whose entries must survive a refused read.
clsOptionList Prefilled() {
    clsOptionList list;
    list.SetText("SMTP.ServerAddress", u"mail.example.org");
    list.SetInt("SMTP.ServerPort", 25);
    return list;
}

TEST(SettingsBase64, BrokenGroupsAreRefused) {
    for (const char16_t *text : {u"Zg=", u"Zm9", u"Z===", u"====", u"Zg==Zg==", u"Zm=v", u"Zg==Z"}) {
        Bytes out = {1, 2, 3};
        EXPECT_FALSE(kv::settings::Base64Decode(text, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(SettingsRecords, ExactBytesPerTypeAndReaderTags) {
    clsOptionList list;
    list.SetBool("A.Bool", true);
    list.Set("A.Date", Typed(VT_DATE, 0)); // unsupported: tag 0, no data
    clsVariant single;
    single.ptr()->vt = VT_R4;
    single.ptr()->fltVal = 1.5f;
    list.Set("A.Double", single);
    list.Set("A.I2", Typed(VT_I2, uint16_t(-2)));
    list.Set("A.I8", Typed(VT_I8, uint64_t(-3)));
    list.SetText("A.Text", u"hi");
    list.Set("A.UI2", Typed(VT_UI2, 0xFFFF));
    list.Set("A.UI8", Typed(VT_UI8, 0x100000002ull)); // kept whole, not cut to 32 bits

    Writer w;
    w.U32(2).U32(8);
    w.Text("A.Bool").U32(1).U32(1);
    w.Text("A.Date").U32(0);
    w.Text("A.Double").U32(13).U64(0x3FF8000000000000ull);
    w.Text("A.I2").U32(2).U32(0xFFFFFFFE);
    w.Text("A.I8").U32(14).U64(uint64_t(-3));
    w.Text("A.Text").U32(10).Text("hi");
    w.Text("A.UI2").U32(3).U32(0xFFFF);
    w.Text("A.UI8").U32(15).U64(0x100000002ull);
    EXPECT_EQ(kv::SerializeOptionList(list), w.b);
    struct Case {
        uint32_t tag;
        Bytes data;
        VARTYPE vt;
        uint64_t bits; // in the variant's own width
    };
    auto le32 = [](uint32_t v) { return Writer().U32(v).b; };
    auto le64 = [](uint64_t v) { return Writer().U64(v).b; };
    const Case cases[] = {
        {0, {}, VT_EMPTY, 0},
        {1, le32(7), VT_BOOL, uint16_t(VARIANT_TRUE)},
        {2, le32(0xFFFFFFFF), VT_I4, 0xFFFFFFFF},
        {3, le32(0xFFFFFFFF), VT_UI4, 0xFFFFFFFF},
        {8, le32(8), VT_UI4, 8},
        {10, Writer().U32(6).Raw("ab\0cd\0", 6).b, VT_BSTR, 'a'},
        {12, Writer().U32(4).Raw("x\0y\0\0\0z\0", 8).b, VT_BSTR, 'x'},
        {13, le64(0x4004000000000000ull), VT_R8, 0x4004000000000000ull},
        {14, le64(uint64_t(-9)), VT_I8, uint64_t(-9)},
        {15, le64(0xFFFFFFFFFFFFFFFFull), VT_UI8, 0xFFFFFFFFFFFFFFFFull},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        Writer w;
        w.U32(2).U32(1).Text("X.Y").U32(c.tag).Raw(c.data.data(), c.data.size());
        clsOptionList list;
        ASSERT_TRUE(kv::ParseOptionRecords(w.b.data(), w.b.size(), list));
        const clsVariant *v = list.Find("x.y");
        ASSERT_NE(v, nullptr);
        ASSERT_EQ(v->vt(), c.vt);
        const VARIANT &raw = v->get();
        switch (c.vt) {
        case VT_BOOL: EXPECT_EQ(uint16_t(raw.boolVal), c.bits); break;
        case VT_I4:
        case VT_UI4: EXPECT_EQ(raw.ulVal, uint32_t(c.bits)); break;
        case VT_R8:
        case VT_I8:
        case VT_UI8: EXPECT_EQ(raw.ullVal, c.bits); break;
        case VT_BSTR: EXPECT_EQ(v->Text(), c.bits == 'a' ? u"ab" : u"xy"); break; // up to the zero
        default: break;
        }
    }
}

// Cut anywhere, or with a count, length or tag that lies: refused, and the list left alone.
TEST(SettingsRecords, BrokenRecordsAreRefused) {
    clsOptionList source;
    source.SetText("SMTP.ServerAddress", u"host");
    source.SetInt("SMTP.ServerPort", 587);
    source.Set("SMTP.Big", Typed(VT_I8, 1));
    Bytes full = kv::SerializeOptionList(source);
    std::vector<Bytes> cases = {
        Writer().U32(2).U32(0xFFFFFFFF).Text("A.B").U32(0).b,
        Writer().U32(2).U32(1).U32(0xFFFFFFFF).Raw("A.B", 4).U32(0).b,
        Writer().U32(2).U32(1).Text("A.B").U32(10).U32(0xFFFFFFF0).Raw("x", 2).b,
        Writer().U32(2).U32(2).Text("A.Ok").U32(0).Text("A.Bad").U32(11).b, // after a good record
    };
    for (size_t cut = 0; cut < full.size(); ++cut) cases.emplace_back(full.begin(), full.begin() + cut);
    for (const Bytes &data : cases) {
        clsOptionList list = Prefilled();
        EXPECT_FALSE(kv::ParseOptionRecords(data.data(), data.size(), list)) << testing::PrintToString(data);
        EXPECT_EQ(list.Size(), 2u);
        EXPECT_EQ(list.ReadText("SMTP.ServerAddress", u""), u"mail.example.org");
        EXPECT_EQ(list.ReadInt("SMTP.ServerPort", 0), 25);
    }
}

TEST(SettingsString, EmptyListRoundTrip) {
    std::u16string text = kv::WriteSettingsString(clsOptionList());
    EXPECT_EQ(text.size(), 3u + 12u);    // eight bytes: format and count
    EXPECT_NE(text, u"01:AgAAAAAAAAA="); // enciphered, not plain
    clsOptionList list;
    EXPECT_TRUE(kv::ReadSettingsString(text, list));
    EXPECT_EQ(list.Size(), 0u);
}

// "@2@@1@": length + zlib stream; "@2@": length + "ChK_Packed\0" + zlib stream;
// "@1@" alone: unpacked, whole Base64 groups. Whatever is refused leaves the list alone.
TEST(SettingsString, PackedFormsAndRefusedTexts) {
    clsOptionList source;
    source.SetText("SMTP.ServerAddress", u"packed.example.org");
    source.SetInt("SMTP.ServerPort", 25);
    Bytes records = kv::SerializeOptionList(source);
    Bytes z = Deflate(records);
    uint32_t n = uint32_t(records.size());
    auto second = [](uint32_t declared, const Bytes &stream) {
        return Enciphered(Writer().U32(declared).Raw(stream.data(), stream.size()).Whole().b, "@2@@1@");
    };
    auto older = [&](const char *marker) {
        return Enciphered(Writer().U32(n).Raw(marker, 11).Raw(z.data(), z.size()).b, "@2@");
    };
    Bytes zeros = Deflate(Bytes(kv::kMaxUnpackedSettings, 0));
    clsOptionList one;
    one.SetInt("A.B", 1);
    std::u16string good = kv::WriteSettingsString(one);
    struct Case {
        const char *what;
        std::u16string text;
        bool read;
        const char16_t *address = u"mail.example.org"; // afterwards
    } cases[] = {
        {"second form", second(n, z), true, u"packed.example.org"},
        {"older form", older("ChK_Packed"), true, u"packed.example.org"},
        {"whole groups only", Enciphered(Writer().Raw(records.data(), records.size()).Whole().b, "@1@"), true,
         u"packed.example.org"},
        // The bound itself is allowed: 16 MiB of zeros read as a list of no entries.
        {"at the bound", second(kv::kMaxUnpackedSettings, zeros), true},
        {"above the bound", second(kv::kMaxUnpackedSettings + 1, z), false},
        {"truncated stream", second(n, Bytes(z.begin(), z.end() - 3)), false},
        {"not a zlib stream", second(n, Bytes(z.size(), 0x5A)), false},
        {"older form, wrong marker", older("ChK_Pecked"), false},
        {"plain records marked packed", Enciphered(records, "@2@"), false},
        {"empty", u"", false},
        {"another format", u"02:" + good.substr(3), false},
        {"no data at all", u"01:", false},
        {"three bytes: too short for a list", u"01:AAAA", false},
        {"broken Base64 group", good.substr(0, good.size() - 1), false},
        {"deciphers to garbage", good + u"AAAA", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clsOptionList list = Prefilled();
        EXPECT_EQ(kv::ReadSettingsString(c.text, list), c.read);
        EXPECT_EQ(list.Size(), 2u);
        EXPECT_EQ(list.ReadText("SMTP.ServerAddress", u""), c.address);
        EXPECT_EQ(list.ReadInt("SMTP.ServerPort", 0), 25);
    }
}

TEST(SettingsPassword, OptionNames) {
    struct Case {
        const char *key;
        bool password;
    } cases[] = {{"SMTP.ServerPassword", true}, {"@MAPI.ServerPassword", true},
                 {"pop3.proxypassword", true},  {"assword", false},
                 {"SMTP.PasswordHint", false},  {"SMTP.Passwords", false},
                 {"SMTP.OAuth2Token", true},    {"pop3.oauth2token", true},
                 {"SMTP.OAuth2TokenUrl", false}};
    for (const Case &c : cases) EXPECT_EQ(kv::IsPasswordOption(c.key), c.password) << c.key;
}

} // namespace
