#include "FakeEngine.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::app::test {

void Gate::close() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

void Gate::open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  changed_.notify_all();
}

void Gate::pass(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, stop, [this] { return open_; });
  if (stop.stop_requested()) throw Cancelled();
}

namespace {

// The plain file at `path`, held, when one with bytes is there; none otherwise.
std::shared_ptr<const platform::MediaFile> heldIfThere(const std::filesystem::path& path) {
  try {
    return platform::MediaFile::open(path.string());
  } catch (const platform::MediaFileError&) {
    return nullptr;
  }
}

std::string bytesOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

FakeEngine::~FakeEngine() { joinLateReports(); }

void FakeEngine::joinLateReports() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(late_);
  }
  for (std::thread& t : threads) t.join();
}

std::vector<std::filesystem::path> FakeEngine::analyzeCalls() const {
  std::lock_guard lock(mutex_);
  return analyzeCalls_;
}

std::vector<std::pair<Pipeline::Request, bool>> FakeEngine::runCalls() const {
  std::lock_guard lock(mutex_);
  return runCalls_;
}

std::vector<Pipeline::RecutRequest> FakeEngine::recutCalls() const {
  std::lock_guard lock(mutex_);
  return recutCalls_;
}

int FakeEngine::soundDecodes() const {
  std::lock_guard lock(mutex_);
  return soundDecodes_;
}

AuditionPcm FakeEngine::decodeAudition(const std::filesystem::path& footage) {
  {
    std::lock_guard lock(mutex_);
    ++soundDecodes_;
  }
  soundGate.pass({});
  if (!soundSeconds) throw Pipeline::PipelineError("Can't read media");
  AuditionPcm pcm;
  pcm.file = heldIfThere(footage);
  pcm.sampleRate = 8000;
  pcm.samples.resize(std::size_t(*soundSeconds * pcm.sampleRate));
  for (std::size_t i = 0; i < pcm.samples.size(); ++i) pcm.samples[i] = std::int16_t((i % 40) * 50);
  return pcm;
}

void FakeEngine::play(Script& script, const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  if (!script.heedsStop) stop = {};
  for (const Pipeline::Stage& stage : script.stages) {
    std::this_thread::sleep_for(script.delay);
    if (stop.stop_requested()) throw Cancelled();
    if (progress) progress(stage);
  }
  script.gate.pass(stop);
  if (script.error) std::rethrow_exception(script.error);
  if (script.failure) throw Pipeline::PipelineError(*script.failure);
}

Pipeline::Output FakeEngine::finish(const std::filesystem::path& footage, const PipelineSettings& settings,
                                    const Pipeline::ProgressCallback& progress) {
  if (lateStage && progress) {
    std::lock_guard lock(mutex_);
    late_.emplace_back([progress, late = *lateStage] {
      std::this_thread::sleep_for(late.second);
      progress(late.first);
    });
  }
  return makeOutput ? makeOutput(footage, settings) : sampleOutput(footage, settings);
}

Pipeline::Analysis FakeEngine::analyze(const std::filesystem::path& input, const Pipeline::ProgressCallback& progress,
                                       std::stop_token stop) {
  std::vector<float> found;
  Pipeline::Analysis result;
  {
    std::lock_guard lock(mutex_);
    analyzeCalls_.push_back(input);
    found = levels;
    result.transcript = transcript;
    mostAnalysesAtOnce_ = std::max(mostAnalysesAtOnce_, ++analysesRunning_);
  }
  struct Running {
    FakeEngine& engine;
    ~Running() {
      std::lock_guard lock(engine.mutex_);
      --engine.analysesRunning_;
    }
  } running{*this};
  // As the engine does, the file is opened first and is the one heard whatever comes after.
  result.footage = heldIfThere(input);
  {
    std::lock_guard lock(mutex_);
    heard_[input.string()] = result.footage ? std::optional(bytesOf(input)) : std::nullopt;
  }
  play(analysis, progress, stop);
  if (analysisFailure) {
    if (auto message = analysisFailure(input)) throw Pipeline::PipelineError(*message);
  }
  result.source.path = input.string();
  if (found.empty()) {
    found.assign(200, -70.0f);
    for (int i = 50; i < 150; ++i) found[i] = -18.0f;
  }
  result.source.durationSeconds = 0.01 * static_cast<double>(found.size());
  result.levels = LevelData::fromLevels(0.01, found);
  return result;
}

