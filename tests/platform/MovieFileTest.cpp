// A movie is known by its bytes, read back through the very file a run holds open.
#include "kestrane/platform/MovieFile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>

#include "pipeline/KillAtRename.hpp"
#include "pipeline/TestSupport.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

// `size` bytes that repeat nowhere a sample could land: the top byte of each step of the 32-bit
// linear congruential generator x = 1664525 x + 1013904223, from x = 1.
std::string patterned(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 1;
  for (char& byte : bytes) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<char>(x >> 24);
  }
  return bytes;
}

}  // namespace

// Which bytes the digest reads never changes: sessions record it, and a movie read otherwise
// would no longer be its cut's. A file past the samples' size is read at its first and last MiB
// and the blocks between them; one of exactly 4 MiB is read whole, and one byte more is sampled.
// The digests were worked out once outside this program, reading the same bytes:
//   python3 - <<'EOF'
//   import hashlib
//   n, M, K = 20 * 2**20 + 12345, 2**20, 2**16
//   x, b = 1, bytearray(n)
//   for i in range(n): x = (x * 1664525 + 1013904223) % 2**32; b[i] = x >> 24
//   def sampled(b):
//       if len(b) <= 4 * M: return hashlib.sha256(b).hexdigest()
//       span, h = len(b) - 2 * M - K, hashlib.sha256(b[:M])
//       for i in range(32): o = M + span * (2 * i + 1) // 64; h.update(b[o:o + K])
//       h.update(b[-M:]); return h.hexdigest()
//   for size in (n, 4 * M, 4 * M + 1): print(size, sampled(bytes(b[:size])))
//   EOF
TEST(MovieFile, TheSampledDigestReadsTheBytesRecordedDigestsWereTakenFrom) {
  const test::TempDir dir;
  const fs::path movie = dir.path() / "rough cut.mp4";
  const std::string bytes = patterned((20 << 20) + 12345);
  const std::pair<std::size_t, std::string_view> known[] = {
      {bytes.size(), "591ddc007430431fb3e3da5fa9328baa184c0c30061a630d6fcc3ac1a3e0ed5b"},
      {4 << 20, "33c3342bacc8ffa626e4f30007ebc2fb92320a363dcd8551e634d648fe6b4926"},
      {(4 << 20) + 1, "a4876dcdc4cfa96d78b64e09e29418477bcfba690d7466e91e0c69c5072d411f"},
  };
  for (const auto& [size, digest] : known) {
    std::ofstream(movie, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
    const std::optional<MovieIdentity> identity = platform::movieIdentityAt(movie);
    ASSERT_TRUE(identity) << size;
    EXPECT_EQ(identity->size, static_cast<std::int64_t>(size));
    EXPECT_EQ(identity->sampledSHA256, std::optional<std::string>(digest)) << size;
  }
}

#if defined(__x86_64__)
// Written through another opening of it, as the renderer writes the movie a run holds open, a
// file some disks refuse to read back through the first opening (FAT through FUSE) is read
// through a new opening of the same file, and known by the same bytes.
TEST(MovieFile, AMovieItsOwnOpeningCantReadIsKnownThroughANewOne) {
  const test::TempDir dir;
  const fs::path movie = dir.path() / "rendered.mp4";
  const int held = ::open(movie.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  std::ofstream(movie, std::ios::binary) << std::string(3 << 20, 'm') << "the end";
  const std::optional<MovieIdentity> expected = platform::movieIdentityAt(movie);
  ASSERT_TRUE(expected && expected->sampledSHA256);

  const int ended = test::inChild([&] {
    // From now on reads through `held` alone are refused.
    if (!test::withSyscallFilter({
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 0, 4),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(held), 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        }))
      ::_exit(3);
    char byte = 0;
    if (::pread(held, &byte, 1, 0) != -1) ::_exit(4);
    const std::optional<MovieIdentity> found = platform::movieIdentity(held);
    ::_exit(found && found->sampledSHA256 == expected->sampledSHA256 && found->size == expected->size ? 0 : 1);
  });
  ::close(held);
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't filter system calls here";
  ASSERT_NE(WEXITSTATUS(ended), 4) << "the filter let the read through";
  EXPECT_EQ(WEXITSTATUS(ended), 0);
}
#endif
