#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "kestrane/graphics/LocalFonts.hpp"
#include "kestrane/model/FileBytes.hpp"
#include "graphics/PrivateFonts.hpp"
#include "kestrane/platform/FontCatalog.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

// DejaVu Sans, a DejaVu Serif that the scan renames to Nimbus Sans Narrow, and an alias that
// maps Arial onto DejaVu Sans.
using test::PrivateFonts;
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new PrivateFonts(
    "Nimbus Sans Narrow", "<alias><family>Arial</family><prefer><family>DejaVu Sans</family></prefer></alias>\n"));

LocalFonts::Lookup production() { return LocalFonts::installedFontFile; }

}  // namespace

TEST(LocalFonts, NamesFromTheBrandText) {
  using V = std::vector<std::string>;
  EXPECT_EQ(LocalFonts::names(std::nullopt), V{});
  EXPECT_EQ(LocalFonts::names(" \n "), V{});
  EXPECT_EQ(LocalFonts::names("Anton (display), Inter body"), (V{"Anton", "Inter"}));
  // A known family keeps a last word that is otherwise a role; the roles after it still go.
  EXPECT_EQ(LocalFonts::names("Playfair Display, Playfair Display Bold headlines"), V{"Playfair Display"});
  EXPECT_EQ(LocalFonts::names("Nunito Display"), V{"Nunito"});
  EXPECT_EQ(LocalFonts::names("Arial Black"), V{"Arial"});
  EXPECT_EQ(LocalFonts::names("Anton and Inter"), V{"Anton and Inter"});
  EXPECT_EQ(LocalFonts::names("Inter, inter, INTER"), V{"Inter"});
  EXPECT_EQ(LocalFonts::names("A · B | C / D; E\nF"), (V{"A", "B", "C", "D"}));
  EXPECT_EQ(LocalFonts::names(std::string(41, 'x') + ", Lato"), V{"Lato"});
}

TEST(LocalFonts, ResolvesAgainstThePrivateFontSetup) {
  const auto fonts = LocalFonts::resolve({"DejaVu Sans", "dejavu sans", "Oswald", "Arial", "Zapfino"}, production(),
                                         LocalFonts::lastResort());
  ASSERT_EQ(fonts.size(), 5u);
  EXPECT_TRUE(fonts[0].installed);
  EXPECT_EQ(fonts[0].fileURL, PrivateFonts::root / "fonts/DejaVuSans.ttf");
  EXPECT_TRUE(fonts[1].installed);
  // Oswald is missing and its first installed stand-in is Nimbus Sans Narrow.
  EXPECT_EQ(fonts[2],
            (LocalFonts::ResolvedFont{"Oswald", "Nimbus Sans Narrow", false, PrivateFonts::root / "fonts/Stand.ttf"}));
  // An alias is not an installed family; the last resort is one that is.
  EXPECT_EQ(fonts[3], (LocalFonts::ResolvedFont{"Arial", "DejaVu Sans", false, std::nullopt}));
  EXPECT_EQ(fonts[4].family, "DejaVu Sans");

  const auto warnings = LocalFonts::substitutionWarnings(fonts);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[0],
            "Motion graphics fonts: \"Oswald\" isn't installed on this computer, so the graphics use "
            "\"Nimbus Sans Narrow\" instead. Install Oswald (or add it to the brand) if the typeface "
            "matters — nothing is fetched from the web.");

  const std::string section = LocalFonts::promptSection({fonts[0], fonts[2]});
  EXPECT_NE(section.find("\n\nUse these EXACT stacks (they resolve on the machine doing the render):\n"
                         "- `font-family: \"DejaVu Sans\", sans-serif;` — \"DejaVu Sans\" is "
                         "installed locally\n"
                         "- `font-family: \"Nimbus Sans Narrow\", \"DejaVu Sans\", sans-serif;` — "),
            std::string::npos);
  EXPECT_TRUE(
      section.ends_with("\"Nimbus Sans Narrow\" is the approved local stand-in; do not try to "
                        "load Oswald from the web\n"));
  EXPECT_NE(LocalFonts::promptSection({}).find("\n\nNo brand fonts were supplied."), std::string::npos);
}

TEST(LocalFonts, ABrandFamilyReachesItsOwnStandInRow) {
  const auto lookup = [](std::string_view f) -> std::optional<LocalFonts::Installed> {
    if (f == "C059" || f == "Nimbus Sans") return LocalFonts::Installed{"/fonts/" + std::string(f) + ".otf"};
    return std::nullopt;
  };
  BrandSpec brand;
  brand.fonts = "Playfair Display (headlines)";
  EXPECT_EQ(LocalFonts::plan(brand, lookup),
            (std::vector<LocalFonts::ResolvedFont>{{"Playfair Display", "C059", false, "/fonts/C059.otf"}}));
}

