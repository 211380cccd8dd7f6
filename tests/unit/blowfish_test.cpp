#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "settings/blowfish.h"

namespace {

using kv::clsBlowfish;

std::vector<uint8_t> Hex(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Buffers hold each half as a little-endian word, left half first; the
// published vectors write them big-endian.
std::vector<uint8_t> Swapped(std::vector<uint8_t> b) {
    std::swap(b[0], b[3]), std::swap(b[1], b[2]), std::swap(b[4], b[7]), std::swap(b[5], b[6]);
    return b;
}

TEST(Blowfish, PublishedVectors) {
    std::ifstream in(KV_TEST_DATA_DIR "/blowfish_ecb.txt");
    ASSERT_TRUE(in) << "missing tests/data/blowfish_ecb.txt";
    std::string line, key, clear, cipher;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream(line) >> key >> clear >> cipher;
        std::vector<uint8_t> k = Hex(key), buffer = Swapped(Hex(clear));
        clsBlowfish bf = kv::MakeRawBlowfish(k.data(), k.size());
        bf.Encode(buffer.data(), buffer.size());
        EXPECT_EQ(Swapped(buffer), Hex(cipher)) << line;
        bf.Decode(buffer.data(), buffer.size());
        EXPECT_EQ(Swapped(buffer), Hex(clear)) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 57);
}

} // namespace
