#pragma once
// Internals of the local alignment: the entry that lets tests force the
// checkpointed (low-memory) traceback on small inputs, and an aligner that
// prepares one list once for aligning it against many (a script's beats).
#include <cstddef>
#include <memory>

#include "kestrane/brain/TextAlign.hpp"

namespace kestrane::TextAlign::detail {

// Up to this many score cells the whole matrix is kept; beyond it only
// every k-th row is kept and the rows the traceback needs are recomputed.
inline constexpr std::size_t kFullMatrixCells = std::size_t{1} << 21;

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells);

// localAlign(a, b, gap) for one fixed a and many b. The tokens of a must
// outlive the aligner.
class Aligner {
 public:
  explicit Aligner(Tokens a);
  ~Aligner();
  Aligner(const Aligner&) = delete;
  Aligner& operator=(const Aligner&) = delete;

  LocalAlignment align(Tokens b, double gap = -1.0) const;

 private:
  struct Prepared;
  std::unique_ptr<Prepared> a_;
};

}  // namespace kestrane::TextAlign::detail
