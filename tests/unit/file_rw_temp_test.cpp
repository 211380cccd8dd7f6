// The raw-text store: contents handed over in memory behave as the same
// contents in the file, whatever is done with them next.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/file_rw_temp.h"

namespace kv {
namespace {

clsMemoryBlock Block(const std::string &text) {
    clsMemoryBlock block;
    ResizeBlock(block, text.size() + 7); // more room than contents
    std::memcpy(block.get(), text.data(), text.size());
    return block;
}

std::string Saved(clsFileRWTemp &store) {
    IStream *s = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    EXPECT_EQ(store.SaveTo(s), S_OK);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string out;
    char buf[5];
    for (ULONG n; s->Read(buf, sizeof buf, &n) == S_OK && n > 0;) out.append(buf, n);
    s->Release();
    return out;
}

TEST(FileRWTemp, ContentsInMemoryActAsTheFileWould) {
    // After reading three bytes: what is done next, and the contents after it.
    const struct {
        const char *step;
        std::string contents;
    } cases[] = {
        {"nothing", "line one\r\n"}, {"write", "linXYZne\r\n"}, {"handle", "line one\r\n"},
        {"truncate", ""},           {"load", "other"},       {"append", "line one\r\nXYZ"},
    };
    for (const auto &c : cases) {
        clsFileRWTemp store("kvt", ".tmp");
        store.KeepInMemory(Block("line one\r\n"), 10);
        EXPECT_FALSE(store.IsOpen()); // no file until one is needed
        EXPECT_EQ(store.Size(), 10u);
        store.Rewind();
        char head[3];
        ASSERT_EQ(store.Read(head, 3), 3u);
        EXPECT_EQ(std::string(head, 3), "lin");
        std::string step = c.step;
        if (step == "write") store.Write("XYZ");
        if (step == "handle") {
            EXPECT_TRUE(store.Handle() != pal::kInvalidFile);
        }
        if (step == "truncate") store.Truncate();
        if (step == "load") {
            IStream *s = nullptr;
            ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
            ULONG w = 0;
            s->Write("other", 5, &w);
            EXPECT_EQ(store.LoadFrom(s), S_OK);
            s->Release();
        }
        if (step == "append") {
            char rest[16];
            EXPECT_EQ(store.Read(rest, sizeof rest), 7u);
            EXPECT_EQ(store.Read(rest, sizeof rest), 0u);
            store.Write("XYZ");
        }
        EXPECT_EQ(store.Size(), c.contents.size()) << c.step;
        EXPECT_EQ(store.ReadAll(), c.contents) << c.step;
        EXPECT_EQ(Saved(store), c.contents) << c.step;
    }
}

} // namespace
} // namespace kv
