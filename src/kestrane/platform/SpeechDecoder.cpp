#include "kestrane/platform/SpeechDecoder.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/ngram_model.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <unistd.h>

#include "kestrane/platform/ScratchFiles.hpp"

namespace kestrane::platform {

namespace {

constexpr const char* kModelRoot = "/usr/share/pocketsphinx/model/en-us";

void quietLogs() {
  static std::once_flag once;
  // The decoder logs every setting and utterance to stderr; keep it out of the user's terminal.
  std::call_once(once, [] { err_set_logfp(nullptr); });
}

struct ConfigCloser {
  void operator()(cmd_ln_t* c) const { cmd_ln_free_r(c); }
};
struct ModelCloser {
  void operator()(ngram_model_t* m) const { ngram_model_free(m); }
};
using ModelPtr = std::unique_ptr<ngram_model_t, ModelCloser>;

// A new scratch file of the given kind holding `text`, remembered by ScratchFiles. A folder that
// is full or can't be written is named with the system's reason.
std::string scratchFile(std::string_view kind, const std::string& text) {
  std::string path;
  try {
    path = ScratchFiles::create(kind);
  } catch (const ScratchFiles::CreateError& e) {
    throw SpeechScratchError(e.what());
  }
  const auto failed = [&](int error) {
    ScratchFiles::remove(path);
    throw SpeechScratchError("Can't write " + path + ": " + std::strerror(error));
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) failed(errno);
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      failed(error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && errno != EINTR) failed(errno);
  return path;
}

// A unigram model in which hesitations are the likely words. The reader only takes files, so it
// goes through a private temporary file that is removed at once.
ModelPtr hesitationModel(cmd_ln_t* config, logmath_t* lmath) {
  const std::string path = scratchFile("hesitations",
                                       "\\data\\\nngram 1=4\n\n\\1-grams:\n"
                                       "-99.0 <s>\n-0.6 </s>\n-0.3 um\n-0.3 uh\n\n\\end\\\n");
  ModelPtr model(ngram_model_read(config, path.c_str(), NGRAM_ARPA, lmath));
  ScratchFiles::remove(path);
  return model;
}

// The best path through the word lattice of the utterance just ended, rescored with the language
// model, as the decoder's own best-path pass finds it. Empty when that pass fails, which it does
// when the lattice has no usable end (seen on stretches that end right at a word's end, and more
// often with the hesitations mixed in): the decoder's own pass then returns no words at all.
// `search` is named by us: the library's ps_get_search leaks an iterator on every call.
std::vector<RecognizedToken> bestPath(ps_decoder_t* ps, const char* search) {
  std::vector<RecognizedToken> tokens;
  ps_lattice_t* dag = ps_get_lattice(ps);  // the decoder's own; not freed here
  ngram_model_t* lm = ps_get_lm(ps, search);
  if (!dag || !lm) return tokens;
  cmd_ln_t* config = ps_get_config(ps);
  const float32 ratio = cmd_ln_float32_r(config, "-bestpathlw") / cmd_ln_float32_r(config, "-lw");
  const float32 ascale = 1.0f / cmd_ln_float32_r(config, "-ascale");
  ps_latlink_t* last = ps_lattice_bestpath(dag, lm, ratio, ascale);
  if (!last) return tokens;
  std::vector<ps_latlink_t*> links;
  for (ps_latlink_t* link = last; link; link = ps_latlink_pred(link)) links.push_back(link);
  for (auto it = links.rbegin(); it != links.rend(); ++it) {
    int16 sf = 0;
    const int ef = ps_latlink_times(*it, &sf);
    const char* word = ps_latlink_word(dag, *it);
    tokens.push_back({word ? word : "", sf, ef});
  }
  int16 fef = 0, lef = 0;
  ps_latnode_t* end = ps_latlink_nodes(last, nullptr);
  const int sf = ps_latnode_times(end, &fef, &lef);
  const char* word = ps_latnode_word(dag, end);
  tokens.push_back({word ? word : "", sf, lef});
  return tokens;
}

}  // namespace

SpeechModel SpeechModel::usEnglish() {
  const std::string root = kModelRoot;
  return {root + "/en-us", root + "/en-us.lm.bin", root + "/cmudict-en-us.dict", "pocketsphinx-en-us"};
}

std::vector<std::string> SpeechModel::missingFiles() const {
  namespace fs = std::filesystem;
  std::vector<std::string> missing;
  std::error_code ec;
  for (const char* part : {"mdef", "means", "variances", "transition_matrices", "feat.params", "noisedict"}) {
    auto p = fs::path(acousticModel) / part;
    if (!fs::is_regular_file(p, ec)) missing.push_back(p.string());
  }
  if (!fs::is_regular_file(languageModel, ec)) missing.push_back(languageModel);
  if (!fs::is_regular_file(dictionary, ec)) missing.push_back(dictionary);
  return missing;
}

SearchDictionary::SearchDictionary(const SpeechModel& model) : model_(model) {
  quietLogs();
  const std::string broken = "The speech model could not be loaded; reinstall the " + model.package + " package";
  std::unordered_set<std::string> known = {"um", "uh"};
  {
    std::unique_ptr<logmath_t, int (*)(logmath_t*)> lmath(logmath_init(1.0001, 0, 0), logmath_free);
    ModelPtr lm(lmath ? ngram_model_read(nullptr, model.languageModel.c_str(), NGRAM_AUTO, lmath.get()) : nullptr);
    if (!lm) throw SpeechModelError(broken);
    const uint32* counts = ngram_model_get_counts(lm.get());
    for (uint32 w = 0; w < counts[0]; ++w)
      if (const char* word = ngram_word(lm.get(), static_cast<int32>(w))) known.insert(word);
  }
  std::ifstream in(model.dictionary);
  std::string kept;
  // Lines are "word phones..." or "word(2) phones..." for another pronunciation.
  for (std::string line; std::getline(in, line);) {
    const std::string word = line.substr(0, line.find_first_of(" \t("));
    if (known.count(word)) kept.append(line).push_back('\n');
  }
  if (!in.eof()) throw SpeechModelError(broken);
  // A forced exit removes it too.
  model_.dictionary = scratchFile("dictionary", kept);
}

SearchDictionary::~SearchDictionary() { ScratchFiles::remove(model_.dictionary); }

struct SpeechDecoder::Impl {
  ps_decoder_t* ps = nullptr;
  // The language-model search the decoder runs: the stock model's, or the hesitation mix.
  const char* search = "_default";
  // The model normalises each utterance by its mean cepstrum. That is done here, over the
  // whole stretch, so the decoder can take the stretch in small blocks (and be stopped between
  // them) with the same result as one call for the whole stretch.
  bool meanOverStretch = false;
  std::vector<mfcc_t> cepstra;
  std::vector<mfcc_t*> rows;
  ~Impl() {
    if (ps) ps_free(ps);
  }
};

SpeechDecoder::SpeechDecoder(const SpeechModel& model, const DecoderSettings& settings)
    : impl_(std::make_unique<Impl>()) {
  quietLogs();
  if (auto missing = model.missingFiles(); !missing.empty())
    throw SpeechModelError("The speech model is not installed (missing " + missing.front() + "); install the " +
                           model.package + " package");

  // The parser takes the first entry as the program's name.
  const bool mixHesitations = settings.hesitationWeight > 0;
  // No "-logfn": the decoder would swap (and fclose) the process-wide log stream, which races
  // when decoders are made side by side. quietLogs() has already switched logging off.
  // The best-path pass is run here rather than by the decoder (see bestPath below).
  std::vector<std::string> args = {"kestrane",        "-hmm", model.acousticModel, "-dict", model.dictionary,
                                   "-remove_silence", "no",   "-bestpath",         "no"};
  // Without the mix the decoder loads the stock model itself; with it, the mix is built below.
  if (!mixHesitations) {
    args.push_back("-lm");
    args.push_back(model.languageModel);
  }
  for (const auto& [key, value] : settings.options) {
    args.push_back(key);
    args.push_back(value);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::unique_ptr<cmd_ln_t, ConfigCloser> config(
      cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), FALSE));
  if (!config) throw SpeechModelError("The speech recognizer rejected its settings");
  impl_->ps = ps_init(config.get());
  const std::string broken = "The speech model could not be loaded; reinstall the " + model.package + " package";
  if (!impl_->ps) throw SpeechModelError(broken);
  // Blocks of features that would wrap around the decoder's ring buffer are dropped, not
  // split; a buffer that grows to hold the stretch avoids that. A call that only computes
  // features is the one way to switch growing on.
  ps_process_cep(impl_->ps, nullptr, 0, TRUE, FALSE);
  if (feat_t* feat = ps_get_feat(impl_->ps); feat && feat->cmn == CMN_BATCH) {
    impl_->meanOverStretch = true;
    feat->cmn = CMN_NONE;
  }
  if (mixHesitations) {
    logmath_t* lmath = ps_get_logmath(impl_->ps);
    ModelPtr stock(ngram_model_read(config.get(), model.languageModel.c_str(), NGRAM_AUTO, lmath));
    ModelPtr hesitations = hesitationModel(config.get(), lmath);
    if (!stock || !hesitations) throw SpeechModelError(broken);
    ngram_model_t* parts[] = {stock.get(), hesitations.get()};
    char stockName[] = "stock";
    char hesitationName[] = "hesitations";
    char* names[] = {stockName, hesitationName};
    const float32 weights[] = {static_cast<float32>(1.0 - settings.hesitationWeight),
                               static_cast<float32>(settings.hesitationWeight)};
    // The set and the search keep their own references to the models.
    ModelPtr mix(ngram_model_set_init(config.get(), parts, names, weights, 2));
    if (!mix || ps_set_lm(impl_->ps, "mixed", mix.get()) < 0 || ps_set_search(impl_->ps, "mixed") < 0)
      throw SpeechModelError(broken);
    impl_->search = "mixed";
  }
}

