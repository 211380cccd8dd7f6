// Hidden temporary files: a file given back and handed out again must not
// carry anything of its earlier owner.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/file_rw_temp.h"

namespace kv {
namespace {

TEST(FileRWTemp, ReusedFilesStartEmpty) {
    for (size_t size : {size_t(0), size_t(1), size_t(70000), size_t(3u << 20)}) {
        const std::string old(size, 'x');
        for (int round = 0; round < 3; ++round) {
            auto first = std::make_unique<clsFileRWTemp>("kvt", ".tmp");
            first->Write(old);
            first.reset();
            clsFileRWTemp next("kvt", ".tmp");
            next.Handle();
            EXPECT_EQ(next.Size(), 0u) << size;
            next.Write("abc");
            EXPECT_EQ(next.ReadAll(), "abc") << size;
        }
    }
}

TEST(FileRWTemp, TruncateThenShorterText) {
    clsFileRWTemp file("kvt", ".tmp");
    file.Write(std::string(100000, 'a'));
    file.Truncate();
    EXPECT_EQ(file.Size(), 0u);
    file.Write("short");
    EXPECT_EQ(file.ReadAll(), "short");
}

} // namespace
} // namespace kv
