// What the component relies on from its platform layer, checked against
// whichever implementation is built: the POSIX stand-ins on Linux, the real
// Windows services (under Wine) for the DLL.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "pal/codepage.h"
#include "pal/idn.h"
#include "pal/registry.h"
#include "pal/stream_window.h"
#include "pal/system.h"

using namespace kv::pal;

namespace {

// A key of its own under HKEY_CURRENT_USER (the POSIX store in a fresh directory).
class RegistryContract : public ::testing::Test {
  protected:
    void SetUp() override {
        auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        dir_ = std::filesystem::temp_directory_path() / ("kvpal" + stamp);
        std::filesystem::create_directories(dir_);
        RegSetStoreRoot(dir_.string()); // no store to place on Windows
        path_ = u"Software\\orkv14-contract-" + std::u16string(stamp.begin(), stamp.end());
    }
    void TearDown() override {
        RegDeleteKeyTree(RegRoot::CurrentUser, path_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path dir_;
    std::u16string path_;
};

TEST_F(RegistryContract, ValuesKeepTheirTypeAndWindowsBytes) {
    auto key = RegCreate(RegRoot::CurrentUser, path_);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetString(u"Text", u"Gr\u00FC\u00DFe \U0001F600"));
    ASSERT_TRUE(key->SetDWord(u"Number", 0x01020304));
    ASSERT_TRUE(key->SetBinary(u"Blob", {0, 255, 7}));
    ASSERT_TRUE(key->SetString(u"Empty", u""));
    ASSERT_TRUE(key->SetBinary(u"None", {}));
    struct Case {
        const char16_t *name;
        RegType type;
        std::vector<uint8_t> data;
    } cases[] = {
        {u"Text", RegType::String, {'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 'e', 0, ' ', 0, 0x3D, 0xD8, 0, 0xDE, 0, 0}},
        {u"Number", RegType::DWord, {4, 3, 2, 1}},
        {u"Blob", RegType::Binary, {0, 255, 7}},
        {u"Empty", RegType::String, {0, 0}},
        {u"None", RegType::Binary, {}},
    };
    auto reopened = RegOpen(RegRoot::CurrentUser, path_);
    ASSERT_TRUE(reopened);
    for (const Case &c : cases) {
        RegValue v;
        ASSERT_TRUE(reopened->GetValue(c.name, v)) << std::string(c.name, c.name + 4);
        EXPECT_EQ(v.type, c.type);
        EXPECT_EQ(v.data, c.data);
    }
    std::u16string text;
    ASSERT_TRUE(reopened->GetString(u"Text", text));
    EXPECT_EQ(text, u"Gr\u00FC\u00DFe \U0001F600");
    EXPECT_FALSE(reopened->GetString(u"Number", text)) << "a DWORD is not a string";
    RegValue missing;
    EXPECT_FALSE(reopened->GetValue(u"Absent", missing));
}

TEST_F(RegistryContract, NamesIgnoreCaseAndKeepTheirSpelling) {
    auto key = RegCreate(RegRoot::CurrentUser, path_ + u"\\Sub\\Deeper");
    ASSERT_TRUE(key) << "intermediate keys are made on the way";
    ASSERT_TRUE(key->SetString(u"ThreadingModel", u"Apartment"));
    ASSERT_TRUE(key->SetString(u"", u"default"));
    auto other = RegOpen(RegRoot::CurrentUser, path_ + u"\\SUB\\deeper", true);
    ASSERT_TRUE(other);
    std::u16string s;
    ASSERT_TRUE(other->GetString(u"THREADINGMODEL", s));
    EXPECT_EQ(s, u"Apartment");
    ASSERT_TRUE(other->GetString(u"", s));
    EXPECT_EQ(s, u"default");
    ASSERT_TRUE(other->SetString(u"threadingmodel", u"Both"));
    std::vector<std::u16string> names = key->ValueNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), u"ThreadingModel"), 1) << "replaced in place, old spelling";
    ASSERT_TRUE(key->DeleteValue(u"THREADINGMODEL"));
    EXPECT_FALSE(key->GetString(u"ThreadingModel", s));
    EXPECT_EQ(RegOpen(RegRoot::CurrentUser, path_)->SubKeyNames(), std::vector<std::u16string>{u"Sub"});
}

TEST_F(RegistryContract, DeleteTreeTakesEverythingBelowAndNothingBeside) {
    ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, path_ + u"\\{X}\\InProcServer32\\Deep")->SetString(u"", u"d"));
    ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, path_ + u"\\{X}")->SetString(u"LoadWithoutCOM", u""));
    ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, path_ + u"\\{Y}")->SetString(u"", u"y"));

    EXPECT_TRUE(RegDeleteKeyTree(RegRoot::CurrentUser, path_ + u"\\{x}"));
    EXPECT_FALSE(RegOpen(RegRoot::CurrentUser, path_ + u"\\{X}\\InProcServer32"));
    EXPECT_FALSE(RegOpen(RegRoot::CurrentUser, path_ + u"\\{X}"));
    EXPECT_EQ(RegOpen(RegRoot::CurrentUser, path_)->SubKeyNames(), std::vector<std::u16string>{u"{Y}"});
    EXPECT_FALSE(RegDeleteKeyTree(RegRoot::CurrentUser, path_ + u"\\{X}")) << "did not exist";
    EXPECT_FALSE(RegDeleteKeyTree(RegRoot::CurrentUser, u"")) << "never a whole root";
    EXPECT_TRUE(RegOpen(RegRoot::CurrentUser, path_ + u"\\{Y}"));
}

