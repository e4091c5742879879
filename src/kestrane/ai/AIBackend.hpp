#pragma once
// The way a job reaches the AI model: one prompt in, one text out. The model client provides
// the two real ones (the vendor's command-line tool and its HTTP messages API); tests provide
// their own.
#include <optional>
#include <stop_token>
#include <string>

namespace kestrane {

// Which model a call asks for.
enum class ModelTier { fast, reasoning };

// What kind of reply a call wants; it picks the command-line form and how its output is read.
enum class ReplyForm {
  text,         // plain text, the tool's default session handling
  verdict,      // a JSON verdict held to the verdict schema; the tool's envelope is removed
  composition,  // plain text, no session kept
};

struct ModelCall {
  std::string prompt;
  ModelTier tier = ModelTier::reasoning;
  ReplyForm form = ReplyForm::text;
  // Time limit of a command-line run; the HTTP route has its own fixed request time-out.
  double timeoutSeconds = 600;
  // Output cap of the HTTP route.
  int maxTokens = 4096;
  // Model of the HTTP route in place of the tier's.
  std::optional<std::string> apiModel;
};

class AIBackend {
 public:
  virtual ~AIBackend() = default;
  // The model's reply. Throws ModelError for the model's own failures, Cancelled when `stop`
  // is triggered, and other errors of the platform (a tool that cannot start, a failed
  // transfer) unchanged.
  virtual std::string send(const ModelCall& call, std::stop_token stop) const = 0;
};

}  // namespace kestrane
