// Any composition the model writes is scanned without a crash, and every reference the gate
// quotes is valid UTF-8 of at most 120 characters. The same bytes also pick a script of valid
// statements that trip comment readers up, with a call placed between two of them: that call
// is live code, so the gate must always refuse it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kestrane/graphics/ExternalResourceGate.hpp"
#include "kestrane/graphics/GraphicsText.hpp"
#include "../graphics/TrickyStatements.hpp"

namespace {

bool refusesTheCall(const std::uint8_t* data, std::size_t size) {
  const std::size_t count = std::min<std::size_t>(size, 24);
  const std::size_t at = size == 0 ? 0 : data[0] % (count + 1);
  std::string program =
      "<script>" + kestrane::test::scriptWithLiveCall(count, at, [&](std::size_t k) { return data[k]; });
  program += "</script>";
  for (const auto& v : kestrane::ExternalResourceGate::violations(program))
    if (v.description() == "runtime network call fetch(") return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  const auto found = kestrane::ExternalResourceGate::violations(html);
  for (const auto& v : found)
    if (kestrane::GraphicsText::graphemeCount(v.reference) > 120) std::abort();
  (void)kestrane::ExternalResourceGate::failureReason(found);
  if (!refusesTheCall(data, size)) std::abort();
  return 0;
}
