// Every authored composition passes the network gate before it is rendered, and a reply may be
// as long as the 2 MB reply cap. The gate reads it in one pass, so each shape below (comment
// openers that never close, colons without an address, raw-text tags that never close inside an
// <svg>, and ordinary markup with styles and script) must take well under a second at 2 MB, not
// minutes.
#include <benchmark/benchmark.h>

#include <string>

#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/graphics/ExternalResourceGate.hpp"

namespace {

using namespace kestrane;

std::string repeated(const std::string& piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() + piece.size() <= bytes) out += piece;
  return out;
}

const std::string ordinaryMarkup =
    "<div class=\"card\" style=\"background:url(data:image/png;base64,iVBORw0KGgo=); color:#fff\">"
    "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 10 10\"><rect width=\"4\" height=\"4\"/></svg>"
    "<p title=\"a &amp; b\">Revenue grew 12:30 &mdash; up 5&#37;</p></div>\n"
    "<style>.card{margin:0 auto} /* palette */ .a::before{content:\"\\2014\"}</style>\n"
    "<script>const mid = (a + b) / 2; // halfway\ntl.to('#a', {x: mid / 3, ease: `${e}`}); /* eased */\n"
    "if (ok) /x/.test(s); const r = n++ / 2;</script>\n";

void gate(benchmark::State& state, const std::string& piece, const std::string& head = "") {
  const std::string html = "<html><body>" + head + repeated(piece, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ExternalResourceGate::violations(html));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(html.size()));
}

void BM_GateUnclosedCommentOpeners(benchmark::State& state) { gate(state, "<!--"); }
void BM_GateColonsWithoutAddresses(benchmark::State& state) { gate(state, "a:"); }
void BM_GateOrdinaryMarkup(benchmark::State& state) { gate(state, ordinaryMarkup); }
void BM_GateUnclosedScriptsInSvg(benchmark::State& state) { gate(state, "<script>", "<svg>"); }
void BM_GateUnclosedStylesInSvg(benchmark::State& state) { gate(state, "<style>", "<svg>"); }
void BM_GateUnclosedTitlesInSvg(benchmark::State& state) { gate(state, "<title>", "<svg>"); }
// Every <style> and <title> here may be markup, and each quote differs from the one before, so
// at the cap the gate collects some 150,000 of them; a stop must still end it at once.
void BM_GateUnclosedStylesAndTitlesInSvg(benchmark::State& state) { gate(state, "<style><title>", "<svg>"); }

constexpr long small = 64 << 10;
constexpr long atTheCap = static_cast<long>(ModelClient::kMaxReplyBytes);
BENCHMARK(BM_GateUnclosedCommentOpeners)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateColonsWithoutAddresses)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateOrdinaryMarkup)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateUnclosedScriptsInSvg)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateUnclosedStylesInSvg)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateUnclosedTitlesInSvg)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GateUnclosedStylesAndTitlesInSvg)->Arg(small)->Arg(atTheCap)->Unit(benchmark::kMillisecond);

}  // namespace
