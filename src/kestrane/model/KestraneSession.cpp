#include "kestrane/model/KestraneSession.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/SessionJson.hpp"

namespace kestrane {

namespace fs = std::filesystem;

KestraneSession KestraneSession::make(SourceMedia source, PipelineSettings settings,
                                      std::optional<std::string> script) {
  KestraneSession s;
  s.source = std::move(source);
  s.settings = std::move(settings);
  s.script = std::move(script);
  return s;
}

namespace {

[[noreturn]] void writeFailure(const fs::path& path, const std::string& why) {
  throw SessionFileError("Can't save the session file " + path.string() + " — " + why + ".");
}

}  // namespace

std::string KestraneSession::fileText(const fs::path& path) const {
  std::string text;
  try {
    text = SessionJson::encode(*this);
    if (text.size() > maxFileBytes) {
      throw SessionFileError("it would be larger than 256 MB, more than a run reads back");
    }
    // Nothing is saved that reading would refuse (a negative time, a hop of 0, ...): the old
    // file stays instead of being replaced by one that can't be opened again.
    SessionJson::decode(text);
  } catch (const SessionFileError& e) {
    writeFailure(path, e.what());
  }
  return text;
}

void KestraneSession::write(const fs::path& path) const {
  const std::string text = fileText(path);
  try {
    AtomicFile::write(path, text);
  } catch (const AtomicFile::WriteError& e) {
    writeFailure(path, e.reason());
  }
}

KestraneSession KestraneSession::read(const fs::path& path) {
  auto failure = [&](const std::string& why) {
    return SessionFileError("Can't read the session file " + path.string() + " — " + why + ".");
  };
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) throw failure(ec.message());
  if (size > maxFileBytes) throw failure("it is larger than 256 MB");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw failure(std::strerror(errno));
  // Read in pieces, so that a stop asked while a large file comes in is heard.
  std::string text;
  text.reserve(static_cast<std::size_t>(size));
  std::vector<char> piece(std::size_t{1} << 20);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    text.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    if (in) checkpoint();
  }
  if (in.bad()) throw failure("it could not be read");
  try {
    return SessionJson::decode(text);
  } catch (const SessionFileError& e) {
    throw failure(e.what());
  }
}

}  // namespace kestrane
