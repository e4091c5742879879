#include "kestrane/ai/AdjudicationBackend.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "kestrane/ai/ModelError.hpp"
#include "kestrane/ai/ModelText.hpp"
#include "kestrane/model/Cancelled.hpp"

namespace kestrane {

namespace {

void realSleep(double seconds, std::stop_token stop) {
  std::mutex lock;
  std::condition_variable_any wake;
  std::unique_lock guard(lock);
  wake.wait_for(guard, stop, std::chrono::duration<double>(seconds), [] { return false; });
}

double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Errors after which another attempt cannot help.
bool isFinal(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Cancelled&) {
    return true;
  } catch (const ModelError& e) {
    return e.kind() == ModelError::Kind::rateLimited || e.kind() == ModelError::Kind::notSignedIn;
  } catch (...) {
    return false;
  }
}

}  // namespace

ModelAdjudicationBackend::ModelAdjudicationBackend(std::shared_ptr<const AIBackend> backend, double timeout,
                                                   ModelTier tier)
    : sleeper(realSleep), clock(monotonicSeconds), backend_(std::move(backend)), timeout_(timeout), tier_(tier) {}

double ModelAdjudicationBackend::scaledTimeout(int promptWordCount, double base) {
  const int words = std::max(promptWordCount, 0);
  return std::min(kTimeoutCap, base + (words / 1000) * kTimeoutPerThousandWords);
}

std::string ModelAdjudicationBackend::complete(const std::string& prompt, std::stop_token stop) const {
  const double scaled = scaledTimeout(ModelText::wordCount(prompt), timeout_);
  const double start = clock();
  double remaining = kOverallCap - (clock() - start);
  if (remaining < kMinAttemptTimeout) throw ModelError::timedOut(scaled);

  for (int attempt = 1;; ++attempt) {
    throwIfStopped(stop);
    ModelCall call;
    call.prompt = prompt;
    call.tier = tier_;
    call.form = ReplyForm::verdict;
    call.timeoutSeconds = std::min(remaining, kEscalation[attempt - 1] * scaled);
    call.maxTokens = 4096;
    std::exception_ptr error;
    try {
      return backend_->send(call, stop);
    } catch (...) {
      error = std::current_exception();
    }
    if (isFinal(error) || attempt == kMaxAttempts) std::rethrow_exception(error);
    remaining = kOverallCap - (clock() - start);
    if (remaining < kMinAttemptTimeout) std::rethrow_exception(error);
    if (onRetryAttempt) onRetryAttempt(attempt + 1, kMaxAttempts);
    sleeper(kBackoff[attempt - 1], stop);
    // A stop during the pause ends the call before another attempt.
    throwIfStopped(stop);
  }
}

}  // namespace kestrane
