// A fixture whose registry store lives in a fresh temporary folder (base_),
// in its subfolder store_; the previous store comes back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "pal/registry.h"

namespace testsupport {

class TempRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvregXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base_ = tmpl;
        store_ = base_ + "/store";
        previous_ = kv::pal::RegStoreRoot();
        kv::pal::RegSetStoreRoot(store_);
    }
    void TearDown() override {
        kv::pal::RegSetStoreRoot(previous_);
        std::error_code ec;
        std::filesystem::remove_all(base_, ec);
    }
    std::string base_, store_, previous_;
};

} // namespace testsupport