TEST(LocalFonts, SubstituteRowsLookUpEachFamilyOnce) {
  std::vector<std::string> asked;
  const auto lookup = [&](std::string_view f) -> std::optional<LocalFonts::Installed> {
    asked.emplace_back(f);
    return std::nullopt;
  };
  EXPECT_EQ(LocalFonts::resolve({"Anton"}, lookup, "Last")[0].family, "Last");
  EXPECT_EQ(asked, (std::vector<std::string>{"Anton", "Nimbus Sans Narrow", "Liberation Sans"}));
}

TEST(LocalFonts, EmbeddedFontFaces) {
  const auto fonts = LocalFonts::resolve({"DejaVu Sans"}, production(), LocalFonts::lastResort());
  const std::string css = LocalFonts::fontFaceCSS(fonts, LocalFonts::maxEmbeddedBytes, readFileBytes);
  EXPECT_TRUE(css.starts_with("@font-face { font-family: \"DejaVu Sans\"; src: url(data:font/truetype;base64,AAEAAA"));
  EXPECT_TRUE(css.ends_with(") format(\"truetype\"); font-display: block; }"));
  EXPECT_EQ(css.find('\n'), std::string::npos);

  using F = LocalFonts::ResolvedFont;
  const auto sized = [](std::size_t n) {
    return [n](const fs::path&) -> std::optional<std::string> { return std::string(n, 'a'); };
  };
  const std::vector<F> two{{"Oswald", "Impact", false, "/x/a.TTF"}, {"Anton", "Impact", false, "/x/b.otf"}};
  const std::string one = LocalFonts::fontFaceCSS(two, 900000, sized(900000));
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 0);
  EXPECT_NE(one.find("format(\"truetype\")"), std::string::npos);
  EXPECT_EQ(LocalFonts::fontFaceCSS(two, 900000, sized(900001)), "");
  EXPECT_EQ(LocalFonts::fontFaceCSS({{"A", "A", true, "/x/a.ttc"}}, 900000, sized(3)), "");
  EXPECT_EQ(LocalFonts::fontFaceCSS({{"A", "A", true, "/x/a.woff2"}}, 900000, sized(3)),
            "@font-face { font-family: \"A\"; src: url(data:font/woff2;base64,YWFh) format(\"woff2\"); "
            "font-display: block; }");

  EXPECT_EQ(LocalFonts::embedding("", "<p>x</p>"), "<p>x</p>");
  EXPECT_EQ(LocalFonts::embedding("a{}", "<html><HEAD></head>"), "<html><head>\n<style>\na{}\n</style></head>");
  EXPECT_EQ(LocalFonts::embedding("a{}", "<html lang=\"en\"><head class=\"x\"></head>"),
            "<html lang=\"en\">\n<head><style>\na{}\n</style></head><head class=\"x\"></head>");
  EXPECT_EQ(LocalFonts::embedding("a{}", "<div></div>"), "<style>\na{}\n</style>\n<div></div>");
}

// Every family the graphics are told to use is one fontconfig has: the last resort is taken
// from the installed families, in order of preference, and never a name nothing carries.
TEST(LocalFonts, TheLastResortIsAnInstalledFamily) {
  EXPECT_EQ(LocalFonts::lastResort(), "DejaVu Sans");
  EXPECT_TRUE(LocalFonts::installedFamilies().contains("dejavu sans"));
  EXPECT_EQ(LocalFonts::terminalStack(), "\"DejaVu Sans\", sans-serif");
  const std::string none = LocalFonts::promptSection({});
  EXPECT_NE(none.find("Use the system stack (\"DejaVu Sans\", sans-serif)"), std::string::npos);
  for (const char* gone : {"Helvetica", "Arial", "apple", "Impact", "Avenir"})
    EXPECT_EQ(none.find(gone), std::string::npos) << gone;

  std::vector<std::string> asked;
  const auto only = [&](std::set<std::string> installed) {
    return [&asked, installed](std::string_view f) -> std::optional<LocalFonts::Installed> {
      asked.emplace_back(f);
      if (!installed.contains(std::string(f))) return std::nullopt;
      return LocalFonts::Installed{};
    };
  };
  const auto system = [] { return std::string("Cantarell"); };
  EXPECT_EQ(LocalFonts::chooseLastResort(only({"DejaVu Sans", "Liberation Sans"}), system), "Liberation Sans");
  EXPECT_EQ(LocalFonts::chooseLastResort(only({"Cantarell"}), system), "Cantarell");
  // fontconfig's own answer counts only when the lookup confirms it is a real family.
  EXPECT_EQ(LocalFonts::chooseLastResort(only({}), system), "sans-serif");
  EXPECT_EQ(asked.back(), "Cantarell");
  EXPECT_EQ(LocalFonts::chooseLastResort(only({}), [] { return std::string(); }), "sans-serif");

  // The private setup's only sans is what fontconfig picks for sans-serif.
  EXPECT_EQ(FontCatalog::sansSerif(), "DejaVu Sans");
}
