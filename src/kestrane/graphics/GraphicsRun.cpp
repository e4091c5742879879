#include "kestrane/graphics/GraphicsRun.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "kestrane/graphics/ExternalResourceGate.hpp"
#include "kestrane/graphics/GraphicsPrompt.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/HouseStyle.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/FileBytes.hpp"
#include "kestrane/model/Timecode.hpp"
#include "kestrane/platform/FailureMessage.hpp"

namespace kestrane::GraphicsRun {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Outcome {
  int index = 0;
  GraphicsAsset asset;
  std::vector<std::string> notes;
  bool compositionSaved = false;
  std::optional<std::string> authoredHTML;
  bool cancelled = false;
};

struct Shared {
  const Request& request;
  const Author& author;
  const Renderer& renderer;
  const std::function<void(const Progress&)>& progress;
  int total = 0;
  std::vector<std::string> fileNames;  // by position, unique within the run
  std::string fontFaceStyle;
  std::vector<LocalFonts::ResolvedFont> fonts;
  std::stop_token stop;  // the gate's scan of a long composition looks for it
};

GraphicsAsset rowFor(const VisualIdea& idea) {
  GraphicsAsset a;
  a.name = idea.name;
  a.fileName = idea.fileName();
  a.placementSeconds = idea.placementSeconds;
  a.kind = idea.kind;
  a.durationSeconds = idea.durationSeconds;
  if (!idea.anchorText.empty()) a.anchorText = idea.anchorText;
  a.anchoredToTranscript = idea.isMeasured();
  a.spokenSeconds = idea.spokenSeconds;
  a.estimatedPlacementSeconds = idea.estimatedPlacementSeconds;
  return a;
}

// Two ideas of one name at one time would write one file: the later ones get " 2", " 3"...
// before the extension. Compared without letter case, as the editor's file system may.
std::vector<std::string> uniqueFileNames(const std::vector<VisualIdea>& kept) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (const VisualIdea& idea : kept) {
    const std::string natural = idea.fileName();
    const auto dot = natural.rfind('.');
    const std::string stem = dot == std::string::npos ? natural : natural.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : natural.substr(dot);
    std::string name = natural;
    for (int n = 2; !taken.insert(GraphicsText::lower(name)).second; ++n)
      name = stem + " " + std::to_string(n) + extension;
    names.push_back(std::move(name));
  }
  return names;
}

std::string htmlNameFor(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + ".html";
}

Outcome assetWork(const Shared& s, const VisualIdea& idea, int position,
                  const std::optional<ComponentVocabulary>& vocabulary, bool isReference) {
  const auto start = Clock::now();
  Outcome out;
  out.index = position + 1;
  out.asset = rowFor(idea);
  out.asset.fileName = s.fileNames[static_cast<std::size_t>(position)];
  const auto report = [&](Progress::Phase phase) {
    if (s.progress) s.progress(Progress{out.index, s.total, idea.name, phase});
  };
  const auto fail = [&](const std::string& why) {
    out.asset.failure = why;
    out.asset.renderSeconds = secondsSince(start);
    report(Progress::Phase::failed);
    return out;
  };
  report(Progress::Phase::authoring);
  try {
    const std::string prompt =
        GraphicsPrompt::authoringPrompt(idea, s.request.brand, s.request.graphicsNotes, s.request.projectName,
                                        s.request.canvas, s.fonts, vocabulary, isReference);
    const std::string composition = sanitize(s.author(idea, prompt));
    const std::string lower = GraphicsText::lower(composition);
    if (lower.find("<html") == std::string::npos && lower.find("<body") == std::string::npos)
      return fail("the design pass didn't return an HTML composition");
    out.authoredHTML = composition;

    const auto violations = ExternalResourceGate::violations(composition, s.stop);
    const std::string deliverable =
        violations.empty() ? LocalFonts::embedding(s.fontFaceStyle, composition) : composition;
    try {
      const fs::path kept = s.request.assetsDir / compositionsFolder;
      fs::create_directories(kept);
      AtomicFile::write(kept / htmlNameFor(out.asset.fileName), deliverable);
      out.compositionSaved = true;
    } catch (const std::exception& e) {
      const auto* written = dynamic_cast<const AtomicFile::WriteError*>(&e);
      out.notes.push_back(idea.name + ": couldn't keep the authored composition for inspection — " +
                          (written ? written->reason() : FailureMessage::of(e)));
    }
    if (!violations.empty()) return fail(ExternalResourceGate::failureReason(violations));

    report(Progress::Phase::rendering);
    const auto notes = s.renderer(deliverable, idea, s.request.canvas, s.request.assetsDir / out.asset.fileName);
    out.notes.insert(out.notes.end(), notes.begin(), notes.end());
  } catch (const Cancelled&) {
    out.cancelled = true;
    return fail("cancelled");
  } catch (const std::exception& e) {
    return fail(FailureMessage::of(e));
  }
  out.asset.relativePath = "assets/" + out.asset.fileName;
  out.asset.renderSeconds = secondsSince(start);
  report(Progress::Phase::finished);
  return out;
}

