// Any composition the model writes is scanned without a crash, and every reference the gate
// quotes is valid UTF-8 of at most 120 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kestrane/graphics/ExternalResourceGate.hpp"
#include "kestrane/graphics/GraphicsText.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const auto found = kestrane::ExternalResourceGate::violations(html);
  for (const auto& v : found)
    if (kestrane::GraphicsText::graphemeCount(v.reference) > 120) std::abort();
  (void)kestrane::ExternalResourceGate::failureReason(found);
  return 0;
}
