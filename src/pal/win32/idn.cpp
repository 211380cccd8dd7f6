#include "pal/idn.h"

#include <windows.h>

#include <string>

namespace kv::pal {

bool DomainToAscii(std::u16string_view domain, std::string &ascii) {
    if (domain.empty() || domain.size() > 1024) return false;
    const auto *in = reinterpret_cast<const wchar_t *>(domain.data());
    wchar_t out[1024];
    int n = IdnToAscii(0, in, int(domain.size()), out, 1024);
    if (n <= 0) return false;
    ascii.clear();
    for (int i = 0; i < n; ++i) {
        if (out[i] == 0 || out[i] > 0x7e) return false;
        ascii += char(out[i]);
    }
    return true;
}

} // namespace kv::pal
