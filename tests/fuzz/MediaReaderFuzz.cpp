// Any bytes as footage, grown from small MP4 and Matroska copies of the sample: each input is
// written to a file, held as footage and judged against the session of a real first cut of the
// sample, and against that session as an earlier build stored it (with no "soundTiming"); then
// its sound is decoded whole. A verdict or a refusal is an answer; only a crash, a hang or
// undefined behaviour is a fault here (the sanitizers watch).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stop_token>
#include <string>

#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace {

using namespace kestrane;
namespace fs = std::filesystem;

// Decoding stops past this many sample frames, three minutes at 48 kHz: damage can make a few
// kilobytes claim hours of sound, and reading on through it says nothing more of the reader.
constexpr std::size_t kMostFrames = std::size_t{3} * 60 * 48000;

struct Sessions {
  KestraneSession current;
  KestraneSession earlier;
};

// The sample's MP4 seed cut once, as a user's first cut would, its package put away again.
Sessions firstCutOfTheSeed() {
  const fs::path out = fs::temp_directory_path() / ("kestrane-fuzz-cut-" + std::to_string(::getpid()));
  Pipeline::Request request;
  request.input = KESTRANE_FUZZ_MEDIA_SEED;
  request.outputDir = out;
  request.settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  request.settings.aiAdjudication = false;
  Sessions sessions;
  sessions.current = Pipeline::run(request).session;
  fs::remove_all(out);
  sessions.earlier = sessions.current;
  sessions.earlier.soundTiming = SoundTiming::countedSamples;
  return sessions;
}

const Sessions* sessions = nullptr;
std::string inputPath;

void removeInput() { ::unlink(inputPath.c_str()); }

// The held file of `data`, or none when it can't be held (an empty input).
std::shared_ptr<const platform::MediaFile> heldInput(const std::uint8_t* data, std::size_t size) {
  std::ofstream(inputPath, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    return platform::MediaFile::open(inputPath);
  } catch (const platform::MediaFileError&) {
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sessions = new Sessions(firstCutOfTheSeed());
  inputPath = (fs::temp_directory_path() / ("kestrane-fuzz-media-" + std::to_string(::getpid()))).string();
  std::atexit(removeInput);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::shared_ptr<const platform::MediaFile> file = heldInput(data, size);
  if (!file) return 0;
  for (const KestraneSession* session : {&sessions->current, &sessions->earlier}) {
    try {
      Pipeline::judgeFootage(*session, file);
    } catch (const std::exception&) {
      // A refusal is an answer.
    }
  }
  std::stop_source enough;
  std::size_t frames = 0;
  try {
    platform::decodeAudio(
        file,
        [&](const platform::AudioBlock& block) {
          frames += block.frames;
          if (frames > kMostFrames) enough.request_stop();
        },
        enough.get_token());
  } catch (const std::exception&) {
    // Damage, no sound, or enough of it.
  }
  return 0;
}
