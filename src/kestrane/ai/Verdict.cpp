#include "kestrane/ai/Verdict.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "kestrane/ai/ModelText.hpp"
#include "kestrane/ai/SecretRedaction.hpp"

namespace kestrane::Adjudicator {

namespace {

using nlohmann::json;

struct WrongShape {};

// A member, or nothing when absent or null.
const json* member(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

int asInt(const json& v) {
  if (v.is_number_integer()) {
    if (v.is_number_unsigned()) {
      const auto u = v.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) throw WrongShape{};
      return static_cast<int>(u);
    }
    const auto i = v.get<std::int64_t>();
    if (i < std::numeric_limits<int>::min() || i > std::numeric_limits<int>::max()) throw WrongShape{};
    return static_cast<int>(i);
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (std::isfinite(d) && d == std::trunc(d) && d >= std::numeric_limits<int>::min() &&
        d <= std::numeric_limits<int>::max()) {
      return static_cast<int>(d);
    }
  }
  throw WrongShape{};
}

double asDouble(const json& v) {
  if (!v.is_number()) throw WrongShape{};
  const double d = v.get<double>();
  if (!std::isfinite(d)) throw WrongShape{};
  return d;
}

std::string asString(const json& v) {
  if (!v.is_string()) throw WrongShape{};
  return v.get<std::string>();
}

const json& required(const json& object, const char* key) {
  const json* v = member(object, key);
  if (!v) throw WrongShape{};
  return *v;
}

template <typename T, typename Read>
std::optional<T> optional(const json& object, const char* key, Read read) {
  const json* v = member(object, key);
  if (!v) return std::nullopt;
  return read(*v);
}

template <typename T, typename Read>
std::vector<T> list(const json& v, Read read) {
  if (!v.is_array()) throw WrongShape{};
  std::vector<T> out;
  out.reserve(v.size());
  for (const json& item : v) {
    if (!item.is_object()) throw WrongShape{};
    out.push_back(read(item));
  }
  return out;
}

Verdict::Cut readCut(const json& o) {
  return {asInt(required(o, "index")), asString(required(o, "category")), asString(required(o, "reason")),
          optional<double>(o, "confidence", asDouble), optional<int>(o, "survivor", asInt)};
}

Verdict::Swap readSwap(const json& o) {
  return {asInt(required(o, "group")), asInt(required(o, "alternate")), asString(required(o, "reason")),
          optional<double>(o, "confidence", asDouble)};
}

Verdict::Restore readRestore(const json& o) {
  return {asInt(required(o, "index")), asInt(required(o, "replaces")), asString(required(o, "reason")),
          optional<double>(o, "confidence", asDouble)};
}

Verdict::Finding::Remedy readRemedy(const json& o) {
  if (!o.is_object()) throw WrongShape{};
  return {asString(required(o, "action")),
          optional<int>(o, "index", asInt),
          optional<int>(o, "replaces", asInt),
          optional<int>(o, "survivor", asInt),
          optional<std::string>(o, "reason", asString),
          optional<double>(o, "confidence", asDouble)};
}

Verdict::Finding readFinding(const json& o) {
  return {asString(required(o, "kind")), asString(required(o, "detail")), optional<int>(o, "index", asInt),
          optional<Verdict::Finding::Remedy>(o, "remedy", readRemedy)};
}

template <typename T, typename Read>
std::optional<std::vector<T>> optionalList(const json& o, const char* key, Read read) {
  const json* v = member(o, key);
  if (!v) return std::nullopt;
  return list<T>(*v, read);
}

void removeAll(std::string& text, std::string_view what) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.erase(at, what.size());
  }
}

}  // namespace

AdjudicationError AdjudicationError::unparseableVerdict(const std::string& reply) {
  // The quote is kept with the failure, so it loses anything shaped like a credential.
  return AdjudicationError("couldn't parse the model's verdict: " +
                           ModelText::withoutControls(ModelText::prefix(SecretRedaction::redact(reply, {}), 160)));
}

AdjudicationError AdjudicationError::wholesaleCut(double keptSeconds, double floor) {
  return AdjudicationError(
      fmt::format("verdict rejected — it would leave {:.1f}s (floor {:.1f}s)", keptSeconds, floor));
}

Verdict parse(const std::string& reply) {
  std::string text(ModelText::trim(reply));
  if (text.starts_with("```")) {
    removeAll(text, "```json");
    removeAll(text, "```");
    text = std::string(ModelText::trim(text));
  }
  const std::size_t open = text.find('{'), close = text.rfind('}');
  if (open != std::string::npos && close != std::string::npos && open < close) {
    text = text.substr(open, close - open + 1);
  }
  // Deeper replies than any verdict are refused before parsing.
  if (ModelText::nestsDeeperThan(text, ModelText::kDeepestVerdict)) throw AdjudicationError::unparseableVerdict(reply);
  try {
    const json root = json::parse(text);
    if (!root.is_object()) throw WrongShape{};
    Verdict v;
    v.cuts = list<Verdict::Cut>(required(root, "cuts"), readCut);
    v.swaps = optionalList<Verdict::Swap>(root, "swaps", readSwap);
    v.restores = optionalList<Verdict::Restore>(root, "restores", readRestore);
    v.findings = optionalList<Verdict::Finding>(root, "findings", readFinding);
    return v;
  } catch (const WrongShape&) {
  } catch (const json::exception&) {
  }
  throw AdjudicationError::unparseableVerdict(reply);
}

}  // namespace kestrane::Adjudicator