int FakeEngine::mostAnalysesAtOnce() const {
  std::lock_guard lock(mutex_);
  return mostAnalysesAtOnce_;
}

std::vector<PipelineSettings> FakeEngine::draftCalls() const {
  std::lock_guard lock(mutex_);
  return draftCalls_;
}

Pipeline::DraftCut FakeEngine::draftCut(const Pipeline::Analysis& analysis, const PipelineSettings& settings,
                                        Pipeline::DraftCache& cache) {
  {
    std::lock_guard lock(mutex_);
    draftCalls_.push_back(settings);
  }
  draftGate.pass({});
  return makeDraft ? makeDraft(analysis, settings) : EngineApi::draftCut(analysis, settings, cache);
}

Pipeline::Output FakeEngine::run(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared,
                                 const Pipeline::ProgressCallback& progress, std::stop_token stop) {
  {
    std::lock_guard lock(mutex_);
    runCalls_.emplace_back(request, prepared.has_value());
  }
  play(cut, progress, stop);
  if (cutFailure) {
    if (auto message = cutFailure(request.input)) throw Pipeline::PipelineError(*message);
  }
  Pipeline::Output out = finish(request.input, request.settings, progress);
  if (request.renderMP4) out.mp4URL = out.packageDir / (request.input.stem().string() + " rough cut.mp4");
  return out;
}

Pipeline::Output FakeEngine::recut(const Pipeline::RecutRequest& call, const Pipeline::ProgressCallback& progress,
                                   std::stop_token stop) {
  {
    std::lock_guard lock(mutex_);
    recutCalls_.push_back(call);
  }
  play(cut, progress, stop);
  return finish(call.sessionURL.parent_path().parent_path() / "footage.mov", call.settings, progress);
}

Pipeline::Output sampleOutput(const std::filesystem::path& footage, const PipelineSettings& settings) {
  Pipeline::Output out;
  KestraneSession& s = out.session;
  s.source.path = footage.string();
  s.source.durationSeconds = 754.4;
  s.settings = settings;
  s.projectName = footage.stem().string();
  CutList cut;
  auto add = [&](double from, double to, SegmentKind kind) { cut.segments.push_back({{from, to}, kind}); };
  add(0, 200, SegmentKind::keep);
  add(200, 260, SegmentKind::silence);
  add(260, 400, SegmentKind::keep);
  add(400, 420, SegmentKind::silence);
  add(420, 470, SegmentKind::retakeRejected);
  add(470, 475, SegmentKind::flub);
  add(475, 476, SegmentKind::filler);
  add(476, 495, SegmentKind::filler);
  add(495, 650.9, SegmentKind::keep);
  add(650.9, 754.4, SegmentKind::silence);
  s.cutList = cut;
  out.packageDir = footage.parent_path() / (footage.stem().string() + " Kestrane");
  out.fcpxmlURL = out.packageDir / (footage.stem().string() + ".fcpxml");
  out.transcriptURL = out.packageDir / "transcript.md";
  out.captionsURL = out.packageDir / "captions.srt";
  out.sessionURL = out.packageDir / (footage.stem().string() + ".kestrane.json");
  return out;
}

}  // namespace kestrane::app::test

namespace kestrane::app::test {

std::vector<std::thread::id> FakeEngine::footageLookThreads() const {
  std::lock_guard lock(mutex_);
  return footageLookThreads_;
}

FootageLook FakeEngine::lookAtFootage(const KestraneSession& footage, std::stop_token stop) {
  std::optional<std::optional<std::string>> heard;
  {
    std::lock_guard lock(mutex_);
    footageLookThreads_.push_back(std::this_thread::get_id());
    if (auto it = heard_.find(footage.source.path); it != heard_.end()) heard = it->second;
  }
  footageLookGate.pass(stop);
  if (footageLook) {
    if (auto look = footageLook(footage)) return *look;
  }
  if (!heard) return EngineApi::lookAtFootage(footage, stop);
  if (!*heard) return {};
  FootageLook look = FootageLooks::opened(footage.source.path);
  if (!look.file) return look;
  if (bytesOf(footage.source.path) != **heard) {
    look.file.reset();
    look.change = footage.source.path + " sounds different from the footage analysed";
  }
  return look;
}

}  // namespace kestrane::app::test
