// Class registration as the registry store sees it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "orkv14.h"
#include "pal/registry.h"
#include "runtime/com_util.h"
#include "temp_registry.h"

namespace kv {
namespace {

using RegistrationTest = testsupport::TempRegistry;

TEST_F(RegistrationTest, RegisterWritesTheClassKeyAndUnregisterRemovesIt) {
    const std::u16string classKey = u"CLSID\\{DEB0E19B-DD04-4128-95A3-C4559F1B43EB}";
    ASSERT_EQ(DllRegisterServer(), S_OK);

    auto key = pal::RegOpen(pal::RegRoot::ClassesRoot, classKey);
    ASSERT_TRUE(key);
    std::u16string value;
    EXPECT_TRUE(key->GetString(u"", value));
    EXPECT_FALSE(value.empty()) << "a descriptive name";
    ASSERT_TRUE(key->GetString(u"LoadWithoutCOM", value));
    EXPECT_EQ(value, u"");
    auto server = pal::RegOpen(pal::RegRoot::ClassesRoot, classKey + u"\\InProcServer32");
    ASSERT_TRUE(server);
    ASSERT_TRUE(server->GetString(u"ThreadingModel", value));
    EXPECT_EQ(value, u"Apartment");
    ASSERT_TRUE(server->GetString(u"", value));
    EXPECT_FALSE(value.empty()) << "the component's own path";

    // A sibling class key must survive.
    ASSERT_TRUE(pal::RegCreate(pal::RegRoot::ClassesRoot, u"CLSID\\{OTHER}"));
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(pal::RegOpen(pal::RegRoot::ClassesRoot, classKey));
    EXPECT_FALSE(pal::RegOpen(pal::RegRoot::ClassesRoot, classKey + u"\\InProcServer32"));
    EXPECT_TRUE(pal::RegOpen(pal::RegRoot::ClassesRoot, u"CLSID\\{OTHER}"));
    EXPECT_EQ(DllUnregisterServer(), S_OK) << "twice is fine";
}

TEST_F(RegistrationTest, RegisterFailsWhenTheKeyCannotBeCreated) {
    // A store root that is a file: nothing can be created below it.
    std::string file = base_ + "/not-a-directory";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    fclose(f);
    pal::RegSetStoreRoot(file);
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
}

} // namespace
} // namespace kv
