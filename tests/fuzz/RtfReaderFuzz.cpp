// Any bytes as an RTF document: plain text or nothing, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kestrane/platform/RtfReader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)kestrane::platform::rtfPlainText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
