// Any bytes as a session file: decoding either fails with the session's own error or gives a
// session that writes, reads back and writes again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/SessionJson.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrane;
  KestraneSession session;
  try {
    session = SessionJson::decode(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const SessionFileError&) {
    return 0;
  }
  const std::string written = SessionJson::encode(session);
  if (SessionJson::encode(SessionJson::decode(written)) != written) std::abort();
  return 0;
}
