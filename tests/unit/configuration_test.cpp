#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "component/configuration.h"
#include "settings/settings_registry.h"
#include "settings/settings_string.h"
#include "temp_registry.h"

namespace {

using kv::WString;

// The current user's registry (in a fresh store), recording the keys asked for and refusing some.
struct Recorder : kv::clsSettingsRegistry {
    std::set<WString> refused;
    std::vector<WString> opened;

    std::unique_ptr<kv::pal::RegKey> Create(const WString &path) override {
        opened.push_back(path);
        return refused.count(path) ? nullptr : kv::pal::RegCreate(kv::pal::RegRoot::CurrentUser, path);
    }
    std::unique_ptr<kv::pal::RegKey> OpenForReading(const WString &path) override {
        opened.push_back(path);
        return refused.count(path) ? nullptr : kv::pal::RegOpen(kv::pal::RegRoot::CurrentUser, path);
    }
    static WString Get(const WString &path, const WString &name) {
        auto key = kv::pal::RegOpen(kv::pal::RegRoot::CurrentUser, path);
        WString value;
        return key && key->GetString(name, value) ? value : u"<none>";
    }
    static size_t Count(const WString &path) {
        auto key = kv::pal::RegOpen(kv::pal::RegRoot::CurrentUser, path);
        return key ? key->ValueNames().size() : 0;
    }
};

const WString kUserKey = u"software\\Orvane\\orvnkv\\MyApp\\User";
const WString kComputerKey = u"software\\Orvane\\orvnkv\\MyApp\\Computer";

class Configuration : public testsupport::TempRegistry {
  protected:
    void SetUp() override {
        TempRegistry::SetUp();
        kv::SetSettingsRegistry(&registry);
    }
    void TearDown() override {
        kv::SetSettingsRegistry(nullptr);
        for (IKvConfiguration2 *c : made) c->Release();
        TempRegistry::TearDown();
    }
    IKvConfiguration2 *Make() {
        auto *object = new kv::clsKvConfiguration;
        IKvConfiguration2 *c = nullptr;
        EXPECT_EQ(object->QueryInterface(IID_IKvConfiguration2, reinterpret_cast<void **>(&c)), S_OK);
        made.push_back(c);
        return c;
    }
    static kv::clsKvConfiguration &Object(IKvConfiguration2 *c) { return *static_cast<kv::clsKvConfiguration *>(c); }

