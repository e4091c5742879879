#pragma once
// What a package folder holds and what its files are called. Every reader and writer of a
// package takes the names from here, so a package reopened, re-cut or re-placed is found the
// way a run wrote it.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/pipeline/PipelineError.hpp"

namespace kestrane::Pipeline {

// The path given is no session file, nor a folder holding one.
class NoSessionFound : public PipelineError {
 public:
  using PipelineError::PipelineError;
  NoSessionFound(const std::string& message, std::vector<std::string> warnings)
      : PipelineError(message), warnings_(std::move(warnings)) {}

  // What looking found to tell the user even so (hidden files of a stopped run removed).
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  std::vector<std::string> warnings_;
};

// The names of a package's files, for footage whose stem is `stem`, inside `dir`.
struct PackageLayout {
  std::filesystem::path dir;
  std::string stem;

  std::filesystem::path session() const { return dir / (stem + ".kestrane.json"); }
  std::filesystem::path fcpxml() const { return dir / (stem + ".fcpxml"); }
  std::filesystem::path premiereXml() const { return dir / (stem + " (Premiere).xml"); }
  std::filesystem::path movie() const { return dir / (stem + " rough cut.mp4"); }
  // The `n`th name a file at the movie's name that no run of ours made is kept under: "<stem>
  // rough cut (not this cut).mp4", then "… (not this cut 2).mp4", and so on.
  std::filesystem::path setAsideMovie(int n) const;
  // The first of those names where nothing stands.
  std::filesystem::path freeSetAsideMovie() const;
  std::filesystem::path transcript() const { return dir / "transcript.md"; }
  std::filesystem::path captions() const { return dir / "captions.srt"; }
  std::filesystem::path coverage() const { return dir / "script-coverage.md"; }
  std::filesystem::path visualIdeas() const { return dir / "visual-ideas.md"; }
  std::filesystem::path assets() const { return dir / "assets"; }
};

// An opened package: where its session file is, and which of its files are there now.
struct PackageContents {
  PackageLayout layout;
  std::filesystem::path session;  // the session file named or found
  // The folder is a package: its name says so, or it holds the session's timeline (a package
  // renamed by hand). Only a package is ever rewritten in place.
  bool isPackage = false;
  std::optional<std::filesystem::path> fcpxml;
  std::optional<std::filesystem::path> premiereXml;
  std::optional<std::filesystem::path> movie;
  std::optional<std::filesystem::path> visualIdeas;
  std::optional<std::filesystem::path> assetsDir;
  // What opening it found to tell the user (a record of a move set aside unread).
  std::vector<std::string> warnings;
};

// The stem of a session file's name: "talk.kestrane.json" gives "talk"; a session file named
// otherwise loses only its last extension. A package's files are named after its footage, not
// after this: a session file renamed by hand keeps its new name.
std::string sessionStem(const std::filesystem::path& sessionFile);

// True for the name of a file a run writes into a package whose footage's stem is `stem`: the
// fixed names and the stem's own. Never a hidden file of the program's own.
bool isPackageFileName(std::string_view name, std::string_view stem);

// True for a name setAsideMovie gives for footage whose stem is `stem`.
bool isSetAsideMovieName(std::string_view name, std::string_view stem);

// The session files ("*.kestrane.json", plain files) in `folder`; `ec` says why it can't be read.
std::vector<std::filesystem::path> sessionFilesIn(const std::filesystem::path& folder, std::error_code& ec);

// A package folder's name ends in " Kestrane" or ".kestrane".
bool isPackageFolderName(const std::string& folderName);

// `dir` (with or without a trailing separator) has a package folder's name.
bool isPackageFolder(const std::filesystem::path& dir);

// True when a plain file stands at `path`: never a link, a folder or a FIFO. Only such a file at
// the movie's name is the package's movie, whatever a link there points at.
bool holdsPlainFile(const std::filesystem::path& path);

// A session file's name: something before ".kestrane.json".
bool isSessionFileName(std::string_view name);

// The session file `sessionOrPackage` names: the file itself, or the one session file
// ("*.kestrane.json") inside a package folder. A move into place that a killed run left halfway
// is finished first, under the package's lock, so the session found is the one the package's
// files follow (a first cut killed so has no session file in place until then); what that
// found to tell the user goes to `warnings`. A package folder holding nothing but the hidden
// files of a first cut that was stopped before any file was in place is cleared away, and
// that is said. Throws NoSessionFound when the path does not exist or a folder holds none,
// PipelineError when it can't be read or holds several, PackageBusy when no session file is
// there because another run is still writing the package, PackageUnlockable when the package
// can't be locked, PackageMayBeMixed when a move a killed run left could not be finished whole.
std::filesystem::path sessionFileFor(const std::filesystem::path& sessionOrPackage, std::vector<std::string>& warnings);

// What the folder of `sessionFile` holds, named as the writer names the files of footage whose
// stem is `footageStem` (sourceStem of the session's source), whatever the session file is
// called. Reads only the folder.
PackageContents packageContents(const std::filesystem::path& sessionFile, const std::string& footageStem);

// A package opened to be shown again or re-cut.
struct OpenedPackage {
  KestraneSession session;  // as read once any move a killed run left was dealt with
  PackageContents contents;
  // A killed run's move may have left the package holding parts of two cuts, and the last of
  // the contents' warnings says so: it is no finished cut until it is re-cut.
  bool mayBeMixed = false;
  // No file is at the footage's path, or the file there is other footage than the package was
  // cut from (`footageChanged` says how, and what to do): the cut can't be played or re-cut.
  bool footageMissing = false;
  std::optional<std::string> footageChanged;
};

// A package folder or a session file opened: sessionFileFor, the session read, then
// packageContents. A package that may hold parts of two cuts still opens, for its re-cut,
// saying so (the sentence the run stopped on, or the mark's). The file at the footage's path is
// held against what the session stores of the footage. Throws NoSessionFound, PackageBusy
// and PackageUnlockable as sessionFileFor does; any other failure to read it throws with what
// opening found said after its own message.
OpenedPackage openPackage(const std::filesystem::path& sessionOrPackage);

// openPackage without looking at the footage (footageMissing and footageChanged stay unset), for
// a caller that looks at it itself where waiting on that look does no harm.
OpenedPackage readPackage(const std::filesystem::path& sessionOrPackage);

// True when the plain file at `movie` is the one the session vouches for and plays the frames of
// the cut it stores. The session knows its movie by size and a digest of its bytes, so a copy of
// the package (cp -r, tar, zip, a disk that keeps coarser times) keeps it this cut's; a session
// of an earlier build, which records no digest, knows it by its size and time, or else by its
// length to the frame: that of the cut it records, or of its own cut when it records none. Any
// other file there shows an earlier cut: one a later cut kept when its own movie failed or was
// stopped, one a killed run left, or one put or copied there — never this cut's.
bool roughCutShowsStoredCut(const KestraneSession& session, const std::filesystem::path& movie);
// What is said of a movie that shows an earlier cut than the package's.
inline constexpr std::string_view kKeptEarlierRoughCut =
    "Kept the rough cut of the earlier cut — it shows the earlier cut, not this one";

}  // namespace kestrane::Pipeline
