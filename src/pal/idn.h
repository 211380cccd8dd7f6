// International domain names: a domain's ASCII form (A-labels), libidn2 on
// POSIX, IdnToAscii of the system on Windows.
#pragma once

#include <string>
#include <string_view>

namespace kv::pal {

// The domain's ASCII form ("bücher.example" -> "xn--bcher-kva.example");
// false when the domain is not a valid international name.
bool DomainToAscii(std::u16string_view domain, std::string &ascii);

} // namespace kv::pal
