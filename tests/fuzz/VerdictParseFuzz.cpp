// Any reply text, read as it stands or as the tool's envelope, either reads as a verdict or
// fails with the parse error or a failed reply; nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kestrane/ai/ModelClient.hpp"
#include "kestrane/ai/Verdict.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  try {
    (void)kestrane::Adjudicator::parse(reply);
  } catch (const kestrane::Adjudicator::AdjudicationError&) {
  }
  try {
    (void)kestrane::Adjudicator::parse(kestrane::ModelClient::unwrapCLIEnvelope(reply));
  } catch (const kestrane::Adjudicator::AdjudicationError&) {
  } catch (const kestrane::ModelError&) {
  }
  return 0;
}
