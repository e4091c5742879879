#pragma once
// The brand a job's motion graphics are designed against.
#include <optional>
#include <string>

#include "kestrane/model/ComponentVocabulary.hpp"

namespace kestrane {

struct BrandSpec {
  static const char* const peluVerticalSafeZones;
  static const char* const peluHorizontalSafeZones;

  std::string name;
  std::optional<std::string> websiteURL;
  std::optional<std::string> colors;
  std::optional<std::string> fonts;
  std::optional<std::string> styleWords;
  std::optional<std::string> notes;
  std::optional<std::string> safeZonesVertical;
  std::optional<std::string> safeZonesHorizontal;
  std::optional<ComponentVocabulary> componentVocabulary;

  // True when the brand says nothing: all texts blank (the vocabulary plays no part).
  bool isEmpty() const;
  // The "brand-spec.md" document.
  std::string markdown(const std::string& projectName, const std::optional<std::string>& graphicsNotes) const;

  friend bool operator==(const BrandSpec&, const BrandSpec&) = default;
};

}  // namespace kestrane
