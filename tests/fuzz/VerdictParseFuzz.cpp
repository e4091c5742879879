// Any reply text either reads as a verdict or fails with the parse error; nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kestrane/ai/Verdict.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto verdict = kestrane::Adjudicator::parse(std::string(reinterpret_cast<const char*>(data), size));
    (void)verdict;
  } catch (const kestrane::Adjudicator::AdjudicationError&) {
  }
  return 0;
}
