#include "kestrane/ai/CompositionAuthor.hpp"

namespace kestrane::CompositionAuthor {

ModelCall call(std::string prompt) {
  ModelCall c;
  c.prompt = std::move(prompt);
  c.tier = ModelTier::reasoning;
  c.form = ReplyForm::composition;
  c.timeoutSeconds = kTimeoutSeconds;
  c.maxTokens = kMaxTokens;
  c.apiModel = kApiModel;
  return c;
}

std::string compose(const AIBackend& backend, const std::string& prompt, std::stop_token stop) {
  return backend.send(call(prompt), stop);
}

}  // namespace kestrane::CompositionAuthor
