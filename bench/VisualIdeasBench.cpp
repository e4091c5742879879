// The visual-ideas work of one cut, on the largest inputs a run meets: 60 ideas anchored to a
// ten-minute cut transcript, the house style of a 40 KB composition, and the brand colours of
// a 4 MiB page.
#include <benchmark/benchmark.h>

#include <random>

#include <fmt/format.h>

#include "BenchSupport.hpp"
#include "kestrane/graphics/BrandProbe.hpp"
#include "kestrane/graphics/HouseStyle.hpp"
#include "kestrane/graphics/TranscriptAnchor.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"

using namespace kestrane;

namespace {

struct Cut {
  TranscriptAnchor::Words words;
  std::string document;
};

// 1,500 words over ten minutes and a document of 60 entries, each quoting ten words of the cut
// with one word of the quote mis-heard.
const Cut& tenMinuteCut() {
  static const Cut cut = [] {
    std::mt19937 random(7);
    const auto vocabulary =
        bench::madeUpVocabulary(random, {"the", "a",   "to", "and",  "of",   "is", "it",  "we",  "you",  "that",
                                         "in",  "for", "on", "this", "with", "so", "but", "our", "your", "be"},
                                {"ka", "lo", "mi", "ren", "sto", "va", "pe", "dri", "nu", "tal"}, 900);
    Cut c;
    for (int i = 0; i < 1500; ++i) {
      const double t = i * 0.4;
      c.words.push_back({bench::pickWord(random, vocabulary), t, t + 0.3});
    }
    for (int n = 0; n < 60; ++n) {
      const std::size_t at = 10 + static_cast<std::size_t>(n) * 24;
      std::string quote;
      for (std::size_t k = 0; k < 10; ++k)
        quote += (k ? " " : "") + (k == 4 ? std::string("mumble") : c.words[at + k].text);
      c.document += fmt::format(
          "## [{:02d}:{:02d}] Idea number {}\n- **Type:** diagram\n- **Anchor:** {}\n- **Lead in:** 0.3\n"
          "- **Generation prompt:** a mechanism assembles itself over 4 seconds, then holds.\n\n",
          n / 6, (n * 10) % 60, n, quote);
    }
    return c;
  }();
  return cut;
}

void ParseAnchorAnnotate(benchmark::State& state) {
  const Cut& cut = tenMinuteCut();
  for (auto _ : state) {
    auto resolution = TranscriptAnchor::resolve(VisualIdeas::parse(cut.document), cut.words, 600);
    benchmark::DoNotOptimize(VisualIdeas::annotate(cut.document, resolution.ideas));
  }
  state.counters["anchored"] = TranscriptAnchor::resolve(VisualIdeas::parse(cut.document), cut.words, 600).anchored();
}
BENCHMARK(ParseAnchorAnnotate)->Unit(benchmark::kMillisecond);

void HouseStyleOfAComposition(benchmark::State& state) {
  std::string html = "<html><head><style>\n:root { --accent: #ff5500; --h1: 96px; }\n";
  for (int i = 0; i < 400; ++i) {
    html += fmt::format(".panel-{0} {{ font-size: var(--h1); border-radius: {0}px; color: #1a2b3c; }}\n", i);
  }
  html += "</style></head><body>";
  while (html.size() < 40000)
    html += "<div class=\"card eyebrow\">tl.to(x, { duration: 0.6, ease: \"power3.out\" })</div>";
  html += "</body></html>";
  for (auto _ : state) benchmark::DoNotOptimize(HouseStyle::derive(html, GraphicKind::fullFrame, "Idea"));
}
BENCHMARK(HouseStyleOfAComposition)->Unit(benchmark::kMillisecond);

void BrandColoursOfALargePage(benchmark::State& state) {
  std::string page = "<meta name=\"theme-color\" content=\"#1a73e8\"><style>";
  for (int i = 0; page.size() < (std::size_t{4} << 20); ++i) {
    page += fmt::format(".c{} {{ background-color: #{:06x}; --brand-{}: rgb({}, 40, 90); }}\n", i,
                        (i * 2654435761u) & 0xFFFFFF, i, i % 256);
  }
  for (auto _ : state) {
    auto hits = BrandProbe::colorHitsInHTML(page);
    for (auto& h : BrandProbe::colorHitsInCSS(page, 1.0)) hits.push_back(std::move(h));
    benchmark::DoNotOptimize(BrandProbe::rank(hits));
  }
}
BENCHMARK(BrandColoursOfALargePage)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
