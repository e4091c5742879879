#include "kestrane/platform/FailureMessage.hpp"

#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/platform/HttpClient.hpp"
#include "kestrane/platform/ProcessRunner.hpp"

namespace kestrane::FailureMessage {

bool isInternal(const std::exception& error) {
  return dynamic_cast<const UserFacingError*>(&error) == nullptr &&
         dynamic_cast<const HttpClient::TransportError*>(&error) == nullptr &&
         dynamic_cast<const ProcessRunner::StartError*>(&error) == nullptr;
}

std::string of(const std::exception& error) {
  if (isInternal(error)) return std::string("internal error: ") + error.what();
  return error.what();
}

}  // namespace kestrane::FailureMessage