// At most `width` at once; a new one starts only when one has finished, positions in order.
std::vector<Outcome> runBatch(const Shared& s, const std::vector<VisualIdea>& kept, const std::vector<int>& positions,
                              const std::optional<ComponentVocabulary>& vocabulary, int width, bool isReference,
                              std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<Outcome> outcomes;
  std::vector<std::jthread> workers;
  const std::size_t limit = static_cast<std::size_t>(std::max(width, 1));
  std::size_t next = 0, running = 0;
  std::unique_lock lock(mutex);
  while (next < positions.size() || running > 0) {
    while (next < positions.size() && running < limit && !stop.stop_requested()) {
      const int position = positions[next++];
      ++running;
      workers.emplace_back([&, position] {
        Outcome o = assetWork(s, kept[static_cast<std::size_t>(position)], position, vocabulary, isReference);
        std::lock_guard guard(mutex);
        outcomes.push_back(std::move(o));
        --running;
        finished.notify_one();
      });
    }
    if (running == 0) break;
    finished.wait(lock);
  }
  lock.unlock();
  workers.clear();
  if (stop.stop_requested() ||
      std::any_of(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.cancelled; }))
    throw Cancelled();
  return outcomes;
}

}  // namespace

Options Options::clamped(int maxAssets, int concurrency) {
  return {std::max(maxAssets, 1), std::clamp(concurrency, 1, 8)};
}

std::string Progress::label() const {
  static constexpr const char* phases[] = {"designing", "rendering", "done", "failed"};
  return "Motion graphics " + std::to_string(index) + " of " + std::to_string(total) + " — " + name + " (" +
         phases[static_cast<int>(phase)] + ")";
}

int Result::rendered() const {
  return static_cast<int>(
      std::count_if(assets.begin(), assets.end(), [](const GraphicsAsset& a) { return !a.failure; }));
}
int Result::failed() const { return static_cast<int>(assets.size()) - rendered(); }

std::string sanitize(std::string_view reply) {
  std::string text(GraphicsText::trimSpace(reply));
  if (text.starts_with("```")) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
        lines.emplace_back(text.substr(start, i - start));
        start = i + 1;
      }
    }
    lines.erase(lines.begin());
    for (std::size_t i = lines.size(); i-- > 0;) {
      const auto t = lines[i].find_first_not_of(" \t");
      if (t != std::string::npos && std::string_view(lines[i]).substr(t).starts_with("```")) {
        lines.resize(i);
        break;
      }
    }
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) joined += (i ? "\n" : "") + lines[i];
    text = std::string(GraphicsText::trimSpace(joined));
  }
  if (GraphicsText::lower(text).starts_with("<!doctype") || text.starts_with("<html")) return text;
  if (const auto at = GraphicsText::findCaseless(text, "<!doctype"); at != std::string::npos) return text.substr(at);
  return text;
}

