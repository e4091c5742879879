#pragma once
// A move into place that a run left halfway, found by the next run on the package: what becomes
// of its record, decided in one place.
#include <filesystem>
#include <optional>
#include <string>

namespace kestrane::Pipeline::detail {

// Deals with the record of a move into place left in `folder`, if there is one, in one of five
// ways, and returns what the job should hear of it:
// - finished, as its record says: the files it had not moved yet are moved and those it was to
//   remove go. Only a record that moves the program's own staged files onto, and removes, only
//   the names the writer of the package in `folder` gives its files (never removing the session
//   file), in a folder that holds that package; that no account but its owner can have written,
//   or that any account may write where every account may already change all it changes; with a
//   single name; and where every name it changes holds what it held before the move or the very
//   file the run staged for it. A move whose name holds what it held before but whose staged file
//   is no longer the one the run staged is not made: the rest are, and the run stops
//   (PackageMayBeMixed) with the package marked as maybe mixed. Another account's is finished
//   too, as its owner's next run would, and said so.
// - refused (PackageUnlockable), with the record and the files not yet moved left as they are:
//   a name can't take its file or be removed; the session file it moves onto is no longer in the
//   folder (renamed beside it); the folder can't be listed.
// - set aside whole, under a name that replaces nothing, with nothing it names touched, and said
//   so: one that no run of ours can have left (not laid out as ours, or naming files that are not
//   this package's).
// - set aside so once the package is marked as maybe mixed, and the run stopped
//   (PackageMayBeMixed): any other record of this package's, which may be a run's own that can't
//   be proven so (another account could have written it, it has another name, an earlier build
//   wrote it, the disk's file times are too coarse, or its names hold what it can't account for,
//   as after a copy that did not keep times). Where it can't be set aside the run is refused,
//   and the mark stays.
// - left as it is, and the run stopped saying the package may be mixed (PackageMayBeMixed), where
//   this account can't act on it: it can write nothing there, or the record is another
//   account's that this user can't read, or that the folder lets only a file's owner move. A
//   record of the owner this disk gives every file (NTFS mounted by root, say) is no other
//   account's.
std::optional<std::string> finishInterruptedMove(const std::filesystem::path& folder);

}  // namespace kestrane::Pipeline::detail
