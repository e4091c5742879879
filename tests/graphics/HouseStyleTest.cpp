#include <gtest/gtest.h>

#include "kestrane/graphics/HouseStyle.hpp"

using namespace kestrane;
using V = std::vector<std::string>;

namespace {

const std::string kComposition = R"html(<!doctype html><html><head>
<style>
:root { --accent: #ff5500; --h1: 96px; --brand-font-family: "Inter", sans-serif; --h1: 12px; }
.eyebrow { font-family: var(--brand-font-family); font-size: 1.5rem; letter-spacing: 0.2em; text-transform: uppercase; }
.headline { font-size: var(--h1); color: #fff; }
.panel, .clip { font-size: 2em; border-radius: 12px; background: rgba(0,0,0,.5); }
.stat { font-size: var(--x, 48px); font-size: var(--y); font-size: 10px var(--z); }
.hero { color: #FFF; }
</style></head>
<body><div id="root" class="clip title-card sidebar hero">
<script>tl.from(".eyebrow", { duration: 0.6, ease: "power3.out", stagger: { each: 0.1 } });
tl.to(".stat", { duration:  1.2, ease: 'expo.out', stagger: 0.08 });</script>
</div></body></html>)html";

}  // namespace

TEST(HouseStyle, DerivesTokensFromAComposition) {
  const ComponentVocabulary v = HouseStyle::derive(kComposition, GraphicKind::alphaOverlay, "Lift");
  EXPECT_EQ(v.fontFamilies, (V{"\"Inter\", sans-serif"}));
  // 96px first (the first --h1 wins), then 2em, 48px (fallback), 1.5rem; var(--y) is dropped
  // and "10px var(--z)" stays as written.
  EXPECT_EQ(v.typeScale, (V{"96px", "48px", "2em", "1.5rem", "10px var(--z)"}));
  EXPECT_EQ(v.colors, (V{"#FF5500", "#FFF", "rgba(0,0,0,.5)"}));
  EXPECT_EQ(v.cornerRadii, V{"12px"});
  EXPECT_EQ(v.letterSpacing, V{"0.2em"});
  EXPECT_EQ(v.textTransform, V{"uppercase"});
  EXPECT_EQ(v.eases, (V{"power3.out", "expo.out"}));
  EXPECT_EQ(v.motionDurations, (V{"0.6", "1.2"}));
  EXPECT_EQ(v.staggers, V{"0.08"});
  EXPECT_EQ(v.components, (V{".title-card", ".sidebar", ".eyebrow", ".headline", ".panel", ".stat"}));
  EXPECT_EQ(v.derivedFrom, V{"Lift"});
  ASSERT_EQ(v.styleExcerpts.count("alphaOverlay"), 1u);
  EXPECT_TRUE(v.styleExcerpts.at("alphaOverlay").starts_with(":root {"));

  const ComponentVocabulary bare = HouseStyle::derive("<div class=\"badge\">#abc</div>", GraphicKind::fullFrame, "B");
  EXPECT_TRUE(bare.styleExcerpts.empty());
  EXPECT_EQ(bare.components, V{".badge"});
  EXPECT_EQ(bare.derivedFrom, V{"B"});
}

TEST(HouseStyle, NetworkDeclarationsNeverBecomeTheStyle) {
  const std::string html =
      "<style>@import url(https://fonts.googleapis.com/css2?family=Inter);\n"
      "@import \"https://evil.example/x.css\";\n"
      ".panel { background: url('https://cdn.example/bg.png'); border-radius: 8px; }\n"
      "@font-face { font-family: \"Brand\"; src: url(data:font/woff2;base64,AAAA); }\n"
      "</style>";
  const ComponentVocabulary v = HouseStyle::derive(html, GraphicKind::fullFrame, "X");
  const std::string& excerpt = v.styleExcerpts.at("fullFrame");
  EXPECT_EQ(excerpt.find("@import"), std::string::npos);
  EXPECT_EQ(excerpt.find("http"), std::string::npos);
  EXPECT_NE(excerpt.find("border-radius: 8px"), std::string::npos);
  EXPECT_NE(excerpt.find("data:font/woff2"), std::string::npos);
  EXPECT_EQ(v.cornerRadii, V{"8px"});
}

TEST(HouseStyle, ExcerptsSizesAndCaps) {
  // An excerpt of 2601 characters is cut after the last closing brace.
  const std::string rule = ".a{b:c}";  // 7 characters
  std::string css;
  while (css.size() + rule.size() <= 2597) css += rule;
  css += "x{y}";
  css.resize(2601, 'z');
  ComponentVocabulary v = HouseStyle::derive("<style>" + css + "</style>", GraphicKind::fullFrame, "X");
  EXPECT_EQ(v.styleExcerpts.at("fullFrame"), css.substr(0, css.rfind('}', 2599) + 1));
  v = HouseStyle::derive("<style>" + css.substr(0, 2600) + "</style>", GraphicKind::fullFrame, "X");
  EXPECT_EQ(v.styleExcerpts.at("fullFrame").size(), 2600u);

  std::string many = "<style>";
  for (int i = 1; i <= 9; ++i) many += ".t { font-size: " + std::to_string(i * 10) + "px; }\n";
  for (int i = 0; i < 13; ++i) many += "#1234" + std::to_string(10 + i) + "\n";
  v = HouseStyle::derive(many + "</style>", GraphicKind::fullFrame, "X");
  EXPECT_EQ(v.typeScale.size(), 8u);
  EXPECT_EQ(v.typeScale.front(), "90px");
  EXPECT_EQ(v.colors.size(), 12u);

  ComponentVocabulary a;
  a.styleExcerpts = {{"fullFrame", "mine"}};
  a.derivedFrom = {"1", "2", "3"};
  ComponentVocabulary b = v;
  b.styleExcerpts = {{"fullFrame", "theirs"}, {"alphaOverlay", "other"}};
  b.derivedFrom = {"4", "5"};
  const ComponentVocabulary m = HouseStyle::merging(a, b);
  EXPECT_EQ(m.colors.size(), 10u);
  EXPECT_EQ(m.styleExcerpts.at("fullFrame"), "mine");
  EXPECT_EQ(m.styleExcerpts.at("alphaOverlay"), "other");
  EXPECT_EQ(m.derivedFrom, (V{"1", "2", "3", "4"}));
  EXPECT_EQ(HouseStyle::merging(ComponentVocabulary{}, v).colors, V(v.colors.begin(), v.colors.begin() + 10));
}

TEST(HouseStyle, PromptSection) {
  ComponentVocabulary radii;
  radii.cornerRadii = {"4px"};
  EXPECT_EQ(HouseStyle::promptSection(radii, GraphicKind::fullFrame), "");

  ComponentVocabulary v;
  v.colors = {"#1", "#2", "#3", "#4", "#5", "#6", "#7", "#8", "#9"};
  v.derivedFrom = {"Lift", "Counter"};
  v.styleExcerpts = {{"alphaOverlay", ".panel{}"}};
  const std::string s = HouseStyle::promptSection(v, GraphicKind::fullFrame);
  EXPECT_TRUE(
      s.starts_with("HOUSE STYLE — BINDING, AND THE POINT OF IT. The other graphics in this "
                    "set have already been designed (reference: Lift, Counter). They will sit"));
  EXPECT_NE(s.find("\n\n- Palette — COPY THESE HEX VALUES CHARACTER FOR CHARACTER: #1, #2, #3, #4, #5, "
                   "#6, #7, #8\n\nThe reference composition's own stylesheet"),
            std::string::npos);
  EXPECT_TRUE(s.ends_with(":\n\n```css\n.panel{}\n```"));
}
