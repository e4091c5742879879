#pragma once
// Finds every way an authored composition would reach the network, so it is refused before it
// is rendered. A text scan and no network: the document is split as a browser's HTML parser
// splits it, and read with character references and CSS and script escapes resolved, as the
// browser would; what could be read more than one way is refused. The one
// address a composition may name is the contract's GSAP script, written exactly.
#include <stop_token>
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

// In the order found; empty when the composition is clean. Linear in the composition's length;
// a stop requested through `stop` (or, without one, through the thread's StopScope) ends the
// scan with Cancelled.
std::vector<Violation> violations(std::string_view html, std::stop_token stop = {});

// One sentence for the asset's failure; empty for no violations.
std::string failureReason(const std::vector<Violation>& violations);

}  // namespace kestrane::ExternalResourceGate
