// The motion-graphics stage: the brand specification, the graphics authored and rendered into
// the package's assets folder, and every recorded graphic placed on the FCPXML timeline; and
// the re-placement entry, which does only the last step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/ai/CompositionAuthor.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/export/GraphicsPlacer.hpp"
#include "kestrane/graphics/BrandProbe.hpp"
#include "kestrane/graphics/GraphicsRun.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/HouseStyle.hpp"
#include "kestrane/graphics/HyperFramesRenderer.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/platform/FailureMessage.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/pipeline/GraphicsPlacing.hpp"
#include "kestrane/pipeline/PackageContents.hpp"
#include "kestrane/pipeline/MixedPackage.hpp"
#include "kestrane/pipeline/PackageLock.hpp"
#include "kestrane/pipeline/PackageNaming.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/PipelineError.hpp"
#include "kestrane/pipeline/TimelineDocument.hpp"

namespace kestrane::Pipeline {
namespace {

namespace fs = std::filesystem;

// Each graphic is probed in turn, and `stop` is looked at before every probe.
GraphicsPlacer::Plan planFor(const KestraneSession& session, const fs::path& packageDir, std::stop_token stop = {}) {
  return GraphicsPlacer::plan(session.graphicsAssets.value_or(std::vector<GraphicsAsset>{}), packageDir,
                              session.cutList ? session.cutList->keptDuration() : 0, [&stop](const fs::path& file) {
                                throwIfStopped(stop);
                                return MediaProbe::probeGraphic(file.string());
                              });
}

// The package's timeline as the package writer builds it, with the placed graphics.
void writeTimeline(const KestraneSession& session, const CutList& cutList, const std::vector<Advisory>& editorNotes,
                   const std::string& projectName, const std::vector<GraphicsPlacement>& graphics,
                   const fs::path& fcpxml) {
  AtomicFile::write(fcpxml, timelineDocument(session, cutList, editorNotes, projectName, graphics));
}

std::string placedSentence(const std::vector<GraphicsPlacement>& placements) {
  const std::size_t n = placements.size();
  int lanes = 0;
  std::size_t estimated = 0;
  for (const auto& p : placements) {
    lanes = std::max(lanes, p.lane);
    if (p.isEstimate) ++estimated;
  }
  std::string text = "Motion graphics placed in the FCPXML: " + std::to_string(n) + " connected clip" +
                     (n == 1 ? "" : "s") + " on " + std::to_string(lanes) + " lane" + (lanes == 1 ? "" : "s") +
                     " above the cut";
  if (estimated > 0)
    text += ", " + std::to_string(estimated) + " of them from an ESTIMATED timecode (named above — check those)";
  return text + ".";
}

// The renderer's work folder, named, held and remembered like every scratch file, so the sweep
// takes it after a forced exit; absent, with a warning, when it can't be made.
std::optional<fs::path> graphicsScratch(detail::Job& job) {
  try {
    return platform::ScratchFiles::createFolder("graphics");
  } catch (const platform::ScratchFiles::CreateError& e) {
    job.warnings.push_back(std::string("Graphics rendering skipped — ") + e.what() + "; brand spec saved");
    return std::nullopt;
  }
}

// A finished movie waits under a hidden name beside its place (made as the package's other
// staged files are) until the session that records it is written, and only then takes its
// name: a run killed or stopped while graphics render leaves no graphic that neither the
// session nor the README knows, only leftovers the next run's sweep removes.
class PendingGraphics {
 public:
  PendingGraphics() = default;
  PendingGraphics(const PendingGraphics&) = delete;
  PendingGraphics& operator=(const PendingGraphics&) = delete;
  ~PendingGraphics() {
    for (const auto& [destination, aside] : asides_) platform::ScratchFiles::remove(aside.path().string());
  }

  // Where the movie for `destination` is rendered meanwhile. Throws AtomicFile::WriteError.
  fs::path claim(const fs::path& destination) {
    AtomicFile::Aside aside = AtomicFile::createAside(destination);
    const fs::path path = aside.path();
    platform::ScratchFiles::add(path.string());
    std::lock_guard lock(mutex_);
    asides_.insert_or_assign(destination, std::move(aside));
    return path;
  }

