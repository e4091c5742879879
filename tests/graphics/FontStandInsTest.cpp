#include <gtest/gtest.h>

#include "kestrane/graphics/GraphicsText.hpp"
#include "kestrane/graphics/LocalFonts.hpp"
#include "kestrane/platform/FontCatalog.hpp"

using namespace kestrane;

// Against this computer's own fonts (the set-up installs the metric-compatible families): every
// brand family the stand-in table knows resolves to a family that is really installed, with a
// file a composition can embed, and nothing falls through to a name no font carries.
TEST(FontStandIns, EveryKnownBrandFamilyResolvesToAnInstalledFamily) {
  const std::string last = LocalFonts::lastResort();
  ASSERT_TRUE(LocalFonts::installedFamilies().contains(GraphicsText::lower(last))) << last;
  const std::vector<std::string> brandFamilies{
      "Anton",         "Bebas Neue",       "Oswald",       "Inter",   "Roboto",          "Open Sans", "Lato",
      "Montserrat",    "Poppins",          "Futura",       "Nunito",  "Source Sans Pro", "Work Sans", "DM Sans",
      "Space Grotesk", "Playfair Display", "Merriweather", "Georgia", "Helvetica"};
  for (const auto& font : LocalFonts::resolve(brandFamilies, LocalFonts::installedFontFile, last)) {
    SCOPED_TRACE(font.requested + " -> " + font.family);
    // The last resort comes without a file; a stand-in of the row's own comes with one.
    ASSERT_TRUE(font.fileURL) << "no stand-in of its own is installed";
    EXPECT_TRUE(LocalFonts::installedFamilies().contains(GraphicsText::lower(font.family)));
    const std::string ext = font.fileURL->extension().string();
    EXPECT_TRUE(ext == ".otf" || ext == ".ttf") << *font.fileURL;
  }
  for (const auto& warning :
       LocalFonts::substitutionWarnings(LocalFonts::resolve({"Zapfino"}, LocalFonts::installedFontFile, last))) {
    EXPECT_NE(warning.find("use \"" + last + "\" instead"), std::string::npos) << warning;
  }
}
