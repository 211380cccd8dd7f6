#include <gtest/gtest.h>

#include <cstring>
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

uint32_t BigEndian(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

struct EcbVector {
    const char *key, *clear, *cipher;
};

// Eric Young's ECB test data (key bytes, clear bytes, cipher bytes).
const EcbVector kEcb[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

TEST(BlowfishVectors, EcbTable) {
    for (const EcbVector &v : kEcb) {
        SCOPED_TRACE(v.key);
        std::vector<uint8_t> key = Hex(v.key), clear = Hex(v.clear), cipher = Hex(v.cipher);
        clsBlowfish bf = kv::MakeRawBlowfish(key.data(), key.size());
        uint32_t l = BigEndian(clear, 0), r = BigEndian(clear, 4);
        bf.EncipherBlock(l, r);
        EXPECT_EQ(l, BigEndian(cipher, 0));
        EXPECT_EQ(r, BigEndian(cipher, 4));
        bf.DecipherBlock(l, r);
        EXPECT_EQ(l, BigEndian(clear, 0));
        EXPECT_EQ(r, BigEndian(clear, 4));
    }
}

// Set-key test: fixed clear block, keys of 1 to 24 bytes of one key string.
TEST(BlowfishVectors, KeyLengths) {
    const char *expected[] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
        "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
        "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
        "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
        "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
    };
    std::vector<uint8_t> key = Hex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    std::vector<uint8_t> clear = Hex("FEDCBA9876543210");
    for (size_t n = 1; n <= key.size(); ++n) {
        SCOPED_TRACE(n);
        clsBlowfish bf = kv::MakeRawBlowfish(key.data(), n);
        uint32_t l = BigEndian(clear, 0), r = BigEndian(clear, 4);
        bf.EncipherBlock(l, r);
        std::vector<uint8_t> cipher = Hex(expected[n - 1]);
        EXPECT_EQ(l, BigEndian(cipher, 0));
        EXPECT_EQ(r, BigEndian(cipher, 4));
    }
}

// Buffers hold each half as a little-endian word, left half first.
TEST(BlowfishBuffer, LittleEndianHalves) {
    const uint8_t zeroKey[8] = {};
    clsBlowfish bf = kv::MakeRawBlowfish(zeroKey, sizeof zeroKey);
    uint8_t buffer[8] = {};
    bf.Encode(buffer, sizeof buffer);
    const uint8_t expected[8] = {0x45, 0x97, 0xF9, 0x4E, 0x78, 0xDD, 0x98, 0x61}; // 4EF99745 6198DD78
    EXPECT_EQ(0, std::memcmp(buffer, expected, 8));
    bf.Decode(buffer, sizeof buffer);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8), std::vector<uint8_t>(8, 0));
}

// The tail block is enciphered before the whole blocks, so the two overlap in
// that order; deciphering runs the other way round.
TEST(BlowfishBuffer, OverlappingTailOrder) {
    clsBlowfish bf(kv::kSettingsStringKey);
    std::vector<uint8_t> plain(13);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 17 + 3);

    auto block = [&](std::vector<uint8_t> &b, size_t at) {
        uint32_t l = uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
        uint32_t r = uint32_t(b[at + 4]) | uint32_t(b[at + 5]) << 8 | uint32_t(b[at + 6]) << 16 |
                     uint32_t(b[at + 7]) << 24;
        bf.EncipherBlock(l, r);
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(l >> (8 * i)), b[at + 4 + i] = uint8_t(r >> (8 * i));
    };
    std::vector<uint8_t> expected = plain;
    block(expected, 5); // bytes 5..12 first
    block(expected, 0); // then the whole block 0..7

    std::vector<uint8_t> buffer = plain;
    bf.Encode(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, expected);
    bf.Decode(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, plain);
}

TEST(BlowfishBuffer, RoundTripEveryLength) {
    clsBlowfish bf(kv::kPasswordKey);
    for (size_t n = 0; n <= 41; ++n) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> plain(n);
        for (size_t i = 0; i < n; ++i) plain[i] = uint8_t(i * 31 + n);
        std::vector<uint8_t> buffer = plain;
        bf.Encode(buffer.data(), buffer.size());
        if (n < 8) {
            EXPECT_EQ(buffer, plain); // too short: left alone
        } else {
            EXPECT_NE(buffer, plain);
        }
        bf.Decode(buffer.data(), buffer.size());
        EXPECT_EQ(buffer, plain);
    }
}

TEST(BlowfishKey, StretchedTo72NonZeroBytes) {
    uint8_t key[clsBlowfish::kKeyLength];
    clsBlowfish::PrepareKey(kv::kSettingsStringKey, key);
    EXPECT_EQ(0, std::memcmp(key, "314hqwzn8262", 12));
    // '2' (50): 50*12*97 mod 255 = 60, plus 1; then 61*13*97 mod 255 = 166, plus 1.
    EXPECT_EQ(key[12], 61);
    EXPECT_EQ(key[13], 167);
    for (uint8_t b : key) EXPECT_NE(b, 0);

    // Only the first 72 characters count.
    std::string longKey(72, 'k');
    uint8_t a[clsBlowfish::kKeyLength], b[clsBlowfish::kKeyLength];
    clsBlowfish::PrepareKey(longKey, a);
    clsBlowfish::PrepareKey(longKey + "extra", b);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof a));

    // Characters above 127 count as unsigned bytes: 0xFF*9*97 mod 255 = 0, plus 1.
    clsBlowfish::PrepareKey(std::string(9, '\xff'), a);
    EXPECT_EQ(a[9], 1);
}

} // namespace
