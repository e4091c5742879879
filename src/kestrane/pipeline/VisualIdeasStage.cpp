// The visual-ideas stage: how many graphics the cut gets, the ideas document asked of the model
// when the job wants the AI, and the document in the package re-anchored to this cut.
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/FileBytes.hpp"
#include "kestrane/ai/AIBackend.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/graphics/GraphicsChoices.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/TranscriptAnchor.hpp"
#include "kestrane/graphics/VisualIdeas.hpp"
#include "kestrane/graphics/VisualIdeasPrompt.hpp"
#include "kestrane/platform/FailureMessage.hpp"
#include "kestrane/pipeline/PipelineCore.hpp"
#include "kestrane/pipeline/PackageContents.hpp"

namespace kestrane::Pipeline::detail {

namespace {

constexpr std::string_view kPreamble =
    "## How to use this document\n"
    "\n"
    "Each entry below is one moment in the finished cut that deserves a visual, found by reading "
    "the edit. For every one you get:\n"
    "\n"
    "- **the timecode** — where it lands on the delivered timeline   (measured, not guessed, when "
    "the heading says so)\n"
    "- **a name and the spoken line it belongs to** — so you can find the   moment instantly\n"
    "- **a generation prompt** — self-contained and ready to paste into   Higgsfield, an "
    "image/video generator, or to hand a motion designer.   It describes the content and the "
    "motion; apply your own brand look.\n"
    "\n"
    "Use as many or as few as you like — they are suggestions, ordered by timecode.\n"
    "\n"
    "---\n";

}  // namespace

std::string withPreamble(std::string_view markdown, std::string_view projectName) {
  if (markdown.find("## How to use this document") != std::string_view::npos) {
    return std::string(markdown);
  }
  const std::size_t feed = markdown.find('\n');
  if (feed != std::string_view::npos && markdown.starts_with("# ")) {
    return std::string(markdown.substr(0, feed)) + "\n\n" + std::string(kPreamble) +
           std::string(GraphicsText::trimSpace(markdown.substr(feed + 1))) + "\n";
  }
  return "# Visual Opportunities — " + std::string(projectName) + "\n\n" + std::string(kPreamble) +
         std::string(markdown);
}

IdeasOutcome visualIdeas(Job& job, const PackageFiles& files, bool useClaude, const IdeasRequest& ask) {
  const KestraneSession& session = job.session;
  const PipelineSettings& settings = session.settings;
  const Transcript transcript = session.transcript.value_or(Transcript{});
  const double cutSeconds = job.cutList.keptDuration();
  const GraphicsFormat format = settings.resolvedGraphicsFormat();

  IdeasOutcome outcome;
  const auto lines = TranscriptExporter::anchorLines(transcript, job.cutList, TranscriptExporter::anchorMaxLineSeconds,
                                                     TranscriptExporter::anchorMaxWordsPerLine);
  const std::optional<int> beats = lines.empty() ? std::nullopt : std::optional(static_cast<int>(lines.size()));
  outcome.graphicsCount = settings.resolvedGraphicsCount(cutSeconds, beats);
  if (!settings.graphicsLimit && session.createMotionGraphics.value_or(false)) {
    if (auto note = GraphicsChoices::ceilingNote(settings.resolvedGraphicsDensity(), cutSeconds, beats)) {
      job.warnings.push_back(std::move(*note));
    }
  }

  const std::filesystem::path documentPath = PackageLayout{files.dir, job.stem}.visualIdeas();
  if (useClaude) {
    std::string transcriptText = TranscriptExporter::anchorMarkdown(
        transcript, job.cutList, TranscriptExporter::anchorMaxLineSeconds, TranscriptExporter::anchorMaxWordsPerLine);
    if (transcriptText.empty()) transcriptText = readFileBytes(files.transcript).value_or("");
    const IdeasReply reply =
        ask ? ask(job, IdeasQuery{job.projectName, transcriptText, session.projectNotes, outcome.graphicsCount, format})
            : IdeasReply{std::nullopt, std::nullopt};
    if (reply.skipped) {
      job.warnings.push_back(*reply.skipped);
    } else if (reply.text) {
      try {
        AtomicFile::write(documentPath, withPreamble(*reply.text, job.projectName));
        outcome.url = documentPath;
      } catch (const std::exception& e) {
        job.warnings.push_back("Visual ideas skipped: " + FailureMessage::of(e));
      }
    }
  }

  // Always: the document in the package (fresh, or left by an earlier cut) follows this cut.
  const auto text = readFileBytes(documentPath);
  if (!text) return outcome;
  auto ideas = VisualIdeas::constrain(VisualIdeas::parse(*text), format);
  if (ideas.empty()) return outcome;
  auto resolution = TranscriptAnchor::resolve(
      std::move(ideas), TranscriptExporter::wordsOnCutTimeline(transcript, job.cutList), cutSeconds);
  for (std::string& w : resolution.warnings) job.warnings.push_back(std::move(w));
  const std::string annotated = VisualIdeas::annotate(*text, resolution.ideas);
  if (annotated != *text) {
    try {
      AtomicFile::write(documentPath, annotated);
    } catch (const std::exception&) {
      // The re-timed ideas still go on in memory; the document keeps its earlier timing.
    }
  }
  std::error_code ignored;
  if (!outcome.url && std::filesystem::exists(documentPath, ignored)) outcome.url = documentPath;
  outcome.ideas = std::move(resolution.ideas);
  return outcome;
}

}  // namespace kestrane::Pipeline::detail

namespace kestrane::Pipeline::detail {

IdeasRequest modelIdeasRequest() {
  return [](Job& job, const IdeasQuery& query) -> IdeasReply {
    const std::shared_ptr<AIBackend> backend = job.services.aiBackend ? job.services.aiBackend() : nullptr;
    if (!backend) {
      return {std::nullopt, "Visual ideas skipped — no claude CLI or ANTHROPIC_API_KEY found"};
    }
    job.announce(Stage::generatingIdeas);
    ModelCall call;
    call.prompt = VisualIdeasPrompt::build(query.projectName, query.transcriptMarkdown, query.notes, query.targetCount,
                                           query.format);
    call.tier = ModelTier::reasoning;
    call.form = ReplyForm::text;
    call.timeoutSeconds = 600;
    call.maxTokens = 4096;
    try {
      return {backend->send(call, job.stop), std::nullopt};
    } catch (const Cancelled&) {
      throw;
    } catch (const std::exception& e) {
      return {std::nullopt, "Visual ideas skipped: " + FailureMessage::of(e)};
    }
  };
}

}  // namespace kestrane::Pipeline::detail
