// A movie is known by its bytes, read back through the very file a run holds open.
#include "kestrane/platform/MovieFile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "pipeline/KillAtRename.hpp"
#include "pipeline/TestSupport.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

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
