// One short composition through the real HyperFrames toolchain that the setup script installs,
// with no network: the frames must animate (GSAP loaded from the local copy) and a loopback
// canary the composition points at must never be reached from inside the render.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "kestrane/graphics/HyperFramesRenderer.hpp"
#include "platform/MediaFixtures.hpp"

using namespace kestrane;
namespace fs = std::filesystem;
namespace kt = kestrane::testing;

namespace {

// Counts connections to a loopback port until stopped.
class Canary {
 public:
  Canary() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
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
  int port() const { return port_; }
  int hits() const { return hits_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> hits_{0};
  std::thread thread_;
};

std::string bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string composition(int canaryPort) {
  return R"(<!doctype html>
<html><head><meta charset="utf-8">
<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>
<style>
  #root { position: relative; width: 320px; height: 180px; overflow: hidden; }
  .bg { position: absolute; inset: 0; background: #102040; }
  .box { position: absolute; left: 10px; top: 60px; width: 60px; height: 60px; background: #ff3366; }
</style></head>
<body>
<div id="root" data-composition-id="main" data-start="0" data-width="320" data-height="180" data-duration="0.5">
  <div class="clip" data-start="0" data-duration="0.5" data-track-index="0">
    <div class="bg"></div>
    <div class="box" id="box"></div>
    <img src="http://127.0.0.1:)" +
         std::to_string(canaryPort) + R"(/canary.png" alt="">
  </div>
</div>
<script>
  window.__timelines = window.__timelines || {};
  const tl = gsap.timeline({ paused: true });
  tl.to("#box", { x: 220, duration: 0.5, ease: "none" }, 0);
  window.__timelines["main"] = tl;
</script>
</body></html>
)";
}

}  // namespace

TEST(RealRender, AHalfSecondCompositionAnimatesOffline) {
  const auto npx = HyperFrames::detectNPX();
  if (!npx || !HyperFrames::detectGSAP(*npx) || !fs::exists("/usr/bin/chromium"))
    GTEST_SKIP() << "the renderer's toolchain is not installed (scripts/setup-graphics.sh)";
  kt::ScratchFolder scratch;
  Canary canary;
  HyperFramesSettings settings;
  settings.workRoot = scratch.path() / "work";
  settings.npx = *npx;
  settings.gsapScript = HyperFrames::detectGSAP(*npx);
  settings.captureTimeout = 300;
  VisualIdea idea;
  idea.name = "Box slide";
  idea.durationSeconds = 0.5;
  idea.kind = GraphicKind::alphaOverlay;

  const fs::path movie = scratch.path() / "box.mov";
  const auto notes =
      HyperFramesRenderer(settings).render(composition(canary.port()), idea, GraphicsCanvas{320, 180, 30}, movie);
  for (const auto& n : notes) EXPECT_EQ(n.find("captured"), std::string::npos) << n;

  const auto frames = HyperFrames::orderedFrames(settings.workRoot / "box-slide-00-00/frames");
  ASSERT_EQ(frames.size(), 15u);
  EXPECT_NE(bytes(frames.front()), bytes(frames.back()));
  EXPECT_TRUE(fs::is_regular_file(movie));
  EXPECT_EQ(canary.hits(), 0);
  // An ordinary account (tests/graphics/as_ordinary_user.sh) can't make a bare network
  // namespace: its render must have run in one inside a user namespace.
  if (::geteuid() != 0) {
    EXPECT_EQ(HyperFrames::networkIsolation(), HyperFrames::NetworkIsolation::userNamespace);
  }
}
