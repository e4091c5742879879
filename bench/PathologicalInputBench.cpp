// Re-cutting sessions built to be costly: a 16 MB script that says its lines over and over, and
// a transcript and script holding one 10,000-character word. The decision's work must stay
// bounded by the size of its input, so each re-cut should finish in well under 5 s.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/pipeline/Pipeline.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

// Ten minutes of a presenter reading distinct lines of ten words, every fifth said twice.
struct Session {
  fs::path root = bench::scratchFolder("kestrane-bench-pathological");
  fs::path sessionFile;

  Session(const std::string& name, bool hugeScript, bool longWord) {
    sessionFile = root / (name + " Kestrane.kestrane") / (name + ".kestrane.json");
    fs::remove_all(sessionFile.parent_path());
    fs::create_directories(sessionFile.parent_path());
    std::ofstream(root / "talk.mov") << "stand-in footage";

    std::mt19937 random(3);
    const char* syllables[] = {"ka", "lo", "mi", "ten", "ar", "vo", "su", "pel", "dri", "on"};
    const auto word = [&] {
      std::string w;
      for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) w += syllables[random() % 10];
      return w;
    };
    constexpr double length = 600, hop = 0.01;
    std::vector<float> levels(static_cast<std::size_t>(length / hop), -68.f);
    Transcript transcript;
    std::string script;
    double t = 2;
    for (int line = 0; t < length - 20; ++line) {
      std::vector<std::string> words(10);
      for (auto& w : words) w = word();
      if (longWord && line == 3) words[4] = std::string(5000, 'k') + std::string(5000, 'q');
      for (std::size_t i = 0; i < words.size(); ++i) script += (i ? " " : "") + words[i];
      script += ".\n";
      for (int take = 0; take < (line % 5 == 0 ? 2 : 1); ++take) {
        const double start = t;
        for (const std::string& w : words) {
          transcript.words.push_back({w, {t, t + 0.32}});
          t += 0.38;
        }
        for (auto i = static_cast<std::size_t>(start / hop); i < static_cast<std::size_t>(t / hop); ++i)
          levels[i] = -20.f;
        t += 1.2;
      }
    }
    if (hugeScript) {
      const std::string once = script;
      while (script.size() < (std::size_t{16} << 20)) script += once;
    }

    const SourceMedia source = bench::standInFootage(root / "talk.mov", length);
    KestraneSession session = KestraneSession::make(source, bench::appSettings(), script);
    session.projectName = name;
    session.transcript = std::move(transcript);
    session.levels = LevelData::fromLevels(hop, levels);
    session.write(sessionFile);
  }
};

void recut(benchmark::State& state, const Session& session) {
  for (auto _ : state) {
    Pipeline::RecutRequest request;
    request.sessionURL = session.sessionFile;
    request.settings = bench::appSettings();
    benchmark::DoNotOptimize(Pipeline::recut(request));
  }
}

void BM_RecutWithSixteenMegabyteScript(benchmark::State& state) { recut(state, Session("huge script", true, false)); }
BENCHMARK(BM_RecutWithSixteenMegabyteScript)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RecutWithTenThousandCharacterWord(benchmark::State& state) { recut(state, Session("long word", false, true)); }
BENCHMARK(BM_RecutWithTenThousandCharacterWord)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