Result run(const Request& request, const Author& author, const Renderer& renderer,
           const std::function<void(const Progress&)>& progress, std::stop_token stop) {
  const auto start = Clock::now();
  Result result;
  if (request.ideas.empty()) return result;

  std::vector<VisualIdea> ordered = request.ideas;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const VisualIdea& a, const VisualIdea& b) { return a.placementSeconds < b.placementSeconds; });
  const std::size_t keptCount =
      std::min(ordered.size(), static_cast<std::size_t>(std::max(request.options.maxAssets, 1)));
  const std::vector<VisualIdea> kept(ordered.begin(), ordered.begin() + static_cast<long>(keptCount));
  const std::vector<VisualIdea> unrendered(ordered.begin() + static_cast<long>(keptCount), ordered.end());
  if (keptCount < ordered.size())
    result.warnings.push_back(
        "Motion graphics: rendered the first " + std::to_string(keptCount) + " of " + std::to_string(ordered.size()) +
        " ideas (limit " + std::to_string(request.options.maxAssets) + ") — the rest are listed in assets/README.md");

  std::error_code error;
  fs::create_directories(request.assetsDir, error);
  if (error) {
    result.warnings = {"Motion graphics skipped — couldn't create the assets folder: " + error.message()};
    result.totalSeconds = secondsSince(start);
    return result;
  }

  Shared shared{request, author, renderer, progress, static_cast<int>(keptCount), uniqueFileNames(kept), {}, {}, stop};
  shared.fonts = request.fonts ? *request.fonts : LocalFonts::plan(request.brand, LocalFonts::installedFontFile);
  for (auto& w : LocalFonts::substitutionWarnings(shared.fonts)) result.warnings.push_back(std::move(w));
  shared.fontFaceStyle = LocalFonts::fontFaceCSS(shared.fonts, LocalFonts::maxEmbeddedBytes, readFileBytes);

  std::map<int, GraphicsAsset> byPosition;
  std::vector<std::string> notes;
  std::set<std::string> saved;
  const auto record = [&](std::vector<Outcome>& outcomes) {
    for (auto& o : outcomes) {
      byPosition[o.index] = o.asset;
      notes.insert(notes.end(), o.notes.begin(), o.notes.end());
      if (o.compositionSaved) saved.insert(o.asset.fileName);
    }
  };

  std::optional<ComponentVocabulary> vocabulary;
  const bool inherited = request.vocabulary && !HouseStyle::isEmpty(*request.vocabulary);
  std::vector<int> references;
  if (inherited) {
    vocabulary = request.vocabulary;
  } else {
    for (GraphicKind kind : {GraphicKind::alphaOverlay, GraphicKind::fullFrame}) {
      const auto it = std::find_if(kept.begin(), kept.end(), [&](const VisualIdea& i) { return i.kind == kind; });
      if (it != kept.end()) references.push_back(static_cast<int>(it - kept.begin()));
    }
    std::sort(references.begin(), references.end());
  }
  for (int position : references) {
    auto outcomes = runBatch(shared, kept, {position}, vocabulary, 1, true, stop);
    record(outcomes);
    for (const auto& o : outcomes) {
      if (!o.authoredHTML) continue;
      const VisualIdea& idea = kept[static_cast<std::size_t>(position)];
      ComponentVocabulary derived = HouseStyle::derive(*o.authoredHTML, idea.kind, idea.name);
      if (HouseStyle::isEmpty(derived)) continue;
      vocabulary = vocabulary ? HouseStyle::merging(*vocabulary, derived) : derived;
    }
  }
  if (!references.empty() && !vocabulary)
    result.warnings.push_back(
        "Motion graphics: the reference asset didn't yield a component vocabulary, so the rest of "
        "the set was authored independently — check the assets read as one series.");

  std::vector<int> rest;
  for (int p = 0; p < static_cast<int>(keptCount); ++p)
    if (std::find(references.begin(), references.end(), p) == references.end()) rest.push_back(p);
  if (!rest.empty()) {
    auto outcomes = runBatch(shared, kept, rest, vocabulary, request.options.concurrency, false, stop);
    record(outcomes);
  }

  for (int key = 1; key <= static_cast<int>(keptCount); ++key)
    if (auto it = byPosition.find(key); it != byPosition.end()) result.assets.push_back(it->second);
  result.warnings.insert(result.warnings.end(), notes.begin(), notes.end());
  for (const auto& a : result.assets)
    if (a.failure)
      result.warnings.push_back("Motion graphic failed — " + a.name + " (" + VisualIdeas::timecode(a.placementSeconds) +
                                "): " + *a.failure);
  result.totalSeconds = secondsSince(start);
  result.vocabulary = vocabulary;
  result.fonts = shared.fonts;

  try {
    AtomicFile::write(
        request.assetsDir / "README.md",
        readme({request.projectName, result.assets, unrendered, request.brand, request.graphicsNotes, request.canvas,
                saved, vocabulary, inherited, result.fonts, result.totalSeconds, request.countFromLimit}));
  } catch (const AtomicFile::WriteError& e) {
    result.warnings.push_back("Couldn't write assets/README.md: " + e.reason());
  }
  return result;
}

}  // namespace kestrane::GraphicsRun
