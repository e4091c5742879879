#pragma once
// A move into place that a run left halfway, found by the next run on the package: what becomes
// of its record, decided in one place.
#include <filesystem>
#include <optional>
#include <string>

namespace kestrane::Pipeline::detail {

// Deals with the record of a move into place left in `folder`, if there is one, in one of four
// ways, and returns what the job should hear of it:
// - finished, as its record says: the files it had not moved yet are moved and those it was to
//   remove go. Only a record that moves the program's own staged files onto, and removes, only
//   the names the writer of the package in `folder` gives its files (never removing the session
//   file), in a folder that holds that package. Another account's is finished too, as its
//   owner's next run would, and said so.
// - refused (PackageUnlockable), with the record and the files not yet moved left as they are:
//   a name can't take its file or be removed; the session file it moves onto is no longer in the
//   folder (renamed beside it); another account's that this user can't read, or that the folder
//   lets only a file's owner move.
// - set aside whole, under a name that replaces nothing, with nothing it names touched: any other
//   record, and one that an account other than its owner could have written: one that moves a
//   staged file of that account's, or one whose record or staged file every account may write
//   (as a link to the lock) where not every account may change the package's session.
//   Where it can't be set aside the run is refused with nothing changed.
// - left as it is where this user can write nothing, and that is said.
std::optional<std::string> finishInterruptedMove(const std::filesystem::path& folder);

}  // namespace kestrane::Pipeline::detail
