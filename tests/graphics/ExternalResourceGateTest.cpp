#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "kestrane/graphics/EscapeDecoding.hpp"
#include "kestrane/graphics/ExternalResourceGate.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "TrickyStatements.hpp"

using namespace kestrane;

namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::filesystem::path(KESTRANE_SOURCE_DIR) / "tests/graphics/gate" / (name + ".html"));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string loads(int n, const std::string& list) {
  return "the composition loads " + std::to_string(n) + " external resource" + (n == 1 ? "" : "s") + " — " + list +
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
      {"comment-in-script", loads(2, "external resource https://evil.example/beacon; runtime network call fetch(")},
      {"unclosed-comment", loads(1, "external image https://evil.example/a.png")},
      {"upper-case-scheme", loads(1, "external script HTTPS://EVIL.EXAMPLE/LIB.JS")},
      {"websocket", loads(2, "external resource wss://evil.example/live; runtime network call new WebSocket")},
      {"unquoted-srcset", loads(2, "external image //evil.example/a.png; external image //evil.example/b.png")},
      {"url-space", loads(1, "external image //evil.example/bg.jpg")},
      {"userinfo", loads(1,
                         "external script "
                         "https://cdn.jsdelivr.net@evil.example/npm/gsap@3.14.2/dist/gsap.min.js")},
      {"foreign-path-on-cdn",
       loads(2,
             "external script https://cdn.jsdelivr.net/npm/evil-gsap-plugin@1/dist/x.min.js; "
             "external script https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/ScrollTrigger.min.js")},
      {"w3-lookalike", loads(2,
                             "external resource https://evil.example/www.w3.org/frame; "
                             "external resource https://www.w3.org.evil.example/x")},
      {"data-script", loads(2,
                            "external script data:text/javascript;base64,ZmV0Y2goKQ==; "
                            "external resource data:text/html,")},
      {"spaced-calls", loads(3,
                             "runtime network call fetch(; runtime network call new "
                             "EventSource; runtime network call import(")},
      {"font-service", loads(2,
                             "web font https://fonts.googleapis.com/css2?family=Inter; CSS "
                             "@import @import in the composition's stylesheet")},
      {"escaped-slashes", loads(2,
                                "external image https://evil.example/t.gif; external resource "
                                "https:evil.example/u")},
      {"many", loads(5,
                     "external image https://a.example/1.png; external media "
                     "https://a.example/2.mp4; external resource https://a.example/page (+2 "
                     "more)")},
  };
  for (const auto& [name, reason] : cases) {
    const std::string html = fixture(name);
    ASSERT_FALSE(html.empty()) << name;
    EXPECT_EQ(ExternalResourceGate::failureReason(ExternalResourceGate::violations(html)), reason) << name;
  }
}

TEST(ExternalResourceGate, ReferencesAreCutAndRecordedOnce) {
  const std::string stem = "https://a.example/" + std::string(150, 'x');
  const auto found =
      ExternalResourceGate::violations("<img src=\"" + stem + "1\"><img src=\"" + stem + "2\"> fetch() fetch()");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].reference.size(), 120u);
  EXPECT_EQ(found[1], (ExternalResourceGate::Violation{"runtime network call", "fetch("}));
  // JavaScript names are case-sensitive: Fetch is some other function.
  EXPECT_TRUE(ExternalResourceGate::violations("<script>Fetch(1)</script>").empty());
}

