#include "kestrane/ai/ModelError.hpp"

#include <cmath>

#include "kestrane/ai/ModelText.hpp"

namespace kestrane {

ModelError ModelError::cliFailed(int status, const std::string& output) {
  // The tool ends its message with a line break, which a stored warning must not keep.
  return {Kind::cliFailed,
          "claude CLI exited " + std::to_string(status) + ": " +
              std::string(ModelText::trim(ModelText::withoutControls(ModelText::prefix(output, 300))))};
}

ModelError ModelError::apiFailed(const std::string& message) {
  return {Kind::apiFailed, "Claude API error: " + ModelText::withoutControls(message)};
}

ModelError ModelError::timedOut(double seconds) {
  return {Kind::timedOut,
          "Claude call timed out after " + std::to_string(static_cast<long long>(std::trunc(seconds))) + "s", seconds};
}

ModelError ModelError::rateLimited(const std::string& detail) {
  return {Kind::rateLimited, detail.empty() ? "your Claude usage window is full — try again when it resets"
                                            : "your Claude usage window is full — " + detail};
}

ModelError ModelError::notSignedIn() {
  return {Kind::notSignedIn,
          "your Claude sign-in has expired — open a terminal, run “claude”, log in, then use "
          "Retry AI Pass or re-cut"};
}

}  // namespace kestrane
