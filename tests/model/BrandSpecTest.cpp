#include "kestrane/model/BrandSpec.hpp"

#include <gtest/gtest.h>

#include "kestrane/model/GraphicsAsset.hpp"

using namespace kestrane;

TEST(BrandSpec, EmptinessIgnoresBlanksAndTheVocabulary) {
  EXPECT_TRUE(BrandSpec{}.isEmpty());
  BrandSpec blanks{"   "};
  blanks.colors = " \n ";
  blanks.componentVocabulary = ComponentVocabulary{{"Inter"}};
  EXPECT_TRUE(blanks.isEmpty());
  BrandSpec horizontalOnly;
  horizontalOnly.safeZonesHorizontal = "keep left";
  EXPECT_FALSE(horizontalOnly.isEmpty());
}

TEST(BrandSpec, DocumentForAnEmptyBrand) {
  const std::string doc = BrandSpec{}.markdown("Launch", std::nullopt);
  EXPECT_TRUE(doc.starts_with("# Brand spec — Launch\n\nCollected by Kestrane"));
  EXPECT_NE(doc.find("## Brand: (unnamed)\n\n- **Website**: —\n- **Colors**: —\n- **Fonts**: —\n"
                     "- **Style**: —\n- **Notes**: —\n\n## Safe zones\n\n### Vertical (9:16)\n\n"
                     "9:16 frame, top-down height fractions.\n"),
            std::string::npos);
  EXPECT_TRUE(doc.ends_with("anywhere except broadcast-safe margins.\n"));
  EXPECT_EQ(doc.find("direction"), std::string::npos);
  EXPECT_EQ(BrandSpec{}.markdown("X", std::string("  \n")), BrandSpec{}.markdown("X", std::nullopt));
}

TEST(BrandSpec, DocumentTrimsFieldsAndAddsDirection) {
  BrandSpec brand{"   "};
  brand.colors = "  #112233 #445566\n";
  brand.safeZonesVertical = "   ";
  brand.safeZonesHorizontal = "  Lower third only.\n";
  const std::string doc = brand.markdown("P", std::string(" Bold and calm. \n"));
  EXPECT_NE(doc.find("## Brand:    \n"), std::string::npos);
  EXPECT_NE(doc.find("- **Colors**: #112233 #445566\n"), std::string::npos);
  EXPECT_NE(doc.find("### Vertical (9:16)\n\n9:16 frame"), std::string::npos);
  EXPECT_NE(doc.find("### Horizontal (16:9)\n\nLower third only.\n\n## This project's direction\n\n"),
            std::string::npos);
  EXPECT_TRUE(doc.ends_with("\nBold and calm.\n"));
}

TEST(BrandSpec, AssetTimecodes) {
  GraphicsAsset a{"Stat", "stat.mov"};
  a.placementSeconds = 75.25;
  a.durationSeconds = 4;
  EXPECT_EQ(a.range(), (TimeRange{75.25, 79.25}));
  EXPECT_EQ(a.timecode(), "01:15");
  EXPECT_EQ(a.preciseTimecode(), "01:15.3");
  a.placementSeconds = -1;
  EXPECT_EQ(a.timecode(), "00:00");
  EXPECT_EQ(a.preciseTimecode(), "00:00");
}
