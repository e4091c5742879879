#pragma once
// Which socket addresses count as this computer or as not public.
#include <sys/socket.h>

namespace kestrane::http {

bool isLoopbackAddress(const sockaddr* address);
// Loopback, private ranges, shared and link-local ranges, multicast, unique-local, and
// anything that is not IP at all.
bool isPrivateAddress(const sockaddr* address);

}  // namespace kestrane::http
