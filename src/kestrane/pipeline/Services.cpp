#include "kestrane/pipeline/Services.hpp"

#include <cstdlib>

namespace kestrane::Pipeline {

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace kestrane::Pipeline
