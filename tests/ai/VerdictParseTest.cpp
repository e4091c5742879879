#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kestrane/ai/Verdict.hpp"

namespace kestrane {
namespace {

using Adjudicator::AdjudicationError;
using Adjudicator::parse;

bool parses(const std::string& reply) {
  try {
    parse(reply);
    return true;
  } catch (const AdjudicationError&) {
    return false;
  }
}

TEST(VerdictParse, ReadsTheObjectInsideFencesAndProse) {
  auto v = parse(R"({"cuts":[]})");
  EXPECT_TRUE(v.cuts.empty());
  EXPECT_FALSE(v.swaps || v.restores || v.findings);

  v = parse("```json\n{\"cuts\":[{\"index\":3,\"category\":\"offScript\",\"reason\":\"r\"}]}\n```");
  ASSERT_EQ(v.cuts.size(), 1u);
  EXPECT_EQ(v.cuts[0].index, 3);
  EXPECT_FALSE(v.cuts[0].confidence || v.cuts[0].survivor);

  v = parse("```JSON\n{\"cuts\":[],\"swaps\":[{\"group\":1,\"alternate\":2,\"reason\":\"b\",\"confidence\":0.9}]}```");
  EXPECT_EQ(v.swaps->at(0).alternate, 2);
  v = parse(
      "Sure! Here it is:\n{\"cuts\":[{\"index\":1.0,\"category\":\"x\",\"reason\":\"y\",\"confidence\":1}]} hope it "
      "helps");
  EXPECT_EQ(v.cuts.at(0).index, 1);
  EXPECT_EQ(v.cuts.at(0).confidence, 1.0);
  v = parse("\xEF\xBB\xBF{\"cuts\":[],\"findings\":[{\"kind\":\"order\",\"detail\":\"d\"}]}");
  EXPECT_FALSE(v.findings->at(0).remedy || v.findings->at(0).index);
  v = parse(R"({"cuts":[],"cuts":[{"index":2,"category":"c","reason":"r"}],"extra":{"deep":[1]}})");
  EXPECT_EQ(v.cuts.size(), 1u);  // the last of duplicate keys counts
  v = parse(
      R"({"cuts":[],"findings":[{"kind":"runMix","detail":"d","index":4,"remedy":{"action":"restore","index":9,"replaces":4}}]})");
  EXPECT_EQ(v.findings->at(0).remedy->replaces, 4);
}

TEST(VerdictParse, RefusesEverythingOfTheWrongShapeWithoutCrashing) {
  const std::string cut = R"({"cuts":[{"index":%,"category":"offScript","reason":"r","confidence":0.9}]})";
  auto withIndex = [&cut](const std::string& index) {
    std::string s = cut;
    return s.replace(s.find('%'), 1, index);
  };
  EXPECT_TRUE(parses(withIndex("-1")));  // in range of the type; the guards filter it
  for (const char* bad :
       {"\"3\"", "3.5", "9223372036854775808", "1e30", "NaN", "Infinity", "-Infinity", "true", "null", "[3]"}) {
    EXPECT_FALSE(parses(withIndex(bad))) << bad;
  }
  EXPECT_FALSE(parses(R"({"cuts":[{"index":1,"category":"c","reason":"r","confidence":"high"}]})"));
  EXPECT_FALSE(parses(R"({"findings":[]})"));
  EXPECT_FALSE(parses(R"({"cuts":null})"));
  EXPECT_FALSE(parses(R"({"cuts":[1,2]})"));
  EXPECT_FALSE(parses(R"({"cuts":[]} and {"cuts":[]})"));
  EXPECT_FALSE(parses("no braces at all"));
  EXPECT_FALSE(parses("} backwards {"));
  EXPECT_FALSE(parses(""));
  EXPECT_FALSE(parses("{\"cuts\":[{\"index\":1,\"category\":\"\xff\xfe\",\"reason\":\"r\"}]}"));
  // Brackets around the object are prose: the object inside is read.
  EXPECT_TRUE(parses(std::string(100000, '[') + "{\"cuts\":[]}" + std::string(100000, ']')));
  EXPECT_FALSE(parses("{\"cuts\":[]," + std::string(100000, '{') + std::string(100000, '}') + "}"));

  // A 10 MB reply reads (or fails) without trouble.
  std::string big = "{\"cuts\":[";
  std::size_t rows = 0;
  for (; big.size() < 10'000'000; ++rows) big += R"({"index":1,"category":"c","reason":"r"},)";
  big.back() = ']';
  big += "}";
  EXPECT_EQ(parse(big).cuts.size(), rows);

  try {
    parse(std::string(1000, 'x'));
    FAIL();
  } catch (const AdjudicationError& e) {
    EXPECT_EQ(std::string(e.what()), "couldn't parse the model's verdict: " + std::string(160, 'x'));
  }
  // The quote is kept with the failure: it loses anything shaped like a credential.
  try {
    parse("Sorry, sk-ant-api03-AbCdEf012345 is no verdict");
    FAIL();
  } catch (const AdjudicationError& e) {
    EXPECT_STREQ(e.what(), "couldn't parse the model's verdict: Sorry, [redacted] is no verdict");
  }
  EXPECT_STREQ(AdjudicationError::wholesaleCut(3.04, 10).what(),
               "verdict rejected — it would leave 3.0s (floor 10.0s)");
}

}  // namespace
}  // namespace kestrane
