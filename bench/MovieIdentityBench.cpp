// Knowing the rough cut of an hour-long cut by its bytes: the sampled digest a re-cut and the app
// take of the movie in a package, read from memory and from the disk, beside the digest of the
// whole file it stands in for. The sampled one should stay within a few tens of milliseconds from
// the disk; the whole file's takes seconds, which is why the samples are all that is read.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/platform/MovieFile.hpp"

extern "C" {
#include <libavutil/hash.h>
}

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

// Asks the system to forget the file's cached pages, so the next read comes from the disk.
void dropCached(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

void identify(benchmark::State& state, bool fromDisk) {
  const fs::path movie = bench::hourLongMovie();
  if (movie.empty()) {
    state.SkipWithError("could not make the hour-long movie in the temporary folder");
    return;
  }
  for (auto _ : state) {
    if (fromDisk) {
      state.PauseTiming();
      dropCached(movie);
      state.ResumeTiming();
    }
    const std::optional<MovieIdentity> identity = platform::movieIdentityAt(movie);
    if (!identity || !identity->sampledSHA256) state.SkipWithError("the movie could not be read");
    benchmark::DoNotOptimize(identity);
  }
  state.counters["GiB"] = static_cast<double>(fs::file_size(movie)) / (1 << 30);
}

void BM_IdentifyHourLongMovie(benchmark::State& state) { identify(state, false); }
BENCHMARK(BM_IdentifyHourLongMovie)->Unit(benchmark::kMillisecond);

void BM_IdentifyHourLongMovieFromDisk(benchmark::State& state) { identify(state, true); }
BENCHMARK(BM_IdentifyHourLongMovieFromDisk)->Unit(benchmark::kMillisecond)->Iterations(10);

// What reading and hashing every byte would cost instead.
void BM_DigestOfTheWholeHourLongMovie(benchmark::State& state) {
  const fs::path movie = bench::hourLongMovie();
  if (movie.empty()) {
    state.SkipWithError("could not make the hour-long movie in the temporary folder");
    return;
  }
  std::vector<std::uint8_t> buffer(8 << 20);
  for (auto _ : state) {
    AVHashContext* hash = nullptr;
    if (av_hash_alloc(&hash, "SHA256") < 0) {
      state.SkipWithError("no SHA-256");
      return;
    }
    av_hash_init(hash);
    const int fd = ::open(movie.c_str(), O_RDONLY | O_CLOEXEC);
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer.data(), buffer.size())) > 0;) {
      av_hash_update(hash, buffer.data(), static_cast<std::size_t>(got));
    }
    if (fd >= 0) ::close(fd);
    std::uint8_t digest[AV_HASH_MAX_SIZE];
    av_hash_final(hash, digest);
    av_hash_freep(&hash);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_DigestOfTheWholeHourLongMovie)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
