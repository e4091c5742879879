// The package's text writers over a two-hour recording: about 20,000 words, 1,200 kept pieces
// at 29.97 fps, 300 editor notes and 12 placed graphics. Each writer runs once per job and
// again on every re-cut; together they should stay well under a second on one core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"

using namespace kestrane;

namespace {

struct Job {
  SourceMedia source;
  Transcript transcript;
  CutList cutList;
  std::vector<Advisory> notes;
  std::vector<GraphicsPlacement> graphics;
};

const Job& twoHours() {
  static const Job job = [] {
    Job j;
    j.source.path = "/footage/two hour talk.mov";
    j.source.durationSeconds = 7200;
    j.source.frameDuration = {1001, 30000};
    j.source.width = 1920;
    j.source.height = 1080;
    j.source.hasVideo = true;
    j.source.audioSampleRate = 48000;
    j.source.audioChannelCount = 2;
    std::uint32_t seed = 7;
    const auto next = [&seed] {
      seed = seed * 1664525u + 1013904223u;
      return static_cast<double>(seed >> 8) / static_cast<double>(1u << 24);
    };
    // Six-second blocks: speech kept for about four seconds, then a removed pause.
    for (int block = 0; block < 1200; ++block) {
      const double start = block * 6.0;
      const double keptEnd = start + 3.5 + next();
      j.cutList.segments.push_back(Segment{{start, keptEnd}, SegmentKind::keep, {}, {}});
      j.cutList.segments.push_back(Segment{{keptEnd, start + 6.0}, SegmentKind::silence, std::string("silence"), {}});
      for (double t = start + 0.1; t + 0.25 < keptEnd + 1.2; t += 0.35) {
        const bool endsLine = next() < 0.1;
        j.transcript.words.push_back({endsLine ? "sentence." : (next() < 0.1 ? "clause," : "word"), {t, t + 0.25}});
      }
      if (block % 4 == 0) j.notes.push_back({{start + 4.7, start + 5.0}, "Spoken aside & \"note\""});
    }
    for (int g = 0; g < 12; ++g) {
      GraphicMedia media;
      media.path = "/pkg/assets/graphic-" + std::to_string(g % 6) + ".mov";
      media.durationSeconds = 6.0;
      media.frameDuration = {1, 30};
      media.width = 1920;
      media.height = 1080;
      media.hasVideo = true;
      j.graphics.push_back(GraphicsPlacement{"Graphic", "graphic.mov", media, g * 380.0, 6.0, GraphicKind::alphaOverlay,
                                             false, 1 + g % 2});
    }
    return j;
  }();
  return job;
}

void BM_Captions(benchmark::State& state) {
  const Job& job = twoHours();
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranscriptExporter::srt(job.source, job.transcript, job.cutList,
                                                     TranscriptExporter::srtMaxLineDuration,
                                                     TranscriptExporter::srtMaxWordsPerCue));
  }
}
BENCHMARK(BM_Captions)->Unit(benchmark::kMillisecond);

void BM_MarkdownTranscript(benchmark::State& state) {
  const Job& job = twoHours();
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranscriptExporter::markdown(job.source, job.transcript, job.cutList, job.notes));
  }
}
BENCHMARK(BM_MarkdownTranscript)->Unit(benchmark::kMillisecond);

void BM_FCPXMLWithTitlesAndGraphics(benchmark::State& state) {
  const Job& job = twoHours();
  const auto cues = TranscriptExporter::cues(job.transcript, job.cutList, 2.0, 5);
  const FCPXMLWriter::Options options{"Kestrane", "Two hour talk \u2014 Kestrane", job.notes};
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = FCPXMLWriter::fcpxml(job.source, job.cutList, job.graphics, cues, options);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["cues"] = static_cast<double>(cues.size());
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_FCPXMLWithTitlesAndGraphics)->Unit(benchmark::kMillisecond);

void BM_XMEML(benchmark::State& state) {
  const Job& job = twoHours();
  for (auto _ : state) {
    benchmark::DoNotOptimize(XMEMLWriter::xmeml(job.source, job.cutList, "Two hour talk", true));
  }
}
BENCHMARK(BM_XMEML)->Unit(benchmark::kMillisecond);

}  // namespace
