// The file-backed store of POSIX systems (the unit tests are not built for Windows).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "orkv14.h"
#include "pal/registry.h"
#include "temp_registry.h"
#include "test_files.h"

namespace fs = std::filesystem;
using namespace kv::pal;

namespace {

using RegistryTest = testsupport::TempRegistry;

// As the system's registry enumerates: subkeys sorted without regard to case,
// values in the order written (a value written again keeps its place).
TEST_F(RegistryTest, EnumerationSortsKeysAndKeepsValueOrder) {
    auto key = RegCreate(RegRoot::CurrentUser, u"E");
    for (auto name : {u"zeta", u"Alpha", u"beta", u"ALPHA2"})
        ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, std::u16string(u"E\\") + name));
    EXPECT_EQ(key->SubKeyNames(), (std::vector<std::u16string>{u"Alpha", u"ALPHA2", u"beta", u"zeta"}));
    for (auto name : {u"z", u"a", u"m", u"A"}) ASSERT_TRUE(key->SetDWord(name, 1));
    EXPECT_EQ(key->ValueNames(), (std::vector<std::u16string>{u"z", u"a", u"m"}));
}

TEST_F(RegistryTest, HostileNamesMalformedPathsAndReadOnlyHandles) {
    const std::u16string names[] = {u"..", u".", u"/", u"../../escape", u"a/b", u"...", u".values",
                                    std::u16string(u"nul\0x", 5), u"%2e%2e", u"~", u"\u00e4\U0001F600",
                                    std::u16string(255, u'\u4e00'), std::u16string(255, u'.')};
    auto parent = RegCreate(RegRoot::CurrentUser, u"H");
    for (const auto &name : names) {
        auto key = RegCreate(RegRoot::CurrentUser, u"H\\" + name);
        ASSERT_TRUE(key && key->SetString(u"v", name)) << name.size();
        auto opened = RegOpen(RegRoot::CurrentUser, u"H\\" + name);
        std::u16string s;
        ASSERT_TRUE(opened && opened->GetString(u"v", s));
        EXPECT_EQ(s, name) << "each name is its own key";
    }
    auto subs = parent->SubKeyNames();
    EXPECT_EQ(subs.size(), std::size(names));
    for (const auto &name : names) EXPECT_NE(std::find(subs.begin(), subs.end(), name), subs.end());
    // Nothing was created outside the store, and the store holds one root.
    auto entries = [](const std::string &dir) {
        std::vector<std::string> out;
        for (auto &e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        return out;
    };
    EXPECT_EQ(entries(base_), std::vector<std::string>{"store"});
    EXPECT_EQ(entries(store_), std::vector<std::string>{"HKEY_CURRENT_USER"});

    for (const auto &name : names) EXPECT_TRUE(RegDeleteKeyTree(RegRoot::CurrentUser, u"H\\" + name));
    EXPECT_TRUE(parent->SubKeyNames().empty());
    EXPECT_TRUE(RegOpen(RegRoot::CurrentUser, u"H"));
    // Malformed paths are refused.
    const std::u16string bad[] = {u"\\lead", u"trail\\", u"a\\\\b", std::u16string(256, u'k')};
    for (const auto &path : bad) {
        EXPECT_FALSE(RegCreate(RegRoot::CurrentUser, path));
        EXPECT_FALSE(RegOpen(RegRoot::CurrentUser, path));
        EXPECT_FALSE(RegDeleteKeyTree(RegRoot::CurrentUser, path));
    }
    // A read-only handle writes nothing.
    ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, u"R")->SetDWord(u"x", 1));
    auto ro = RegOpen(RegRoot::CurrentUser, u"r"); // paths ignore case, as on Windows
    ASSERT_TRUE(ro);
    EXPECT_FALSE(ro->SetDWord(u"x", 2) || ro->SetString(u"y", u"z") || ro->DeleteValue(u"x"));
    RegValue v;
    ASSERT_TRUE(ro->GetValue(u"x", v));
    EXPECT_EQ(v.data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_FALSE(RegOpen(RegRoot::CurrentUser, u"R\\Missing"));
}

