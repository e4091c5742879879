#pragma once
// The house style of a set of motion graphics, inherited by a brand's next video.
#include <map>
#include <string>
#include <vector>

namespace kestrane {

struct ComponentVocabulary {
  std::vector<std::string> fontFamilies;
  std::vector<std::string> typeScale;
  std::vector<std::string> colors;
  std::vector<std::string> cornerRadii;
  std::vector<std::string> letterSpacing;
  std::vector<std::string> textTransform;
  std::vector<std::string> eases;
  std::vector<std::string> motionDurations;
  std::vector<std::string> staggers;
  std::vector<std::string> components;
  std::map<std::string, std::string> styleExcerpts;
  std::vector<std::string> derivedFrom;

  friend bool operator==(const ComponentVocabulary&, const ComponentVocabulary&) = default;
};

}  // namespace kestrane
