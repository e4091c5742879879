#pragma once
// What a warning says about a failure the engine caught and carried on past. Errors written for
// the user, and failures to reach a service or start a program, say what happened in their own
// words; anything else is a fault of the program and is named as one, as the command line and
// the application name a job that fails that way.
#include <exception>
#include <string>

namespace kestrane::FailureMessage {

// True when `error` is neither written for the user nor a transport failure.
bool isInternal(const std::exception& error);

// The error's own message, or "internal error: " and its detail for an internal one.
std::string of(const std::exception& error);

}  // namespace kestrane::FailureMessage
