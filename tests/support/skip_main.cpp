// The main of suites that skip tests whose peer is missing: exit code 77 when
// nothing failed but something was skipped, so that ctest (SKIP_RETURN_CODE 77)
// shows the suite as skipped rather than passed.
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int failed = RUN_ALL_TESTS();
    if (failed) return failed;
    return ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? 77 : 0;
}