  // Every rendered graphic of `assets` takes its name; one that can't is named in a warning and
  // is then missing, which placing the graphics reports too.
  void moveIntoPlace(const std::vector<GraphicsAsset>& assets, const fs::path& assetsDir,
                     std::vector<std::string>& warnings) {
    for (const GraphicsAsset& asset : assets) {
      if (asset.failure) continue;
      const auto pending = asides_.find(assetsDir / asset.fileName);
      if (pending == asides_.end()) continue;
      shareRendered(pending->second.path());
      std::error_code error;
      fs::rename(pending->second.path(), pending->first, error);
      if (error) {
        warnings.push_back("Couldn't move the motion graphic " + asset.fileName + " into place — " + error.message());
        continue;
      }
      platform::ScratchFiles::forget(pending->second.path().string());
      asides_.erase(pending);
    }
  }

 private:
  // The renderer may have written the claimed file or put its own in its place: whichever is
  // there now gets the mode of the package's other files.
  static void shareRendered(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat facts {};
    if (::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode)) AtomicFile::share(fd);
    ::close(fd);
  }

  std::mutex mutex_;
  std::map<fs::path, AtomicFile::Aside> asides_;  // by destination
};

}  // namespace

PlacementResult placeGraphics(const fs::path& sessionURL, std::stop_token stop) {
  // Like any run that writes the package: never beside another, and after any move an earlier
  // one left halfway is finished, so the session read is the one the package's files follow.
  const fs::path folder = fs::absolute(sessionURL).parent_path();
  const detail::PackageLock lock(folder);
  // Placing rewrites only the timeline, which would leave a mixed package looking finished.
  refuseIfMayBeMixed(folder);
  KestraneSession session = KestraneSession::read(sessionURL);
  throwIfStopped(stop);
  if (!session.cutList) throw PipelineError::sessionNotRecuttable("no cut stored — run the pipeline once first");
  // A stored frame duration is made standard again before the writers use it, as a re-cut does.
  session.source.frameDuration = RationalTime::standardFrameDuration(1.0 / session.source.frameDuration.seconds());
  const PackageContents package = packageContents(sessionURL, sourceStem(session.source.path));
  const fs::path& packageDir = package.layout.dir;
  const std::string& stem = package.layout.stem;
  // The view must not outlive the name it looks into.
  const std::string projectName = session.projectName.value_or("");
  const std::string_view trimmed = GraphicsText::trimSpace(projectName);
  const std::string displayName = trimmed.empty() ? stem : std::string(trimmed);

  PlacementResult result;
  result.fcpxmlURL = package.layout.fcpxml();
  auto plan = planFor(session, packageDir, stop);
  throwIfStopped(stop);
  writeTimeline(session, *session.cutList, session.editorNotes.value_or(std::vector<Advisory>{}), displayName,
                plan.placements, result.fcpxmlURL);
  result.placements = std::move(plan.placements);
  result.warnings = lock.warnings();
  result.warnings.insert(result.warnings.end(), plan.warnings.begin(), plan.warnings.end());
  return result;
}

