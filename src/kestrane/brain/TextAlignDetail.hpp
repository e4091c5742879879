#pragma once
// Internals of the local alignment: the entry that lets tests force the
// checkpointed (low-memory) traceback on small inputs, and lists prepared
// once for aligning against many others (a script's beats).
#include <cstddef>
#include <memory>
#include <string_view>

#include "kestrane/brain/TextAlign.hpp"

namespace kestrane::TextAlign::detail {

// Up to this many score cells the whole matrix is kept; beyond it only
// every k-th row is kept and the rows the traceback needs are recomputed.
inline constexpr std::size_t kFullMatrixCells = std::size_t{1} << 21;

LocalAlignment localAlign(Tokens a, Tokens b, double gap, std::size_t fullMatrixCells);

// A token list prepared once for comparison (canonical text, characters).
// The tokens must outlive it and stay where they are.
class PreparedTokens {
 public:
  explicit PreparedTokens(Tokens list);
  ~PreparedTokens();
  PreparedTokens(const PreparedTokens&) = delete;
  PreparedTokens& operator=(const PreparedTokens&) = delete;

  std::size_t size() const;
  std::string_view text(std::size_t k) const;  // canonical
  int length(std::size_t k) const;             // in characters
  // The k-th token's characters (bytes of plain text, grapheme clusters otherwise).
  std::string_view character(std::size_t k, int c) const;

 private:
  struct Words;
  std::unique_ptr<Words> words_;
  friend int pairScore(const PreparedTokens&, std::size_t, const PreparedTokens&, std::size_t);
  friend LocalAlignment localAlign(const PreparedTokens&, const PreparedTokens&, std::size_t, std::size_t, double);
};

// The alignment's pair score of a[i] and b[j]: 2 equal, 1 near match, -1 otherwise.
int pairScore(const PreparedTokens& a, std::size_t i, const PreparedTokens& b, std::size_t j);

// localAlign(a, the count tokens of b from first, gap).
LocalAlignment localAlign(const PreparedTokens& a, const PreparedTokens& b, std::size_t first, std::size_t count,
                          double gap);

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