TEST(CodePageContract, ConversionsAndWhatCannotBeConverted) {
    struct Case {
        const char *what;
        uint32_t codepage;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"Western", 1252, "Gr\xFC\xDF" "e \x80", u"Gr\u00FC\u00DFe \u20AC"},
        {"Cyrillic", 1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
        {"Latin-1", 28591, "\xE9", u"\u00E9"},
        {"UTF-8", 65001, "\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u20AC\U0001F600"},
        {"UTF-16LE", 1200, std::string("A\0\xAC\x20", 4), u"A\u20AC"},
        {"UTF-16BE", 1201, std::string("\0A\x20\xAC", 4), u"A\u20AC"},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(IsCodePageSupported(c.codepage)) << c.what;
        EXPECT_EQ(ToWide(c.bytes, c.codepage), c.text) << c.what;
        EXPECT_EQ(FromWide(c.text, c.codepage), c.bytes) << c.what;
    }
    // What cannot be converted.
    EXPECT_EQ(FromWide(u"a\u4E00b", 1252), "a?b") << "no such character in the code page";
    std::u16string bad = ToWide("a\xFF" "b", 65001);
    ASSERT_EQ(bad.size(), 3u);
    EXPECT_EQ(bad[1], u'\uFFFD');
    EXPECT_FALSE(IsCodePageSupported(12345));
    EXPECT_EQ(ToWide("x\xE4", 12345), ToWide("x\xE4", 0)) << "an unknown code page converts as the ANSI one";
    EXPECT_EQ(ToWide("", 1252), u"");
    EXPECT_EQ(FromWide(u"", 1252), "");
}

TEST(IdnContract, DomainsInTheirAsciiForm) {
    const std::u16string tooLong(70, u'\u00FC');
    struct Case {
        std::u16string domain;
        const char *ascii; // nullptr: refused
    } cases[] = {
        {u"B\u00FCcher.example", "xn--bcher-kva.example"},
        {u"\u4F8B\u3048.jp", "xn--r8jz45g.jp"},
        {u"plain.example", "plain.example"},
        {tooLong + u".example", nullptr},
        {u"", nullptr},
    };
    for (const Case &c : cases) {
        std::string ascii;
        bool converted = DomainToAscii(c.domain, ascii);
        EXPECT_EQ(converted ? ascii : "(refused)", c.ascii ? c.ascii : "(refused)");
    }
}

