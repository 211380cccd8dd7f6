// Included by both socket implementations after their own socket headers:
// getaddrinfo's list and the address texts look the same on Winsock and BSD.
#include <cstring>
#include <string>
#include <vector>

namespace kv::pal {

namespace {
// The IPv4 and IPv6 entries of a getaddrinfo list, in its order.
void CollectAddresses(const addrinfo *list, std::vector<SocketAddress> &addresses) {
    for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) || ai->ai_addrlen > sizeof(SocketAddress::storage))
            continue;
        SocketAddress a;
        a.family = ai->ai_family;
        a.length = uint32_t(ai->ai_addrlen);
        std::memcpy(a.storage, ai->ai_addr, ai->ai_addrlen);
        addresses.push_back(a);
    }
}
} // namespace

bool InetAddr6(const std::string &text, unsigned char address[16]) {
    return inet_pton(AF_INET6, text.c_str(), address) == 1;
}

std::string AddressText(const SocketAddress &address) {
    char text[INET6_ADDRSTRLEN] = "";
    const void *raw = address.family == AF_INET6
                          ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 *>(address.storage)->sin6_addr)
                          : static_cast<const void *>(&reinterpret_cast<const sockaddr_in *>(address.storage)->sin_addr);
    if (!inet_ntop(address.family, raw, text, sizeof text)) return std::string();
    return text;
}

} // namespace kv::pal
