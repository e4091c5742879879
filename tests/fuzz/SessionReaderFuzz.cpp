// Any bytes as a session file: decoding either fails with the session's own error or gives a
// session that writes, reads back and writes again to the same bytes, and whose numbers the
// package writers turn into text without undefined conversions (the sanitizers watch).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "kestrane/export/FCPXMLWriter.hpp"
#include "kestrane/export/TranscriptExporter.hpp"
#include "kestrane/export/XMEMLWriter.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/SessionJson.hpp"
#include "kestrane/model/TimeStamp.hpp"

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

  timeStamp(session.source.durationSeconds);
  if (!session.cutList || !session.transcript || session.cutList->segments.size() > 2000) return 0;
  try {
    FCPXMLWriter::fcpxml(session.source, *session.cutList, {}, {}, {});
    XMEMLWriter::xmeml(session.source, *session.cutList, "fuzz", true);
    TranscriptExporter::markdown(session.source, *session.transcript, *session.cutList, {});
  } catch (const std::exception&) {
    // A refusal is an answer; only a crash or undefined behaviour is a fault here.
  }
  return 0;
}
