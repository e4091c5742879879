#pragma once
// How the motion-graphics run asks the model for one HTML composition: the reasoning model, a
// long reply and no session left behind in the user's `claude` history.
#include <stop_token>
#include <string>

#include "kestrane/ai/AIBackend.hpp"

namespace kestrane::CompositionAuthor {

inline constexpr double kTimeoutSeconds = 600;
inline constexpr int kMaxTokens = 32000;
inline constexpr const char* kApiModel = "claude-sonnet-5";

ModelCall call(std::string prompt);

// The model's reply as received; the backend's errors pass through unchanged.
std::string compose(const AIBackend& backend, const std::string& prompt, std::stop_token stop);

}  // namespace kestrane::CompositionAuthor
