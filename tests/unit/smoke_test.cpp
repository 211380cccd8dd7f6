#include <gtest/gtest.h>
#include "runtime/kvstring.h"
TEST(Smoke, Format) { EXPECT_EQ(kv::Format("%d-%ws", 3, u"x"), "3-x"); }
