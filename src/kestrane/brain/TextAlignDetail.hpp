#pragma once
// Internals of the local alignment, exposed so tests can force the
// checkpointed (low-memory) traceback on small inputs.
#include <cstddef>

#include "kestrane/brain/TextAlign.hpp"

namespace kestrane::TextAlign::detail {

// Up to this many score cells the whole matrix is kept; beyond it only
// every k-th row is kept and the rows the traceback needs are recomputed.
inline constexpr std::size_t kFullMatrixCells = std::size_t{1} << 21;

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells);

}  // namespace kestrane::TextAlign::detail
