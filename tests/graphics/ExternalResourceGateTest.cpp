#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "kestrane/graphics/ExternalResourceGate.hpp"

using namespace kestrane;

namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::filesystem::path(KESTRANE_SOURCE_DIR) / "tests/graphics/gate" / (name + ".html"));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string loads(int n, const std::string& list) {
  return "the composition loads " + std::to_string(n) + " external resource" + (n == 1 ? "" : "s") +
         " — " + list +
         ". Graphics must render with no network: use the local font families Kestrane listed, "
         "or embed a face as a data: URI.";
}

}  // namespace

// Each fixture is one way a composition could reach the network, or a clean one that must pass.
TEST(ExternalResourceGate, FixtureCorpus) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"clean-contract", ""},
      {"clean-svg-namespace", ""},
      {"clean-data-images", ""},
      {"comment-in-style", loads(1, "web font https://evil.example/x.woff2")},
      {"comment-in-script",
       loads(2, "external resource https://evil.example/beacon; runtime network call fetch(")},
      {"unclosed-comment", loads(1, "external image https://evil.example/a.png")},
      {"upper-case-scheme", loads(1, "external script HTTPS://EVIL.EXAMPLE/LIB.JS")},
      {"websocket",
       loads(2, "external resource wss://evil.example/live; runtime network call new WebSocket")},
      {"unquoted-srcset",
       loads(2, "external image //evil.example/a.png; external image //evil.example/b.png")},
      {"url-space", loads(1, "external image //evil.example/bg.jpg")},
      {"userinfo",
       loads(1, "external script "
                "https://cdn.jsdelivr.net@evil.example/npm/gsap@3.14.2/dist/gsap.min.js")},
      {"foreign-path-on-cdn",
       loads(2, "external script https://cdn.jsdelivr.net/npm/evil-gsap-plugin@1/dist/x.min.js; "
                "external script https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/ScrollTrigger.min.js")},
      {"w3-lookalike", loads(2, "external resource https://evil.example/www.w3.org/frame; "
                                "external resource https://www.w3.org.evil.example/x")},
      {"data-script", loads(2, "external script data:text/javascript;base64,ZmV0Y2goKQ==; "
                               "external resource data:text/html,")},
      {"spaced-calls", loads(3, "runtime network call fetch(; runtime network call new "
                                "EventSource; runtime network call import(")},
      {"font-service", loads(2, "web font https://fonts.googleapis.com/css2?family=Inter; CSS "
                                "@import @import in the composition's stylesheet")},
      {"escaped-slashes", loads(2, "external image https://evil.example/t.gif; external resource "
                                   "https:evil.example/u")},
      {"many", loads(5, "external image https://a.example/1.png; external media "
                        "https://a.example/2.mp4; external resource https://a.example/page (+2 "
                        "more)")},
  };
  for (const auto& [name, reason] : cases) {
    const std::string html = fixture(name);
    ASSERT_FALSE(html.empty()) << name;
    EXPECT_EQ(ExternalResourceGate::failureReason(ExternalResourceGate::violations(html)), reason)
        << name;
  }
}

TEST(ExternalResourceGate, ReferencesAreCutAndRecordedOnce) {
  const std::string stem = "https://a.example/" + std::string(150, 'x');
  const auto found = ExternalResourceGate::violations("<img src=\"" + stem + "1\"><img src=\"" +
                                                     stem + "2\"> fetch() fetch()");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].reference.size(), 120u);
  EXPECT_EQ(found[1], (ExternalResourceGate::Violation{"runtime network call", "fetch("}));
  // JavaScript names are case-sensitive: Fetch is some other function.
  EXPECT_TRUE(ExternalResourceGate::violations("<script>Fetch(1)</script>").empty());
}
