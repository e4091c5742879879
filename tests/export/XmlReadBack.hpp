#pragma once
// Reads written timelines back with libxml2's own command-line reader, so the checks see the
// document as an editor's XML parser does, and validates FCPXML against its DTD.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "FcpxmlDtd.hpp"

namespace readback {

struct Run {
  int status = -1;
  std::string output;
};

inline Run run(const std::string& command) {
  Run result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

using fcpxml_dtd::quoted;

// Empty when the document at `path` is valid against the FCPXML DTD; xmllint's complaint
// otherwise. Without the DTD it is only read for being well-formed, and the test shows as
// skipped (or failed, if another check fails), since its check against the DTD was not made.
inline std::string dtdProblems(const std::filesystem::path& path) {
  const bool withDtd = !fcpxml_dtd::location().empty();
  const Run r = run(fcpxml_dtd::xmllint(path.string()));
  if (!withDtd) {
    [] { GTEST_SKIP() << "not checked against the FCPXML DTD (none found; KESTRANE_FCPXML_DTD names a copy)"; }();
  }
  return r.status == 0 ? std::string() : "xmllint: " + r.output;
}

// A document written to a fresh file in the temporary folder, removed with the object.
class File {
 public:
  explicit File(const std::string& text, const std::string& extension = ".xml") {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kestrane-readback-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + extension);
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~File() { std::filesystem::remove(path_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::filesystem::path& path() const { return path_; }

  std::string dtdProblems() const { return readback::dtdProblems(path_); }

  // Empty when the document is well-formed XML.
  std::string wellFormedProblems() const {
    const Run r = run("xmllint --noout " + quoted(path_.string()));
    return r.status == 0 ? std::string() : "xmllint: " + r.output;
  }

  // The values of an XPath that selects attributes, in document order, entities decoded.
  std::vector<std::string> attributes(const std::string& xpath) const {
    const Run r = query(xpath);
    std::vector<std::string> out;
    if (r.status != 0) return out;
    static const std::regex value(R"re(="([^"]*)")re");
    for (auto it = std::sregex_iterator(r.output.begin(), r.output.end(), value); it != std::sregex_iterator(); ++it) {
      out.push_back(decode((*it)[1].str()));
    }
    return out;
  }

  // The text nodes an XPath selects (one per line; our values hold no line breaks).
  std::vector<std::string> texts(const std::string& xpath) const {
    const Run r = query(xpath);
    std::vector<std::string> out;
    std::string line;
    for (std::istringstream in(r.status == 0 ? r.output : ""); std::getline(in, line);) {
      out.push_back(decode(line));
    }
    return out;
  }

  // The number an XPath expression evaluates to (count(...), for instance).
  long number(const std::string& xpath) const { return std::strtol(query(xpath).output.c_str(), nullptr, 10); }

 private:
  Run query(const std::string& xpath) const {
    return run("xmllint --xpath " + quoted(xpath) + " " + quoted(path_.string()));
  }

  static std::string decode(std::string text) {
    const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"},  {"&gt;", ">"},   {"&quot;", "\""},
                                                            {"&#9;", "\t"}, {"&#10;", "\n"}, {"&#13;", "\r"},
                                                            {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
      for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
        text.replace(at, std::char_traits<char>::length(entity), plain);
      }
    }
    return text;
  }

  std::filesystem::path path_;
};

// Whole frames of `frameValue`/`frameScale` in an FCPXML time ("1001/30000s", "2s");
// -1 when it is not a whole number of frames.
inline long long framesIn(const std::string& time, long long frameValue, long long frameScale) {
  const auto slash = time.find('/');
  const long long num = std::stoll(time.substr(0, slash));
  const long long den = slash == std::string::npos ? 1 : std::stoll(time.substr(slash + 1, time.size() - slash - 2));
  const __int128 numerator = static_cast<__int128>(num) * frameScale;
  const __int128 denominator = static_cast<__int128>(den) * frameValue;
  if (numerator % denominator != 0) return -1;
  return static_cast<long long>(numerator / denominator);
}

}  // namespace readback
