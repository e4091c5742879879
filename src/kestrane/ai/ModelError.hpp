#pragma once
// The failures of one call to the AI model, each with the sentence shown to the user.
#include <string>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane {

class ModelError : public UserFacingError {
 public:
  enum class Kind { cliFailed, apiFailed, timedOut, rateLimited, notSignedIn };

  static ModelError cliFailed(int status, const std::string& output);
  static ModelError apiFailed(const std::string& message);
  static ModelError timedOut(double seconds);
  static ModelError rateLimited(const std::string& detail);
  static ModelError notSignedIn();

  Kind kind() const { return kind_; }
  // Seconds allowed, for timedOut.
  double seconds() const { return seconds_; }

 private:
  ModelError(Kind kind, const std::string& message, double seconds = 0)
      : UserFacingError(message), kind_(kind), seconds_(seconds) {}
  Kind kind_;
  double seconds_;
};

}  // namespace kestrane
