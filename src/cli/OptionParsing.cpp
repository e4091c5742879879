#include "OptionParsing.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

namespace kestrane::cli {

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

double parseNumber(const std::string& option, const std::string& value) {
  double number = 0;
  const char* end = value.data() + value.size();
  auto [ptr, ec] = std::from_chars(value.data(), end, number);
  if (ec != std::errc() || ptr != end || !std::isfinite(number)) {
    throw UsageError(fmt::format("{} takes a number of dBFS — “{}” is not one.", option, value));
  }
  return number;
}

double parseThreshold(const std::string& option, const std::string& value) {
  const double level = parseNumber(option, value);
  if (level >= 0 || level < -120) {
    throw UsageError(
        fmt::format("{} takes a level between -120 and 0 dBFS, such as -40 — “{}” is outside it.", option, value));
  }
  return level;
}

void parseArguments(const std::vector<std::string>& args, const Flags& flags, const Valued& valued,
                    const std::function<void(const std::string&)>& positional, const std::string& command) {
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyPositional || arg.empty() || arg[0] != '-' || arg == "-") {
      positional(arg);
      continue;
    }
    if (arg == "--") {
      onlyPositional = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (auto flag = flags.find(name); flag != flags.end()) {
      if (value) throw UsageError(fmt::format("{} takes no value.", name));
      flag->second();
      continue;
    }
    auto setter = valued.find(name);
    if (setter == valued.end()) {
      throw UsageError(fmt::format("Unknown option “{}” — run kestrane {} --help.", arg, command));
    }
    if (!value) {
      if (i + 1 >= args.size()) throw UsageError(fmt::format("{} needs a value.", name));
      value = args[++i];
      // "--out --mp4" forgot the folder; a negative number ("--threshold -40") is a value.
      if (value->starts_with("--") || flags.contains(*value) || valued.contains(*value)) {
        throw UsageError(
            fmt::format("{} needs a value, but “{}” is an option — write {}={} if you mean it as the value.", name,
                        *value, name, *value));
      }
    }
    setter->second(*value);
  }
}

}  // namespace kestrane::cli
