// The GDI character set that goes with a Windows code page (0 for any other).
#pragma once

#include <cstdint>

namespace kv {

inline uint32_t GdiCharsetForCodePage(uint32_t codepage) {
    switch (codepage) {
    case 437: return 255;
    case 874: return 222;
    case 932: return 128;
    case 936: return 134;
    case 949: return 129;
    case 950: return 136;
    case 1250: return 238;
    case 1251: return 204;
    case 1253: return 161;
    case 1254: return 162;
    case 1255: return 177;
    case 1256: return 178;
    case 1257: return 186;
    case 1258: return 163;
    case 1361: return 130;
    case 10000: return 77;
    default: return 0;
    }
}

} // namespace kv
