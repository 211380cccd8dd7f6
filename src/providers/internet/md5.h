// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104), for the APOP and CRAM-MD5 logons.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

class clsMd5 {
  public:
    clsMd5();
    void Update(const void *data, size_t size);
    std::array<uint8_t, 16> Final();

  private:
    void Block(const uint8_t *block);
    uint32_t state_[4];
    uint64_t length_ = 0; // bytes so far
    uint8_t buffer_[64];
};

// 32 lower-case hex digits of the digest.
String Md5Hex(const void *bytes, size_t length);
String HmacMd5Hex(std::string_view key, std::string_view data);

} // namespace kv