namespace detail {

GraphicsOutcome motionGraphics(Job& job, const PackageFiles& files, const IdeasOutcome& ideas, bool renderGraphics) {
  GraphicsOutcome outcome;
  KestraneSession& session = job.session;
  if (!session.createMotionGraphics.value_or(false)) return outcome;
  job.announce(Stage::preparingGraphics);

  if (session.brandSpec && session.brandSpec->websiteURL &&
      GraphicsText::trimSpace(session.brandSpec->colors.value_or("")).empty()) {
    const std::string site = *session.brandSpec->websiteURL;
    const auto palette = BrandProbe::palette(site, 12.0, 3, BrandProbe::networkFetcher(false, job.stop), job.stop);
    job.checkStop();
    if (palette) {
      const std::string host = BrandProbe::siteHost(site).value_or(site);
      const std::string colors = palette->colorsField(host).value_or("");
      session.brandSpec->colors = colors;
      job.warnings.push_back("Brand colors read from " + host + ": " + colors +
                             ". Type your own into the brand's Colors field to override them.");
    } else {
      job.warnings.push_back("Couldn't read colors from " + site +
                             " — the graphics use a neutral palette. Put your hex codes in the "
                             "brand's Colors field to fix that.");
    }
  }

  const BrandSpec brand = session.brandSpec.value_or(BrandSpec{});
  outcome.brandSpecURL = files.dir / "brand-spec.md";
  AtomicFile::write(*outcome.brandSpecURL, brand.markdown(job.projectName, session.graphicsNotes));

  const auto backend = job.services.aiBackend ? job.services.aiBackend() : nullptr;
  const auto npx = HyperFrames::detectNPX();
  if (!renderGraphics) {
    job.warnings.push_back(
        "Graphics authoring skipped (--no-graphics) — no Claude calls, nothing "
        "rendered; brand spec saved and any graphics already in this package "
        "are still placed.");
  } else if (ideas.ideas.empty()) {
    job.warnings.push_back("Graphics rendering skipped — no visual-ideas entries to render; brand spec saved");
  } else if (!backend) {
    job.warnings.push_back("Graphics rendering skipped — no claude CLI or ANTHROPIC_API_KEY found; brand spec saved");
  } else if (!npx) {
    job.warnings.push_back(
        "Graphics rendering skipped — the local renderer needs Node/npx on this machine; brand spec saved");
  } else if (HyperFrames::networkIsolation() == HyperFrames::NetworkIsolation::none) {
    job.warnings.push_back("Graphics rendering skipped — " + std::string(HyperFrames::noIsolationReason) +
                           "; brand spec saved");
  } else if (const auto scratch = graphicsScratch(job)) {
    HyperFramesSettings settings;
    settings.workRoot = *scratch;
    settings.npx = *npx;
    settings.gsapScript = HyperFrames::detectGSAP(*npx);
    const HyperFramesRenderer renderer(settings);
    GraphicsRun::Request request;
    request.ideas = ideas.ideas;
    request.brand = session.brandSpec;
    request.graphicsNotes = session.graphicsNotes;
    request.projectName = job.projectName;
    request.canvas = GraphicsCanvas::forSource(session.source);
    request.assetsDir = PackageLayout{files.dir, job.stem}.assets();
    request.options =
        GraphicsRun::Options::clamped(std::max(ideas.graphicsCount, 1), session.settings.resolvedGraphicsConcurrency());
    request.countFromLimit = session.settings.graphicsLimit.has_value();
    if (session.brandSpec) request.vocabulary = session.brandSpec->componentVocabulary;
    const std::stop_token stop = job.stop;
    const GraphicsRun::Author author = [&](const VisualIdea&, const std::string& prompt) {
      return CompositionAuthor::compose(*backend, prompt, stop);
    };
    PendingGraphics pending;
    const GraphicsRun::Renderer render = [&](const std::string& html, const VisualIdea& idea,
                                             const GraphicsCanvas& canvas, const fs::path& to) {
      return renderer.render(html, idea, canvas, pending.claim(to), stop);
    };
    // Reports come from several renders at once; the job's callback takes one at a time.
    std::mutex reporting;
    GraphicsRun::Result result;
    try {
      result = GraphicsRun::run(
          request, author, render,
          [&](const GraphicsRun::Progress& p) {
            std::lock_guard lock(reporting);
            job.announce(Stage::graphicsAsset(p.label()));
          },
          stop);
    } catch (...) {
      platform::ScratchFiles::remove(scratch->string());
      throw;
    }
    job.warnings.insert(job.warnings.end(), result.warnings.begin(), result.warnings.end());
    session.graphicsAssets = result.assets.empty() ? std::nullopt : std::optional(result.assets);
    if (result.vocabulary && !HouseStyle::isEmpty(*result.vocabulary)) {
      outcome.vocabulary = result.vocabulary;
      if (session.brandSpec) session.brandSpec->componentVocabulary = result.vocabulary;
    }
    if (result.rendered() >= 1) {
      outcome.assetsDir = request.assetsDir;
      job.warnings.push_back("Motion graphics: " + std::to_string(result.rendered()) + " of " +
                             std::to_string(result.assets.size()) + " rendered in " +
                             elapsedString(result.totalSeconds) + " — see assets/README.md");
    }
    platform::ScratchFiles::remove(scratch->string());
    // Recorded first: a run that ends between the two leaves a recorded graphic missing, which
    // the next placement names, rather than a file nothing names.
    writeFinalSession(session, files.session, job.warnings);
    pending.moveIntoPlace(result.assets, request.assetsDir, job.warnings);
  }

  writeFinalSession(session, files.session, job.warnings);

  auto plan = planFor(session, files.dir);
  job.warnings.insert(job.warnings.end(), plan.warnings.begin(), plan.warnings.end());
  if (plan.placements.empty()) return outcome;
  try {
    writeTimeline(session, job.cutList, job.editorNotes, job.projectName, plan.placements, files.fcpxml);
    job.warnings.push_back(placedSentence(plan.placements));
  } catch (const std::exception& e) {
    job.warnings.push_back("Motion graphics rendered but couldn't be placed in the FCPXML: " + FailureMessage::of(e));
  }
  return outcome;
}

}  // namespace detail
}  // namespace kestrane::Pipeline
