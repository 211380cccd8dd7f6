#include "pal/idn.h"

#include <idn2.h>

#include <cstdlib>

#include "pal/codepage.h"

namespace kv::pal {

bool DomainToAscii(std::u16string_view domain, std::string &ascii) {
    std::string utf8 = FromWide(domain, 65001);
    if (utf8.empty() || utf8.find('\0') != std::string::npos) return false;
    char *out = nullptr;
    // IDNA2008 with the UTS #46 mapping, as browsers and mail clients use it.
    if (idn2_to_ascii_8z(utf8.c_str(), &out, IDN2_NONTRANSITIONAL) != IDN2_OK) return false;
    ascii = out;
    idn2_free(out);
    return true;
}

} // namespace kv::pal
