#pragma once
// A media file held open, so that every reader of a run reads the one file that was looked at,
// whatever happens at its path meanwhile: a rename over it, a sync client putting another file
// there, a group member saving another take under its name. Only a plain file is ever held: a
// FIFO or a device at the path is refused without waiting on it.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {

// The file at the path can't be held as media; `reason()` says why in a few words.
class MediaFileError : public UserFacingError {
 public:
  MediaFileError(const std::string& path, const std::string& reason, bool missing = false)
      : UserFacingError("Can't read " + path + " — " + reason), reason_(reason), missing_(missing) {}
  const std::string& reason() const { return reason_; }
  // Nothing is at the path.
  bool missing() const { return missing_; }

 private:
  std::string reason_;
  bool missing_ = false;
};

// The file could not be opened as media at all.
struct MediaOpenError : UserFacingError {
  using UserFacingError::UserFacingError;
};
// Reading a track of a held file failed after it opened; what() is the bare detail.
struct MediaReadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The system failed to read the held file (a failing drive, a lost network share): no fault of
// the media. what() is the bare detail.
struct FileReadError : MediaReadError {
  using MediaReadError::MediaReadError;
};

// Which file, and in which state: it differs once the file is written, cut short or grown in
// place. Its change time is not part of it: renaming the file, or another file taking its name,
// changes that without touching a byte.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;

  bool operator==(const FileStamp&) const = default;
};

class MediaFile {
 public:
  // Holds the plain file at `path` open for reading. Throws MediaFileError: "no such file",
  // "it is a folder", "it is not a regular file", "no permission to read it", "the file is
  // empty", or the system's words.
  static std::shared_ptr<const MediaFile> open(const std::string& path);
  // Why open would refuse the file at `path`, in the same words, found without opening it (a
  // pipe there is never waited on); none for a plain file with bytes that this account may read.
  // Whether the bytes are media is for a reader to find.
  static std::optional<std::string> problemAt(const std::string& path);

  ~MediaFile();
  MediaFile(const MediaFile&) = delete;
  MediaFile& operator=(const MediaFile&) = delete;

  // The path it was opened at, for messages; the file may no longer be there.
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  // The file as it was when it was opened.
  const FileStamp& stamp() const { return stamp_; }
  // True while the file is still as it was opened: not written, cut short or grown since.
  bool unchanged() const;
  // True while the path it was opened at still names this file, as it was opened: nothing was
  // renamed over it, it was not moved away, and it was not written since.
  bool stillAtItsPath() const;

 private:
  MediaFile(std::string path, int fd, const FileStamp& stamp) : path_(std::move(path)), fd_(fd), stamp_(stamp) {}

  std::string path_;
  int fd_ = -1;
  FileStamp stamp_;
};

}  // namespace kestrane::platform
