#pragma once
// A script's beats prepared once, so that scoring one utterance against the
// script aligns it only with the beats that could beat the best found so far.
//
// The index knows, for every utterance token, which beat tokens it matches
// exactly or nearly; from those counts alone it bounds what an alignment with
// each beat can reach. Results equal those of the plain scan over all beats.
#include <memory>
#include <vector>

#include "kestrane/brain/Utterance.hpp"

namespace kestrane::TakeSelector {

class PreparedScript {
 public:
  // No default constructor: a braced {} argument keeps meaning "no beats"
  // for the functions that also take the beats themselves.
  explicit PreparedScript(std::vector<TokenList> beats);

  const std::vector<TokenList>& beats() const;
  bool empty() const { return beats().empty(); }

  // As scriptMatchCoverage(tokens, beats()) and scriptRenditionScore(tokens, beats()).
  double matchCoverage(Tokens tokens) const;
  double renditionScore(Tokens tokens) const;

 private:
  struct Index;
  std::shared_ptr<const Index> index_;  // read-only: safe to share between threads
};

}  // namespace kestrane::TakeSelector
