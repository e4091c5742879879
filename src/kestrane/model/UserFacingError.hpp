#pragma once
// The root of every error whose message is written for the user. Whoever shows a failure
// shows what() of these as it is; any other exception is a fault of the program and is shown
// as an internal error with its detail.
#include <stdexcept>

namespace kestrane {

class UserFacingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kestrane
