#pragma once
// What the file at a rough-cut movie's name is, read from the file itself: its identity by its
// bytes (MovieIdentity) and the length of the media in it. Only a plain file is looked at: never
// what a link points at, and a FIFO is never waited on.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "kestrane/model/MovieIdentity.hpp"

namespace kestrane::platform {

// The SHA-256, in lowercase hexadecimal, of samples of the `size` bytes of the file open as `fd`:
// the whole file when it is at most 4 MiB long, else its first and last MiB with 32 blocks of
// 64 KiB evenly spaced between them, in file order. A few milliseconds whatever the movie's
// length, and any two renders of different cuts differ in the first and last MiB alone (the
// header and the sample tables). None when the bytes can't be read, or fewer than `size` are
// there. The samples never change: recorded digests are compared with it.
std::optional<std::string> sampledSHA256(int fd, std::int64_t size);

// The identity of the plain file open as `fd`: its size and modification time, with its digest
// when it can be read. None when `fd` is no plain file or can't be looked at.
std::optional<MovieIdentity> movieIdentity(int fd);

// The identity of the plain file at `path`; none when nothing, a link, a folder or anything else
// but a plain file is there. A plain file this user can't read has no digest.
std::optional<MovieIdentity> movieIdentityAt(const std::filesystem::path& path);

// The length in seconds of the media in the plain file at `path`, as its container gives it (for
// a rough cut this program rendered, its frames' length rounded up to the millisecond); none when
// no plain file is there or it holds no media FFmpeg reads.
std::optional<double> mediaSecondsAt(const std::filesystem::path& path);

}  // namespace kestrane::platform
