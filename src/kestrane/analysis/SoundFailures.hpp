#pragma once
// The sound reader's failures as the analysis says them. Internal to the analysis folder.
#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/platform/AudioDecoder.hpp"

namespace kestrane::AudioAnalyzer {

// What `read` returns; a failure of the sound reader it meets is thrown as the AnalyzerError
// that says it.
template <typename Read>
auto heardThrough(const Read& read) {
  try {
    return read();
  } catch (const platform::NoAudioStreamError&) {
    throw AnalyzerError::noAudioTrack();
  } catch (const platform::FileReadError& e) {
    throw AnalyzerError::unreadable(e.what());
  } catch (const platform::SoundJumpError& e) {
    throw AnalyzerError::damaged(e.what());
  } catch (const platform::MediaReadError& e) {
    throw AnalyzerError::decodeFailed(e.what());
  }
}

}  // namespace kestrane::AudioAnalyzer
