#pragma once
// The FCPXML DTD the tests validate every written timeline against. Its publisher keeps the
// rights to it, so the project can't carry a copy: KESTRANE_FCPXML_DTD in the environment names
// one (a copy named there that is missing fails the check). Without it a timeline is still read
// for being well-formed, and the check against the DTD counts as not made.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fcpxml_dtd {

// The DTD to validate against; empty when there is none.
inline std::string location() {
  const char* named = std::getenv("KESTRANE_FCPXML_DTD");
  return named ? named : "";
}

// True once a timeline was checked without the DTD.
inline bool& checkedWithoutIt() {
  static bool without = false;
  return without;
}

// `text` as one word for the shell.
inline std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The xmllint command that checks `file`: against the DTD, or, without one, for being well-formed.
inline std::string xmllint(const std::string& file) {
  const std::string dtd = location();
  if (dtd.empty()) {
    checkedWithoutIt() = true;
    return "xmllint --noout " + quoted(file);
  }
  return "xmllint --noout --dtdvalid " + quoted(dtd) + " " + quoted(file);
}

// A QTest program's exit status: 1 on any failure, else 77 (CTest's skip) when a timeline was
// not checked against the DTD, so the run never shows a check it did not make as passed.
inline int exitStatus(int failures) {
  if (failures != 0) return 1;
  if (!checkedWithoutIt()) return 0;
  std::fputs("Timelines were checked without the FCPXML DTD: none was found (KESTRANE_FCPXML_DTD names a copy).\n",
             stderr);
  return 77;
}

}  // namespace fcpxml_dtd