SpeechDecoder::~SpeechDecoder() = default;

std::vector<RecognizedToken> SpeechDecoder::decode(const std::int16_t* samples, std::size_t count, const Poll& poll) {
  ps_decoder_t* ps = impl_->ps;
  std::vector<RecognizedToken> tokens;
  // A new stream per stretch: frame numbers restart at 0 and no noise estimate carries over, so
  // a stretch decodes the same whichever decoder takes it and whatever it decoded before.
  if (ps_start_stream(ps) < 0) throw std::runtime_error("The speech recognizer could not start");

  // The stretch's cepstra first, normalised over the whole stretch.
  fe_t* fe = ps_get_fe(ps);
  const auto width = static_cast<std::size_t>(fe_get_output_size(fe));
  int32 frames = 0;
  std::size_t left = count;
  const int16* at = samples;
  if (fe_start_utt(fe) < 0 || fe_process_frames(fe, nullptr, &left, nullptr, &frames, nullptr) < 0)
    throw std::runtime_error("The speech recognizer failed on the audio");
  auto& cepstra = impl_->cepstra;
  auto& rows = impl_->rows;
  cepstra.assign((static_cast<std::size_t>(frames) + 1) * width, 0);
  rows.resize(static_cast<std::size_t>(frames) + 1);
  for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = cepstra.data() + r * width;
  left = count;
  int32 tail = 0;
  if (fe_process_frames(fe, &at, &left, rows.data(), &frames, nullptr) < 0 ||
      fe_end_utt(fe, rows[static_cast<std::size_t>(frames)], &tail) < 0)
    throw std::runtime_error("The speech recognizer failed on the audio");
  frames += tail;
  rows.resize(static_cast<std::size_t>(frames));
  if (impl_->meanOverStretch && frames > 0) {
    feat_t* feat = ps_get_feat(ps);
    cmn(feat->cmn_struct, rows.data(), feat->varnorm, frames);
  }

  // Fed in blocks, the decoder keeps the feature window's last frames back for context that
  // only the end of a raw-audio utterance supplies; the last frame repeated supplies it instead,
  // as it does at the end of a whole utterance.
  if (frames > 0) {
    const mfcc_t* last = rows[static_cast<std::size_t>(frames) - 1];
    for (int k = 0; k < feat_window_size(ps_get_feat(ps)); ++k) rows.push_back(const_cast<mfcc_t*>(last));
  }
  const auto fed = static_cast<int32>(rows.size());

  if (ps_start_utt(ps) < 0) throw std::runtime_error("The speech recognizer could not start");
  try {
    for (int32 done = 0; done < fed;) {
      if (poll) poll(std::min(count, static_cast<std::size_t>(done) * kSpeechSampleRate / kSpeechFrameRate));
      const int32 block = std::min<int32>(static_cast<int32>(kPollFrames), fed - done);
      if (ps_process_cep(ps, rows.data() + done, block, FALSE, FALSE) < 0)
        throw std::runtime_error("The speech recognizer failed on the audio");
      done += block;
    }
  } catch (...) {
    ps_end_utt(ps);
    throw;
  }
  if (ps_end_utt(ps) < 0) throw std::runtime_error("The speech recognizer could not finish");
  if (frames == 0) return tokens;
  tokens = bestPath(ps, impl_->search);
  if (!tokens.empty()) return tokens;
  // Without a best path, the first pass's words.
  for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
    int sf = 0, ef = 0;
    ps_seg_frames(seg, &sf, &ef);
    const char* word = ps_seg_word(seg);
    tokens.push_back({word ? word : "", sf, ef});
  }
  return tokens;
}

}  // namespace kestrane::platform