TEST(SystemContract, TemporaryFilesAreNewNamedAsAskedAndReadBackWhatWasWritten) {
    std::string a = CreateTempFileName("kvc", ".tmp");
    std::string b = CreateTempFileName("kvc", ".tmp");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    std::string dir = TempDirectory();
    EXPECT_EQ(a.substr(0, dir.size()), dir);
    const std::string name = FileNameOf(a); // the prefix, four unique characters, the suffix
    EXPECT_EQ(name.substr(0, 3) + "|" + name.substr(std::min<size_t>(7, name.size())), "kvc|.tmp") << name;
    EXPECT_TRUE(std::filesystem::exists(a));
    EXPECT_TRUE(DeleteFilePath(b));

    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7);
    FileHandle w = FileOpen(a, true);
    ASSERT_NE(w, kInvalidFile);
    EXPECT_TRUE(FileWrite(w, data.data(), data.size()));
    FileClose(w);
    FileHandle r = FileOpen(a, false);
    ASSERT_NE(r, kInvalidFile);
    std::string back;
    char buffer[4096];
    int64_t n;
    while ((n = FileRead(r, buffer, sizeof buffer)) > 0) back.append(buffer, size_t(n));
    EXPECT_EQ(n, 0) << "the end reads as 0";
    FileClose(r);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(DeleteFilePath(a));
    EXPECT_FALSE(DeleteFilePath(a)) << "already gone";
    EXPECT_EQ(FileOpen(a, false), kInvalidFile);
}

// The bytes of a memory stream written in place: from the stream's position,
// cut after what was used, the position there; bytes before stay.
TEST(StreamWindowContract, WritesInPlaceFromThePositionAndCutsAfterWhatWasUsed) {
    const struct {
        size_t before, size, used;
    } cases[] = {{0, 16, 16}, {0, 5000, 1}, {3, 100000, 99990}, {10, 11, 0}, {0, 0, 0}, {7, 7, 0}};
    for (const auto &c : cases) {
        IStream *stream = nullptr;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        std::string head(c.before, 'h');
        ULONG n = 0;
        ASSERT_EQ(stream->Write(head.data(), ULONG(head.size()), &n), S_OK);
        ULARGE_INTEGER size;
        size.QuadPart = c.size;
        ASSERT_EQ(stream->SetSize(size), S_OK);
        {
            clsStreamWindow window;
            EXPECT_FALSE(window.Open(nullptr));
            // Nothing after the position: not opened, and the stream is left as it was.
            bool opened = window.Open(stream);
            ASSERT_EQ(opened, c.size > c.before) << c.size;
            if (opened) {
                ASSERT_EQ(window.Size(), c.size - c.before);
                for (size_t i = 0; i < c.used; ++i) window.Data()[i] = uint8_t('a' + i % 26);
                window.AddUsed(c.used);
            }
        } // closed here
        STATSTG stat{};
        ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize.QuadPart, c.before + c.used);
        LARGE_INTEGER none{};
        ULARGE_INTEGER at{};
        ASSERT_EQ(stream->Seek(none, STREAM_SEEK_CUR, &at), S_OK);
        EXPECT_EQ(at.QuadPart, c.before + c.used);
        ASSERT_EQ(stream->Write("!", 1, &n), S_OK);
        ASSERT_EQ(stream->Seek(none, STREAM_SEEK_SET, nullptr), S_OK);
        std::string back(c.before + c.used + 2, '\0');
        ASSERT_EQ(stream->Read(back.data(), ULONG(back.size()), &n), S_OK);
        back.resize(n);
        std::string expected = head;
        for (size_t i = 0; i < c.used; ++i) expected += char('a' + i % 26);
        EXPECT_EQ(back, expected + "!");
        stream->Release();
    }
}

} // namespace
