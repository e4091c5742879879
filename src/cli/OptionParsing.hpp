#pragma once
// What the command parsers share: the usage error, choice and number values, and the walk over
// the arguments.
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "kestrane/model/EnumText.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::cli {

// A command line that cannot be understood; the message says what is wrong.
class UsageError : public UserFacingError {
 public:
  using UserFacingError::UserFacingError;
};

// ASCII lower case, for matching option values without regard to case.
std::string lowered(std::string text);

// One of the enumeration's stored texts, matched without regard to case, so "jumpcut" and
// "jumpCut" both work. Throws UsageError listing the choices.
template <class E>
E parseEnum(const std::string& option, const std::string& value) {
  std::string choices;
  for (E e : allCases<E>()) {
    const std::string text(rawValue(e));
    if (lowered(text) == lowered(value)) return e;
    choices += (choices.empty() ? "" : ", ") + text;
  }
  throw UsageError(fmt::format("{} takes one of {} — “{}” is not one of them.", option, choices, value));
}

// A finite number of dBFS. Throws UsageError.
double parseNumber(const std::string& option, const std::string& value);

// A silence threshold: below 0 dBFS (full scale; nothing is louder, so everything would be
// silence) and not below -120 dBFS (quieter than any recording's noise floor, so nothing
// would be). Throws UsageError.
double parseThreshold(const std::string& option, const std::string& value);

using Flags = std::map<std::string, std::function<void()>>;
using Valued = std::map<std::string, std::function<void(const std::string&)>>;

// Walks the arguments: options from the two tables, everything else positional. "--" ends the
// options; "--opt=value" and "--opt value" both work. `command` names the help to point at.
void parseArguments(const std::vector<std::string>& args, const Flags& flags, const Valued& valued,
                    const std::function<void(const std::string&)>& positional, const std::string& command);

}  // namespace kestrane::cli
