#pragma once
// What is at the footage's path now, held against the footage the window judged to be there. A
// recording saved under the footage's name while the window was open (a new take, a copy broken
// off) must never be played, or cut, as the recording that was listened to.
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "kestrane/model/CountedClock.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/FootageCheck.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::app {

struct FootageLook {
  // The file at the path, held open, once it is proven to be the footage.
  std::shared_ptr<const platform::MediaFile> file;
  bool missing = false;                   // nothing is at the path
  std::optional<std::string> unreadable;  // why what is there can't be opened as media
  std::optional<std::string> change;      // how the file there differs from the footage, as a clause naming it
  Pipeline::FootageRemedy remedy = Pipeline::FootageRemedy::putBack;  // what to do about that change
  // Footage proven for a session an earlier build stored: where its counted times lie on the
  // file's clock, as its re-cut will move them.
  std::optional<CountedClock> movedBy;

  bool proven() const { return !missing && !unreadable && !change; }
  static FootageLook of(std::shared_ptr<const platform::MediaFile> file) { return {std::move(file)}; }
};

namespace FootageLooks {

// The plain file at `path`, held open; or that nothing is there, or why what is there can't be
// opened as media. Never waits on a pipe.
FootageLook opened(const std::string& path);

// The file at `footage.source.path` against what `footage` holds of the recording (its stated
// facts, its levels and the clock they are on): opened, then judged as a re-cut judges it.
// Takes from tens of milliseconds to seconds, so never on the window's thread; throws Cancelled
// once `stop` is requested.
FootageLook at(const KestraneSession& footage, std::stop_token stop);

// The same file in the same state: both held files share device, inode, size and modification
// time, or neither side holds one (footage that was never on disk, as tests script it).
bool sameFile(const std::shared_ptr<const platform::MediaFile>& a, const std::shared_ptr<const platform::MediaFile>& b);

}  // namespace FootageLooks

}  // namespace kestrane::app
