#pragma once
// The model's verdict on a cut, as read from its reply. The records are looser than the schema
// sent with the request: fields the schema requires may be missing, and category, kind and
// action are plain strings, so an unexpected value still reads and the guards decide.
#include <optional>
#include <string>

#include "kestrane/model/UserFacingError.hpp"
#include <vector>

namespace kestrane::Adjudicator {

struct Verdict {
  struct Cut {
    int index = 0;
    std::string category;
    std::string reason;
    std::optional<double> confidence;
    std::optional<int> survivor;
  };
  struct Swap {
    int group = 0;
    int alternate = 0;  // counted from 1 in the order the prompt listed them
    std::string reason;
    std::optional<double> confidence;
  };
  struct Restore {
    int index = 0;     // the cut rendition to bring back
    int replaces = 0;  // the kept line it stands in for
    std::string reason;
    std::optional<double> confidence;
  };
  struct Finding {
    struct Remedy {
      std::string action;
      std::optional<int> index;
      std::optional<int> replaces;
      std::optional<int> survivor;
      std::optional<std::string> reason;
      std::optional<double> confidence;
    };
    std::string kind;
    std::string detail;
    std::optional<int> index;
    std::optional<Remedy> remedy;
  };

  std::vector<Cut> cuts;
  std::optional<std::vector<Swap>> swaps;
  std::optional<std::vector<Restore>> restores;
  std::optional<std::vector<Finding>> findings;
};

// The AI tier's own failures.
class AdjudicationError : public UserFacingError {
 public:
  // The reply could not be read as a verdict.
  static AdjudicationError unparseableVerdict(const std::string& reply);
  // Applying the verdict would leave less than the floor of kept speech.
  static AdjudicationError wholesaleCut(double keptSeconds, double floor);

 private:
  using UserFacingError::UserFacingError;
};

// Reads a verdict from the model's reply: a fenced reply, or prose around the object, is read
// from its first "{" to its last "}". Numbers where integers belong must be whole and fit;
// anything else of the wrong type, or a reply without "cuts", throws unparseableVerdict.
Verdict parse(const std::string& reply);

}  // namespace kestrane::Adjudicator
