#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "runtime/com_util.h"
#include "runtime/file_rw_temp.h"
#include "test_text.h"

namespace kv {
namespace {

TEST(FileRWTemp, ContentsInMemoryActAsTheFileWould) {
    // After reading three bytes: what is done next, and the contents after it.
    using Store = clsFileRWTemp;
    const struct {
        const char *step;
        std::function<void(Store &)> act;
        std::string contents;
    } cases[] = {
        {"nothing", [](Store &) {}, "line one\r\n"},
        {"write", [](Store &s) { s.Write("XYZ"); }, "linXYZne\r\n"},
        {"handle", [](Store &s) { EXPECT_TRUE(s.Handle() != pal::kInvalidFile); }, "line one\r\n"},
        {"truncate", [](Store &s) { s.Truncate(); }, ""},
        {"append",
         [](Store &s) {
             char rest[16];
             EXPECT_EQ(s.Read(rest, sizeof rest), 7u);
             EXPECT_EQ(s.Read(rest, sizeof rest), 0u);
             s.Write("XYZ");
         },
         "line one\r\nXYZ"},
    };
    for (const auto &c : cases) {
        Store store("kvt", ".tmp");
        clsMemoryBlock block;
        ResizeBlock(block, 17); // more room than contents
        std::memcpy(block.get(), "line one\r\n", 10);
        store.KeepInMemory(std::move(block), 10);
        EXPECT_FALSE(store.IsOpen()); // no file until one is needed
        store.Rewind();
        char head[3];
        ASSERT_EQ(store.Read(head, 3), 3u);
        EXPECT_EQ(std::string(head, 3), "lin");
        c.act(store);
        EXPECT_EQ(store.Size(), c.contents.size()) << c.step;
        EXPECT_EQ(store.ReadAll(), c.contents) << c.step;
        clsAutoRelease<IStream> saved(testsupport::StreamOf(""));
        EXPECT_EQ(store.SaveTo(saved.get()), S_OK);
        EXPECT_EQ(StreamBytes(saved.get()), c.contents) << c.step;
    }
}

TEST(FileRWTemp, ReusedFilesStartEmptyAndFilesAreHidden) {
    for (size_t size : {size_t(1), size_t(3u << 20)}) {
        const std::string old(size, 'x');
        for (int round = 0; round < 2; ++round) {
            auto first = std::make_unique<clsFileRWTemp>("kvt", ".tmp");
            first->Write(old);
            first.reset();
            clsFileRWTemp next("kvt", ".tmp");
            next.Handle();
            EXPECT_EQ(next.Size(), 0u) << size;
            next.Write("abc");
            EXPECT_EQ(next.ReadAll(), "abc") << size;
            next.Truncate();
            next.Write("z");
            EXPECT_EQ(next.ReadAll(), "z");
        }
    }
    // A mail's raw text: nothing of its file shows in the temporary directory, neither while in use nor after.
    const char *saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "", dir = ::testing::TempDir() + "kv_raw_text/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    setenv("TMPDIR", dir.c_str(), 1);
    {
        clsFileRWTemp store("chk", ".tmp");
        store.Write(std::string(200000, 'x'));
        EXPECT_NE(store.Handle(), pal::kInvalidFile);
        EXPECT_TRUE(std::filesystem::is_empty(dir));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    if (saved) setenv("TMPDIR", restore.c_str(), 1);
    else unsetenv("TMPDIR");
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kv
