#include "kestrane/http/AddressPolicy.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstring>

namespace kestrane::http {

namespace {

bool isPrivateV4(std::uint32_t ip) {
  const std::uint32_t a = ip >> 24;
  const std::uint32_t b = (ip >> 16) & 0xFF;
  return a == 0 || a == 10 || a == 127 || (a == 169 && b == 254) || (a == 172 && b >= 16 && b < 32) ||
         (a == 192 && b == 168) || (a == 100 && b >= 64 && b < 128) || a >= 224;
}

}  // namespace

bool isLoopbackAddress(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    const std::uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
    return (ip >> 24) == 127;
  }
  if (a->sa_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&ip6)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&ip6)) return ip6.s6_addr[12] == 127;
  }
  return false;
}

bool isPrivateAddress(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    return isPrivateV4(ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr));
  }
  if (a->sa_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&ip6)) {
      std::uint32_t v4;
      std::memcpy(&v4, &ip6.s6_addr[12], 4);
      return isPrivateV4(ntohl(v4));
    }
    const std::uint8_t first = ip6.s6_addr[0];
    return IN6_IS_ADDR_LOOPBACK(&ip6) || IN6_IS_ADDR_UNSPECIFIED(&ip6) || IN6_IS_ADDR_LINKLOCAL(&ip6) ||
           IN6_IS_ADDR_MULTICAST(&ip6) || (first & 0xFE) == 0xFC;
  }
  return true;  // anything that is not IP is not a web server
}

}  // namespace kestrane::http