namespace {

struct Evasion {
  const char* name;
  std::string html;
  std::string expected;  // one violation's description the gate must report
};

// Hand-made ways of writing a network reference so that a plain text scan misses it: character
// references, CSS and script escapes, split schemes, computed and aliased calls.
const std::vector<Evasion>& evasions() {
  static const std::vector<Evasion> all{
      {"decimal reference colon", R"h(<img src="https&#58;//evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"hex reference colon", R"h(<img src="https&#x3A;//evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"padded upper-case hex reference", R"h(<img src="https&#X00003a;//evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"reference without semicolon", R"h(<img src="https&#58//evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"slashes as references", R"h(<img src="&#47;&#47;evil.example/a.png">)h", "external image //evil.example/a.png"},
      {"named colon", R"h(<img src="https&colon;//evil.example/a.png">)h", "external image https://evil.example/a.png"},
      {"named slashes", R"h(<img src="https:&sol;&sol;evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"scheme letters as references", R"h(<img src="&#104;&#116;&#116;&#112;&#115;://evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"reference inside url()", R"h(<div style="background:url(https&#58;//evil.example/b.jpg)">)h",
       "external image https://evil.example/b.jpg"},
      {"quote references around url()", R"h(<div style="background:url(&quot;//evil.example/b.jpg&quot;)"></div>)h",
       "external image //evil.example/b.jpg"},
      {"tab reference in scheme", R"h(<img src="ht&Tab;tps://evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"newline reference between slashes", R"h(<img src="https:/&NewLine;/evil.example/a.png">)h",
       "external image https://evil.example/a.png"},
      {"raw tab in scheme", "<img src=\"htt\tps://evil.example/a.png\">", "external image https://evil.example/a.png"},
      {"raw line break in scheme", "<img src=\"https:\n//evil.example/a.png\">",
       "external image https://evil.example/a.png"},
      {"css hex escape", R"h(<style>body{background:url(\68ttps://evil.example/b.jpg)}</style>)h",
       "external image https://evil.example/b.jpg"},
      {"css escape ended by a blank", R"h(<style>body{background:url(\68 ttps://evil.example/b.jpg)}</style>)h",
       "external image https://evil.example/b.jpg"},
      {"css six-digit escape", R"h(<style>body{background:url("\000068ttps://evil.example/b.jpg")}</style>)h",
       "external image https://evil.example/b.jpg"},
      {"css escaped slashes", R"h(<style>i{background:url(\2f\2f evil.example/b.jpg)}</style>)h",
       "external image //evil.example/b.jpg"},
      {"css escaped colon", R"h(<style>i{background:url(https\3a //evil.example/b.jpg)}</style>)h",
       "external image https://evil.example/b.jpg"},
      {"css backslash-slashes", R"h(<style>i{background:url(\/\/evil.example/b.jpg)}</style>)h",
       "external image //evil.example/b.jpg"},
      {"css escaped import", R"h(<style>@\69mport "theme.css";</style>)h",
       "CSS @import @import in the composition's stylesheet"},
      {"css escape in a style attribute", R"h(<div style="background:url(\68ttps://evil.example/b.jpg)"></div>)h",
       "external image https://evil.example/b.jpg"},
      {"css escape in a font host",
       R"h(<style>@font-face{src:url(https://fonts.g\73tatic.com/s/inter.woff2)}</style>)h",
       "web font https://fonts.gstatic.com/s/inter.woff2"},
      {"script hex escape", R"h(<script>img.src = "\x68ttps://evil.example/a.png";</script>)h",
       "external image https://evil.example/a.png"},
      {"script unicode escape", R"h(<script>img.src = "\u0068ttps://evil.example/a.png";</script>)h",
       "external image https://evil.example/a.png"},
      {"script code point escape", R"h(<script>img.src = "\u{68}ttps://evil.example/a.png";</script>)h",
       "external image https://evil.example/a.png"},
      {"script escaped slashes", R"h(<script>img.src = "https:\u002f\u002fevil.example/a.png";</script>)h",
       "external image https://evil.example/a.png"},
      {"escaped identifier", R"h(<script>\u0066etch("/x");</script>)h", "runtime network call fetch("},
      {"computed lookup", R"h(<script>window["fetch"]("/x");</script>)h", "runtime network call fetch("},
      {"escaped computed lookup", R"h(<script>window["\x66etch"]("/x");</script>)h", "runtime network call fetch("},
      {"call through call()", R"h(<script>fetch.call(window, "/x");</script>)h", "runtime network call fetch("},
      {"aliased", R"h(<script>const f = fetch; f("/x");</script>)h", "runtime network call fetch("},
      {"constructor through window", R"h(<script>const s = new window.WebSocket(u);</script>)h",
       "runtime network call new WebSocket"},
      {"constructed by reflection", R"h(<script>Reflect.construct(EventSource, [u]);</script>)h",
       "runtime network call new EventSource"},
      {"escaped constructor name", R"h(<script>const s = new Web\u0053ocket(u);</script>)h",
       "runtime network call new WebSocket"},
      {"handler with a reference", R"h(<img src="a.png" onerror="&#102;etch('/x')">)h", "runtime network call fetch("},
      {"handler with a script escape", R"h(<body onload="\u0066etch('/x')"></body>)h", "runtime network call fetch("},
      {"javascript address", R"h(<a href="javascript:window['fetch']('/x')">go</a>)h", "runtime network call fetch("},
      {"document in srcdoc", R"h(<iframe srcdoc="&lt;img src=&quot;https://evil.example/a.png&quot;&gt;"></iframe>)h",
       "external image https://evil.example/a.png"},
      {"userinfo as a reference", R"h(<script src="https://cdn.jsdelivr.net&commat;evil.example/x.js"></script>)h",
       "external script https://cdn.jsdelivr.net@evil.example/x.js"},
      {"backslashes for slashes", R"h(<img src="https:\\evil.example\a.png">)h",
       "external image https://evil.example/a.png"},
      {"refresh to another host", R"h(<meta http-equiv="refresh" content="0;url=//evil.example/">)h",
       "external resource //evil.example/"},
      // Addresses without a scheme, whatever their host looks like, in markup and styles.
      {"dotless host", R"h(<img src="//intranet/logo.png">)h", "external image //intranet/logo.png"},
      {"dotless host unquoted", R"h(<img src=//intranet/logo.png>)h", "external image //intranet/logo.png"},
      {"dotless host in a srcset", R"h(<img srcset="http://intranet/x.png 1x">)h",
       "external image http://intranet/x.png"},
      {"dotless host in a later srcset entry", R"h(<img srcset="a.png 1x, //intranet/x.png 2x">)h",
       "external image //intranet/x.png"},
      {"numeric host", R"h(<img src="//2130706433/x.png">)h", "external image //2130706433/x.png"},
      {"ideographic full stop", "<img src=\"//evil\u3002example/x.png\">", "external image //evil\u3002example/x.png"},
      {"fullwidth full stop", "<img src=\"//evil\uFF0Eexample/x.png\">", "external image //evil\uFF0Eexample/x.png"},
      {"halfwidth full stop", "<img src=\"//evil\uFF61example/x.png\">", "external image //evil\uFF61example/x.png"},
      {"fullwidth dots in a loopback address", "<img src=\"//127\uFF0E0\uFF0E0\uFF0E1/\">",
       "external resource //127\uFF0E0\uFF0E0\uFF0E1/"},
      {"fullwidth dots in a script string", "<script>img.src = \"//127\uFF0E0\uFF0E0\uFF0E1/x.png\";</script>",
       "external image //127\uFF0E0\uFF0E0\uFF0E1/x.png"},
      {"hex host in css url()", R"h(<style>i{background:url(//0x7f000001/)}</style>)h",
       "external resource //0x7f000001/"},
      {"dotless host in css url()", R"h(<div style="background:url('//intranet/b.jpg')"></div>)h",
       "external image //intranet/b.jpg"},
      {"comment marks inside css url()", R"h(<style>i{background:url(//evil.example/*/x.png)} /* */</style>)h",
       "external image //evil.example/*/x.png"},
      {"slashes in a regular expression",
       R"h(<script>const r = /\/\//; img.src = "https://evil.example/a.png";</script>)h",
       "external image https://evil.example/a.png"},
      // Comment ends a browser honours.
      {"empty comment", R"h(<!--><img src="https://evil.example/a.png"><!-- -->)h",
       "external image https://evil.example/a.png"},
      {"empty comment with a dash", R"h(<!---><img src="https://evil.example/a.png"><!-- -->)h",
       "external image https://evil.example/a.png"},
      {"comment closed with a bang", R"h(<!-- x --!><img src="https://evil.example/a.png"> -->)h",
       "external image https://evil.example/a.png"},
      // Documents shown in a frame run their scripts.
      {"svg document in an iframe", R"h(<iframe src="data:image/svg+xml;base64,PHN2Zy8+"></iframe>)h",
       "external resource data:image/svg+xml;base64,PHN2Zy8+"},
      {"svg document in an object", R"h(<object data="data:image/svg+xml,%3Csvg%2F%3E"></object>)h",
       "external resource data:image/svg+xml,%3Csvg%2F%3E"},
      {"svg document in an embed", R"h(<embed type="image/svg+xml" src="data:image/svg+xml;utf8,x">)h",
       "external resource data:image/svg+xml;utf8,x"},
      // Peer connections reach their ICE servers.
      {"prefixed peer connection",
       R"h(<script>new webkitRTCPeerConnection({iceServers: [{urls: "stun:198.51.100.7:3478"}]});</script>)h",
       "runtime network call webkitRTCPeerConnection"},
      {"stun server",
       R"h(<script>new webkitRTCPeerConnection({iceServers: [{urls: "stun:198.51.100.7:3478"}]});</script>)h",
       "external resource stun:198.51.100.7:3478"},
      {"bare turn server", R"h(<script>const servers = [{urls: "turn:relay.example", credential: "x"}];</script>)h",
       "external resource turn:relay.example"},
  };
  return all;
}

bool reports(const std::vector<ExternalResourceGate::Violation>& found, const std::string& what) {
  for (const auto& v : found)
    if (v.description() == what) return true;
  return false;
}

}  // namespace

TEST(ExternalResourceGate, EscapedAndIndirectReferencesAreRefused) {
  for (const Evasion& e : evasions()) {
    const auto found = ExternalResourceGate::violations(e.html);
    std::string got;
    for (const auto& v : found) got += "[" + v.description() + "] ";
    EXPECT_TRUE(reports(found, e.expected)) << e.name << ": " << got;
  }
}

// What the escapes must not turn into a refusal: ordinary words next to the API names, entities
// in visible text, times, CSS content escapes and comments.
TEST(ExternalResourceGate, CleanGraphicsPass) {
  const std::string gsap = R"h(<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>)h";
  const std::vector<std::pair<const char*, std::string>> clean{
      {"new features title", "<h1>Three new features, explained</h1>"},
      {"new features in a script", gsap + R"h(<script>title.textContent = "Three new features, explained";</script>)h"},
      {"plural API-like words", "<h1>The new EventSources report</h1><p>new WebSockets course</p>"},
      {"fetch in prose", "<p>We fetch the numbers daily</p>"},
      {"fetch in a script string", R"h(<script>note.textContent = "Data you fetch later";</script>)h"},
      {"entities in text", "<p>Tom &amp; Jerry &mdash; 5&#37; off&colon; now &lt;3</p>"},
      {"css content escape", R"h(<style>.dash::before{content:"\2014";color:#f50}</style>)h"},
      {"times and ratios", "<p>12:30 — shot at 16:9, a:hover stays</p>"},
      {"ternary over a comment", "<script>const x = ok ? a :\n// fallback\nb;</script>"},
      {"constructors of other things",
       gsap + "<script>const d = new Date(); const a = new Array(3); tl.to('#t', {x: 1});</script>"},
      {"svg namespace and data image",
       R"h(<svg xmlns="http://www.w3.org/2000/svg"><image href="data:image/png;base64,iVBORw0KGgo="/></svg>)h"},
      {"svg data image outside a frame", R"h(<img src="data:image/svg+xml;base64,PHN2Zy8+">)h"},
      {"call-like prose", "<p>Catch, fetch (and drop) the ball.</p><p>Rice import (2024): 3 t</p>"},
      {"addresses in css comments",
       "<style>/* palette from https://example.com/colors.css and //intranet/x.png */ .a{color:red}</style>"},
      {"addresses and calls in script comments",
       gsap + "<script>// eased as in https://gsap.com/docs/v3/ and fetch() nothing\n"
              "tl.to('#a', {x: 1}); /* see //intranet/notes and new WebSocket(u) */</script>"},
      {"a comment in a handler", R"h(<body onload="start(); // from https://example.com/guide"></body>)h"},
      {"your turn", "<p>Your turn: pick a colour.</p>"},
      {"kinetic word list", gsap + R"h(<script>const words = ["Teach","your","dog","to","fetch"];
words.forEach((w, i) => tl.to(`#w${i}`, {opacity: 1}));</script>)h"},
      {"a call-like phrase in a script string",
       gsap + "<script>caption.textContent = \"\u2026 see the fetch (x) guide\";</script>"},
      {"an HTML tag that ends an svg",
       "<svg><text>Revenue <span>up</span></text></svg>" + gsap +
           "<script>if (a < b) tl.to('#a', {x: 1}); // https://gsap.com/docs\n</script>"},
      {"svg bar chart with a foreignObject label",
       R"h(<svg viewBox="0 0 100 50"><rect width="10" height="40"/><foreignObject x="0" y="40" width="40" height="10">)h"
       R"h(<div xmlns="http://www.w3.org/1999/xhtml" class="label">Q1 <b>up</b></div></foreignObject></svg>)h" +
           gsap +
           "<script>for (let i = 0; i < 4; i++) tl.to(`#bar${i}`, {scaleY: 1}); // https://gsap.com/docs\n</script>"},
  };
  for (const auto& [name, html] : clean) {
    std::string got;
    for (const auto& v : ExternalResourceGate::violations(html)) got += "[" + v.description() + "] ";
    EXPECT_EQ(got, "") << name;
  }
}

// A quoted reference is cut by characters, so the README and the terminal never get half a
// character.
TEST(ExternalResourceGate, LongReferencesAreCutByCharacters) {
  std::string tail;
  for (int i = 0; i < 150; ++i) tail += "é";
  const auto found = ExternalResourceGate::violations("<img src=\"https://evil.example/" + tail + "\">");
  ASSERT_EQ(found.size(), 1u);
  const std::string& reference = found[0].reference;
  EXPECT_EQ(reference, "https://evil.example/" + tail.substr(0, (120 - 21) * 2));
}

namespace {

std::string described(const std::vector<ExternalResourceGate::Violation>& found) {
  std::string got;
  for (const auto& v : found) got += "[" + v.description() + "] ";
  return got;
}

}  // namespace

// The gate splits the document where the browser splits it: a comment mark in an attribute, a
// "<!--" line in a script or an unsure slash must not hide live code, whatever is encoded how
// often the browser decodes it is read, and clean code next to such marks still passes.
TEST(ExternalResourceGate, ReadsTheDocumentAsTheBrowserDoes) {
  const std::string fetch = "fetch(\"https://x.example/\")";
  const std::string evil = "fetch(\"https://evil.example/x\")";
  const std::vector<Evasion> refused{
      {"division then quoted slashes", "<script>q = (a) / 2; s = '/'; t = '//'; " + fetch + "</script>",
       "runtime network call fetch("},
      {"quote inside a template substitution", "<script>t = `${'`'}`; u = '//'; " + fetch + "</script>",
       "runtime network call fetch("},
      {"image after a division",
       R"h(<script>q = (a) / 2; s = '/'; t = '//'; img.src = "https://x.example/a.png"</script>)h",
       "external image https://x.example/a.png"},
      {"socket after a template", R"h(<script>t = `${'`'}`; u = '//'; new WebSocket("wss://x.example/")</script>)h",
       "runtime network call new WebSocket"},
      {"html comment line in a script", "<script>x = 1;\n<!-- `\n` /* `\n" + fetch + "\n/* */</script>",
       "runtime network call fetch("},
      {"script kept open by <!--<script>", "<script><!--<script></script>\nx = 1; <!-- \n" + fetch + "\n--></script>",
       "runtime network call fetch("},
      {"comment mark in an attribute", R"h(<img alt="<!--" src="https://x.example/a.png"><p>--></p>)h",
       "external image https://x.example/a.png"},
      {"script tag in an attribute", R"h(<p title="<script>">see <img src="https://x.example/a.png"> //</p></script>)h",
       "external image https://x.example/a.png"},
      {"style tag in an attribute", "<p title='<style>'>\n/*<img src=\"https://x.example/a.png\">*/</style>",
       "external image https://x.example/a.png"},
      {"srcdoc encoded twice",
       R"h(<iframe srcdoc="&lt;img src=&quot;https&amp;#58;//x.example/a.png&quot;&gt;"></iframe>)h",
       "external image https://x.example/a.png"},
      {"svg frame after a < in an attribute",
       R"h(<iframe title="<" src="data:image/svg+xml;base64,PHN2Zy8+"></iframe>)h",
       "external resource data:image/svg+xml;base64,PHN2Zy8+"},
      {"base64 data stylesheet",
       R"h(<link rel="stylesheet" href="data:text/css;base64,Ym9keXtiYWNrZ3JvdW5kOnVybChodHRwczovL3guZXhhbXBsZS9iLnBuZyl9">)h",
       "external image https://x.example/b.png"},
      {"address after a blank", R"h(<img src=" //intranet/a.png">)h", "external image //intranet/a.png"},
      {"percent-encoded dots", R"h(<script>img.src = "//127%2e0%2e0%2e1/a.png";</script>)h",
       "external image //127%2e0%2e0%2e1/a.png"},
      {"fullwidth digits",
       "<script>img.src = \"//\uFF12\uFF11\uFF13\uFF10\uFF17\uFF10\uFF16\uFF14\uFF13\uFF13/a.png\";</script>",
       "external image //\uFF12\uFF11\uFF13\uFF10\uFF17\uFF10\uFF16\uFF14\uFF13\uFF13/a.png"},
      {"css url( spelled with an escape", R"h(<style>i{background:\75rl(//x.example/*/a.png)} /* */</style>)h",
       "external image //x.example/*/a.png"},
      {"script in svg that may be markup", "<svg><script>// <img src=\"https://x.example/a.png\">\n</script></svg>",
       "external image https://x.example/a.png"},
      {"script after an svg the parser keeps open",
       "<svg><foreignObject><div></svg></div></foreignObject><script>// <img src=\"https://x.example/a.png\">\n"
       "</script></svg>",
       "external image https://x.example/a.png"},
      {"script after an svg a stray </math> leaves open",
       "<svg></math><script>// <img src=\"https://x.example/a.png\">\n</script></svg>",
       "external image https://x.example/a.png"},
      // A comment between tokens changes nothing, and an expression follows extends and default.
      {"comment between a statement head and its parenthesis",
       "<script>if /**/ (a) /'/.test(s); t = '//'; " + evil + "</script>", "runtime network call fetch("},
      {"comment after a dot", "<script>x = o./**/return / 2; s2 = '/'; t = '//'; " + evil + "</script>",
       "runtime network call fetch("},
      {"regular expression after extends",
       "<script>class A extends /'/.constructor {}; t = '//'; " + evil + "</script>", "runtime network call fetch("},
      {"regular expression after export default",
       "<script type=\"module\">export default /'/; t = '//'; " + evil + "</script>", "runtime network call fetch("},
  };
  for (const Evasion& e : refused) EXPECT_TRUE(reports(ExternalResourceGate::violations(e.html), e.expected)) << e.name;

  const std::string gsap = R"h(<script src="https://cdn.jsdelivr.net/npm/gsap@3.14.2/dist/gsap.min.js"></script>)h";
  const std::vector<std::pair<const char*, std::string>> clean{
      {"division before a comment",
       gsap + "<script>const mid = (a + b) / 2; // see https://example.com/notes\n</script>"},
      {"increment and division before a comment", "<script>const r = i++ / 2; // see https://example.com/x\n</script>"},
      {"template and quoted slashes",
       "<script>el.textContent = `${n}/${total}`; // from https://example.com/x\nconst s = '/', t = '//';</script>"},
      {"regular expression after a statement head", "<script>if (a) /x/.test(s); // https://example.com/y\n</script>"},
      {"comment marks in attributes", R"h(<p title="a <!-- b <script>">x</p><p>-- not closed</p>)h"},
      {"inline svg with a style, then a script",
       "<svg><title>Chart</title><style>.a{fill:red}</style></svg>" + gsap +
           "<script>for (let i = 0; i < 3; i++) tl.to('#a', {x: i}); // https://gsap.com/docs\n</script>"},
      {"html-like comments in a script",
       "<script><!-- https://example.com/old\nx = 1;\n--> https://example.com/z\n</script>"},
  };
  for (const auto& [name, html] : clean) EXPECT_EQ(described(ExternalResourceGate::violations(html)), "") << name;
}

// Whatever valid script surrounds it on its line, a call placed between two statements is live
// code.
TEST(ExternalResourceGate, AFetchOutsideCommentsIsAlwaysRefused) {
  std::mt19937 random(38);
  for (int run = 0; run < 3000; ++run) {
    const std::size_t count = 1 + random() % 10, at = random() % (count + 1);
    const std::string program = test::scriptWithLiveCall(count, at, [&](std::size_t) { return random(); });
    const auto found = ExternalResourceGate::violations("<script>" + program + "</script>");
    ASSERT_TRUE(reports(found, "runtime network call fetch(") && reports(found, "external resource https://x.example/"))
        << program;
  }
}

// A stop ends a scan of any length and shape: one already requested, and one requested from
// another thread while the scans go on.
TEST(ExternalResourceGate, AStopEndsTheScan) {
  const auto repeated = [](std::string html, const std::string& piece) {
    while (html.size() < (1u << 20)) html += piece;
    return html;
  };
  for (const std::string& html : {
           repeated("<html><body>", "<p title=\"a:b\">x</p><script>x = (a) / 2; // c\n</script>\n"),
           repeated("<svg>", "<script>"),
           repeated("<svg>", "<style>"),
           repeated("<svg>", "<title>"),
           repeated("<svg>", "<style><title>"),
       }) {
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(ExternalResourceGate::violations(html, stopped.get_token()), Cancelled) << html.substr(0, 30);

    std::stop_source later;
    std::atomic<bool> scanning{false}, cancelled{false};
    std::thread scanner([&] {
      try {
        for (int n = 0; n < 1000; ++n) {
          scanning = true;
          ExternalResourceGate::violations(html, later.get_token());
        }
      } catch (const Cancelled&) {
        cancelled = true;
      }
    });
    while (!scanning) std::this_thread::yield();
    later.request_stop();
    scanner.join();
    EXPECT_TRUE(cancelled) << html.substr(0, 30);
  }

  // Collecting what was found and decoding references look for it too, not only the loops
  // that walk the reply: a reply too short for those to look still ends once it has anything
  // to collect, and so does one long stretch of text decoded at once.
  std::stop_source stopped;
  stopped.request_stop();
  std::string shortReply = "<svg>";
  while (shortReply.size() < 1000) shortReply += "<style><title>";
  EXPECT_THROW(ExternalResourceGate::violations(shortReply, stopped.get_token()), Cancelled);
  std::string text;
  while (text.size() < (1u << 20)) text += "Tom &amp; Jerry &#8212; ";
  const StopScope scope(stopped.get_token());
  EXPECT_THROW(EscapeDecoding::document(text), Cancelled);
}
