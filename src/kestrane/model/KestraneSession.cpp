#include "kestrane/model/KestraneSession.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

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

bool writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void KestraneSession::write(const fs::path& path) const {
  std::string text;
  try {
    text = SessionJson::encode(*this);
  } catch (const SessionFileError& e) {
    writeFailure(path, e.what());
  }
  // A temporary file beside the destination, renamed over it only once complete.
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) writeFailure(path, std::strerror(errno));
  const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  if (!written) {
    ::unlink(pattern.c_str());
    writeFailure(path, std::strerror(savedErrno));
  }
  ::chmod(pattern.c_str(), 0644);
  if (::rename(pattern.c_str(), path.c_str()) != 0) {
    const int renameErrno = errno;
    ::unlink(pattern.c_str());
    writeFailure(path, std::strerror(renameErrno));
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
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) throw failure("it could not be read");
  try {
    return SessionJson::decode(buffer.str());
  } catch (const SessionFileError& e) {
    throw failure(e.what());
  }
}

}  // namespace kestrane