TEST_F(RegistryTest, CorruptFilesReadAsEmptyAndLoseNoOtherKey) {
    ASSERT_TRUE(RegCreate(RegRoot::CurrentUser, u"C\\Good")->SetString(u"keep", u"me"));
    auto bad = RegCreate(RegRoot::CurrentUser, u"C\\Bad");
    ASSERT_TRUE(bad && bad->SetString(u"v", u"some text") && bad->SetBinary(u"b", std::vector<uint8_t>(100, 7)));

    // Find the bad key's file: it holds "some text" in UTF-16.
    std::string badFile;
    for (auto &e : fs::recursive_directory_iterator(store_))
        if (e.path().filename() == ".values" && fs::file_size(e.path()) > 120) badFile = e.path().string();
    ASSERT_FALSE(badFile.empty());
    const std::string original = testsupport::ReadFile(badFile);
    const std::string corruptions[] = {
        "", "garbage", original.substr(0, original.size() - 1), std::string(original).replace(30, 1, "\xFF"),
        // a length field claiming far more than the file holds
        std::string(original.substr(0, 9)) + std::string("\xFF\xFF\xFF\x7F", 4) + original.substr(13),
    };
    for (const auto &content : corruptions) {
        testsupport::WriteFile(badFile, content);
        auto key = RegOpen(RegRoot::CurrentUser, u"C\\Bad");
        ASSERT_TRUE(key);
        RegValue v;
        EXPECT_FALSE(key->GetValue(u"v", v));
        EXPECT_TRUE(key->ValueNames().empty());
        std::u16string s;
        auto good = RegOpen(RegRoot::CurrentUser, u"C\\Good");
        ASSERT_TRUE(good && good->GetString(u"keep", s));
        EXPECT_EQ(s, u"me");
        // The key is still listed (under its folded name) and can be written again.
        auto subs = RegOpen(RegRoot::CurrentUser, u"C")->SubKeyNames();
        EXPECT_EQ(subs.size(), 2u);
        ASSERT_TRUE(RegOpen(RegRoot::CurrentUser, u"C\\Bad", true)->SetString(u"again", u"ok"));
        ASSERT_TRUE(key->GetString(u"again", s));
        EXPECT_EQ(s, u"ok");
    }
}

// Another process rewriting the key: no read sees a torn value, and no
// writer's value is lost to the other's write.
TEST_F(RegistryTest, ConcurrentWriterNeverShowsAHalfWrittenKey) {
    auto key = RegCreate(RegRoot::CurrentUser, u"Busy");
    const std::vector<uint8_t> a(256 * 1024, 'A'), b(a.size(), 'B');
    auto name = [](char writer, int i) { std::string n = writer + std::to_string(i); return std::u16string(n.begin(), n.end()); };
    ASSERT_TRUE(key->SetBinary(u"blob", a));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto k = RegOpen(RegRoot::CurrentUser, u"Busy", true);
        bool ok = true;
        for (int i = 0; i < 40 && ok; ++i) ok = k->SetBinary(u"blob", i % 2 ? a : b) && k->SetDWord(name('c', i), 1);
        _exit(ok ? 0 : 1);
    }
    int bad = 0;
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(i >= 40 || key->SetDWord(name('p', i), 1));
        RegValue v;
        bad += !key->GetValue(u"blob", v) || (v.data != a && v.data != b);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(key->ValueNames().size(), 1u + 40u + 40u);
}

TEST_F(RegistryTest, RegistrationFailsWhenTheKeyCannotBeCreated) {
    // A store root that is a file: nothing can be created below it.
    std::string file = base_ + "/not-a-directory";
    std::ofstream(file).put('x');
    RegSetStoreRoot(file);
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
}

} // namespace
