#pragma once
// A listener that only counts who connects to it, for the life of the object: on loopback, or
// on this machine's own address, never anywhere else.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

namespace kestrane::test {

class Canary {
 public:
  explicit Canary(const std::string& address = "127.0.0.1") : address_(address) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::listen(fd_, 16);
    socklen_t length = sizeof at;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
          const int client = ::accept(fd_, nullptr, nullptr);
          if (client >= 0) ::close(client), ++hits_;
        }
      }
    });
  }
  ~Canary() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  Canary(const Canary&) = delete;
  Canary& operator=(const Canary&) = delete;

  const std::string& address() const { return address_; }
  int port() const { return port_; }
  int hits() const { return hits_; }

  // The first IPv4 address of an interface that is up and is not loopback, if there is one.
  static std::optional<std::string> ownAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
          (i->ifa_flags & IFF_LOOPBACK))
        continue;
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
      found = text;
    }
    ::freeifaddrs(list);
    return found;
  }

 private:
  std::string address_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> hits_{0};
  std::thread thread_;
};

}  // namespace kestrane::test
