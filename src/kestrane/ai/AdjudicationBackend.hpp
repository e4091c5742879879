#pragma once
// What the adjudication pass and the self-review round send their prompts through: one prompt
// in, the model's verdict text out. ModelAdjudicationBackend is the real one: it sends the
// prompt to an AIBackend with a time budget that grows with the prompt, up to three attempts
// with a pause before each retry. A full usage window, a lost sign-in and a stop end it at once.
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "kestrane/ai/AIBackend.hpp"

namespace kestrane {

class AdjudicationBackend {
 public:
  virtual ~AdjudicationBackend() = default;
  virtual std::string complete(const std::string& prompt, std::stop_token stop) const = 0;
};

class ModelAdjudicationBackend : public AdjudicationBackend {
 public:
  static constexpr double kTimeoutCap = 900;
  static constexpr double kTimeoutPerThousandWords = 60;
  static constexpr int kMaxAttempts = 3;
  static constexpr double kEscalation[kMaxAttempts] = {1.0, 1.5, 2.0};
  static constexpr double kOverallCap = 1200;
  static constexpr double kMinAttemptTimeout = 60;
  static constexpr double kBackoff[kMaxAttempts - 1] = {2.0, 5.0};

  ModelAdjudicationBackend(std::shared_ptr<const AIBackend> backend, double timeout, ModelTier tier);

  // Told (attempt, attempts) just before each retry.
  std::function<void(int, int)> onRetryAttempt;
  // The pause before a retry; it returns early when `stop` is triggered. Real time by default.
  std::function<void(double, std::stop_token)> sleeper;
  // Seconds from any fixed point; only differences are used. Monotonic time by default.
  std::function<double()> clock;

  // The smaller of the cap and base plus a minute per whole thousand words.
  static double scaledTimeout(int promptWordCount, double base);

  // Throws the last attempt's error unchanged, or Cancelled.
  std::string complete(const std::string& prompt, std::stop_token stop) const override;

 private:
  std::shared_ptr<const AIBackend> backend_;
  double timeout_;
  ModelTier tier_;
};

}  // namespace kestrane