    Recorder registry;
    std::vector<IKvConfiguration2 *> made;
};

// The user and the global list travel the same way through their own methods.
struct ListMethods {
    const char *name;
    HRESULT (STDMETHODCALLTYPE IKvConfiguration2::*set)(LPCWSTR);
    HRESULT (STDMETHODCALLTYPE IKvConfiguration2::*get)(BSTR *);
    kv::clsOptionList &(kv::clsKvConfiguration::*list)();
};
const ListMethods kLists[] = {
    {"user", &IKvConfiguration2::SetUserParameters, &IKvConfiguration2::GetUserParameters,
     &kv::clsKvConfiguration::UserOptions},
    {"global", &IKvConfiguration2::SetGlobalParameters, &IKvConfiguration2::GetGlobalParameters,
     &kv::clsKvConfiguration::GlobalOptions},
};

TEST_F(Configuration, SettingsStringsPerListAndWhatCannotBeRead) {
    for (const ListMethods &m : kLists) {
        SCOPED_TRACE(m.name);
        IKvConfiguration2 *a = Make(), *b = Make();
        (Object(a).*m.list)().SetText("SMTP.ServerAddress", u"smtp.example.org");
        (Object(a).*m.list)().SetInt("SMTP.ServerPort", 25);
        (Object(b).*m.list)().SetText("POP3.ServerAddress", u"pop.example.org");
        (Object(b).*m.list)().SetInt("smtp.serverport", 110);
        BSTR text = SysAllocString(reinterpret_cast<const OLECHAR *>(u"old contents, freed by the getter"));
        ASSERT_EQ((a->*m.get)(&text), S_OK);
        WString s(reinterpret_cast<const char16_t *>(text), SysStringLen(text));
        SysFreeString(text);
        ASSERT_EQ((b->*m.set)(reinterpret_cast<LPCWSTR>(s.c_str())), S_OK);
        kv::clsOptionList &list = (Object(b).*m.list)();
        EXPECT_EQ(list.Size(), 3u);
        EXPECT_EQ(list.ReadText("SMTP.ServerAddress", u""), u"smtp.example.org");
        EXPECT_EQ(list.ReadInt("SMTP.ServerPort", 0), 25);
        EXPECT_EQ(list.ReadText("POP3.ServerAddress", u""), u"pop.example.org");

        // What cannot be read succeeds and changes nothing.
        for (const char16_t *t : {u"SMTP.ServerPort=26", u"01:!!!"}) EXPECT_EQ((b->*m.set)(reinterpret_cast<LPCWSTR>(t)), S_OK);
        EXPECT_EQ((b->*m.set)(nullptr), S_OK);
        EXPECT_EQ(list.Size(), 3u);
        EXPECT_EQ(list.ReadInt("SMTP.ServerPort", 0), 25);
    }
}

TEST_F(Configuration, WritesBothListsBelowTheApplicationAndReadsThemBack) {
    IKvConfiguration2 *c = Make();
    Object(c).UserOptions().SetText("SMTP.ServerAddress", u"smtp.example.org");
    Object(c).UserOptions().SetInt("SMTP.ServerPort", 25);
    Object(c).UserOptions().SetText("SMTP.ServerPassword", u"secret");
    Object(c).UserOptions().SetText("POP3.ProxyPASSWORD", u"p\u00e4ss");
    Object(c).GlobalOptions().SetBool("POP3.QueryMarksMailsAsRead", true);
    ASSERT_EQ(c->SetParametersToRegistry(reinterpret_cast<LPCWSTR>(u"MyApp"), 3), S_OK);

    EXPECT_EQ(registry.Count(kUserKey), 4u);
    EXPECT_EQ(registry.Get(kUserKey, u"SMTP.ServerAddress"), u"smtp.example.org");
    EXPECT_EQ(registry.Get(kUserKey, u"SMTP.ServerPort"), u"25");
    WString scrambled = registry.Get(kUserKey, u"SMTP.ServerPassword");
    EXPECT_EQ(scrambled.size(), 136u);
    kv::String plain;
    ASSERT_TRUE(kv::UnscramblePassword(scrambled, plain));
    EXPECT_EQ(plain, "secret");
    EXPECT_EQ(registry.Count(kComputerKey), 1u);
    EXPECT_EQ(registry.Get(kComputerKey, u"POP3.QueryMarksMailsAsRead"), u"-1");

    // A second write scrambles afresh and drops values no longer in the list.
    Object(c).UserOptions().Entries().erase(kv::IString("SMTP.ServerAddress"));
    ASSERT_EQ(c->SetParametersToRegistry(reinterpret_cast<LPCWSTR>(u"MyApp"), 1), S_OK);
    EXPECT_EQ(registry.Count(kUserKey), 3u);
    EXPECT_EQ(registry.Get(kUserKey, u"SMTP.ServerAddress"), u"<none>");
    EXPECT_NE(registry.Get(kUserKey, u"SMTP.ServerPassword"), scrambled);

    // The reader unscrambles passwords and keeps the entries it has no value for.
    registry.Create(kUserKey)->SetString(u"SMTP.ServerPassword", u"not*base64"); // undecodable: the entry stays
    IKvConfiguration2 *reader = Make();
    Object(reader).UserOptions().SetText("SMTP.ServerAddress", u"kept");
    Object(reader).UserOptions().SetText("SMTP.ServerPassword", u"old");
    Object(reader).UserOptions().SetInt("SMTP.ServerPort", 1);
    ASSERT_EQ(reader->GetParametersFromRegistry(reinterpret_cast<LPCWSTR>(kUserKey.c_str()), 1), S_OK);
    kv::clsOptionList &list = Object(reader).UserOptions();
    EXPECT_EQ(list.Size(), 4u);
    EXPECT_EQ(list.ReadText("SMTP.ServerAddress", u""), u"kept");
    EXPECT_EQ(list.ReadText("SMTP.ServerPassword", u""), u"old");
    EXPECT_EQ(list.Find("SMTP.ServerPort")->vt(), VT_BSTR);
    EXPECT_EQ(list.ReadText("SMTP.ServerPort", u""), u"25");
    EXPECT_EQ(list.ReadText("POP3.ProxyPassword", u""), u"p\u00e4ss");
    EXPECT_EQ(Object(reader).GlobalOptions().Size(), 0u);
}

TEST_F(Configuration, WriterFlagsAndPathsOfWriterAndReader) {
    const WString global = u"software\\Orvane\\orvnkv\\@@GlobalSettings\\";
    struct Case {
        const char16_t *application;
        DWORD flags;
        std::vector<WString> keys;
    } cases[] = {
        {u"MyApp", 4 | 8 | 0x80000000u, {}},
        {u"MyApp", 1, {kUserKey}},
        {u"MyApp", 2 | 4, {kComputerKey}},
        {nullptr, 3, {global + u"User", global + u"Computer"}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.flags);
        registry.opened.clear();
        EXPECT_EQ(Make()->SetParametersToRegistry(reinterpret_cast<LPCWSTR>(k.application), k.flags), S_OK);
        EXPECT_EQ(registry.opened, k.keys);
    }
    // The reader takes the given key for both lists, or else fixed keys other than the writer's.
    registry.opened.clear();
    Make()->GetParametersFromRegistry(reinterpret_cast<LPCWSTR>(u"any\\given\\key"), 3);
    Make()->GetParametersFromRegistry(nullptr, 3);
    EXPECT_EQ(registry.opened,
              (std::vector<WString>{u"any\\given\\key", u"any\\given\\key", u"software\\Orvane\\orvnkv\\User",
                                    u"software\\Orvane\\orvnkv\\Global"}));
}


// A key that cannot be opened fails the call, but the other list is still
// written or read.
TEST_F(Configuration, RefusedKeyStillTakesTheOtherList) {
    IKvConfiguration2 *c = Make();
    Object(c).GlobalOptions().SetInt("SMTP.ServerPort", 587);
    registry.refused.insert(kUserKey);
    EXPECT_EQ(c->SetParametersToRegistry(reinterpret_cast<LPCWSTR>(u"MyApp"), 3), E_ACCESSDENIED);
    EXPECT_EQ(registry.Get(kComputerKey, u"SMTP.ServerPort"), u"587");
    registry.Create(u"software\\Orvane\\orvnkv\\Global")->SetString(u"SMTP.ServerPort", u"2525");
    EXPECT_EQ(c->GetParametersFromRegistry(nullptr, 3), E_ACCESSDENIED);
    EXPECT_EQ(Object(c).GlobalOptions().ReadText("SMTP.ServerPort", u""), u"2525");
    EXPECT_EQ(c->GetParametersFromRegistry(nullptr, 0), S_OK);
}

} // namespace
