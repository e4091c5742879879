#pragma once
// Finds every way an authored composition would reach the network, so it is refused before it
// is rendered. A text scan: no HTML or CSS parsing and no network. It reads the text with
// character references and CSS and script escapes resolved, as the browser would. The one
// address a composition may name is the contract's GSAP script, written exactly.
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::ExternalResourceGate {

struct Violation {
  std::string kind;       // "web font", "external script", "runtime network call", ...
  std::string reference;  // the offending address or token, at most 120 characters

  std::string description() const { return kind + " " + reference; }
  friend bool operator==(const Violation&, const Violation&) = default;
};

// In the order found; empty when the composition is clean.
std::vector<Violation> violations(std::string_view html);

// One sentence for the asset's failure; empty for no violations.
std::string failureReason(const std::vector<Violation>& violations);

}  // namespace kestrane::ExternalResourceGate
