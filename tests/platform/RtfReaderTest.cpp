#include "kestrane/platform/RtfReader.hpp"

#include <gtest/gtest.h>

using kestrane::platform::rtfPlainText;

TEST(RtfReader, TextWithBreaksAndEscapes) {
  const char* rtf =
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl\\f0\\fswiss Helvetica;}{\\colortbl;\\red255\\green0\\blue0;}\n"
      "{\\*\\generator Writer;}\\f0\\fs24 Caf\\'e9 opening\\par\n"
      "Line\\tab two \\{braces\\} and \\\\slash\\line\n"
      "{\\b bold} \\u8212? dash \\uc0\\u233 x\\par}";
  EXPECT_EQ(rtfPlainText(rtf), "Café opening\nLine\ttwo {braces} and \\slash\nbold — dash éx\n");
}

TEST(RtfReader, SkipsPicturesAndIgnorableDestinations) {
  const char* rtf =
      "{\\rtf1 Before{\\pict\\pngblip 89504e47}{\\*\\unknowndest hidden words} after"
      "{\\info{\\title Secret}}\\bin4 {}{}after bin\\par}";
  EXPECT_EQ(rtfPlainText(rtf), "Before afterafter bin\n");
}

TEST(RtfReader, RefusesTextThatIsNotRTF) {
  EXPECT_FALSE(rtfPlainText("Just a plain line").has_value());
  EXPECT_FALSE(rtfPlainText("").has_value());
  EXPECT_EQ(rtfPlainText("  {\\rtf1 ok}"), "ok");
}
