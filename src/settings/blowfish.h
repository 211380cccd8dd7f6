// clsBlowfish: the Blowfish cipher as the settings store uses it. Keys are
// stretched to 72 bytes; blocks are two little-endian words; buffers whose
// length is not a multiple of 8 get an extra, overlapping pass over their
// last eight bytes, so nothing is padded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv {

class clsBlowfish {
  public:
    static constexpr size_t kKeyLength = 72;

    // Prepares the cipher from a key string (stretched to 72 bytes).
    explicit clsBlowfish(std::string_view key);

    // The 72 bytes a key string stretches to.
    static void PrepareKey(std::string_view key, uint8_t (&prepared)[kKeyLength]);

    // The published key schedule over raw key bytes, taken cyclically
    // (1 to 72 bytes).
    void Schedule(const uint8_t *key, size_t length);

    // In place. Below 8 bytes nothing changes and a diagnostic line is written.
    void Encode(uint8_t *buffer, size_t length) const;
    void Decode(uint8_t *buffer, size_t length) const;

    // One block, left and right halves.
    void EncipherBlock(uint32_t &left, uint32_t &right) const;
    void DecipherBlock(uint32_t &left, uint32_t &right) const;

  private:
    clsBlowfish() = default;
    uint32_t F(uint32_t x) const;
    void EncodeBlockAt(uint8_t *p) const;
    void DecodeBlockAt(uint8_t *p) const;

    uint8_t key_[kKeyLength] = {};
    uint32_t p_[18] = {};
    uint32_t s_[4][256] = {};

    friend clsBlowfish MakeRawBlowfish(const uint8_t *key, size_t length);
};

// A cipher scheduled from raw key bytes, without stretching (test vectors).
clsBlowfish MakeRawBlowfish(const uint8_t *key, size_t length);

// The two keys the store uses.
extern const char kPasswordKey[];       // scrambles password values in the registry
extern const char kSettingsStringKey[]; // enciphers settings strings

} // namespace kv
