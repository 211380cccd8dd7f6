#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
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

// The tail block is enciphered before the whole blocks, so the two overlap in
// that order; deciphering runs the other way round. Shorter buffers stay.
TEST(Blowfish, OverlappingTailOrder) {
    clsBlowfish bf(kv::kSettingsStringKey);
    std::vector<uint8_t> plain(13);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 17 + 3);
    auto block = [&](std::vector<uint8_t> &b, size_t at) {
        std::vector<uint8_t> piece(b.begin() + long(at), b.begin() + long(at) + 8);
        bf.Encode(piece.data(), 8);
        std::copy(piece.begin(), piece.end(), b.begin() + long(at));
    };
    std::vector<uint8_t> expected = plain;
    block(expected, 5); // bytes 5..12 first
    block(expected, 0); // then the whole block 0..7
    std::vector<uint8_t> buffer = plain;
    bf.Encode(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, expected);
    bf.Decode(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, plain);
    bf.Encode(buffer.data(), 7);
    EXPECT_EQ(buffer, plain);
}

TEST(Blowfish, KeyStretchedTo72NonZeroBytes) {
    uint8_t key[clsBlowfish::kKeyLength];
    clsBlowfish::PrepareKey(kv::kSettingsStringKey, key);
    EXPECT_EQ(0, std::memcmp(key, "314hqwzn8262", 12));
    // '2' (50): 50*12*97 mod 255 = 60, plus 1; then 61*13*97 mod 255 = 166, plus 1.
    EXPECT_EQ(key[12], 61);
    EXPECT_EQ(key[13], 167);
    // Characters above 127 count as unsigned bytes: 0xFF*9*97 mod 255 = 0, plus 1.
    clsBlowfish::PrepareKey(std::string(9, '\xff'), key);
    EXPECT_EQ(key[9], 1);
}

} // namespace
