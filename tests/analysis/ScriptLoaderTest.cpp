#include "kestrane/analysis/ScriptLoader.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/MediaFixtures.hpp"

using namespace kestrane::ScriptLoader;
using kestrane::testing::writeFile;

namespace {

// A minimal PDF with one page per text; an empty text makes a page without any text.
std::string pdf(const std::vector<std::string>& pages) {
  std::vector<std::string> objects;
  const std::size_t n = pages.size();
  std::string kids;
  for (std::size_t i = 0; i < n; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (std::size_t i = 0; i < n; ++i) {
    objects.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 3 0 R >> >> "
        "/Contents " +
        std::to_string(5 + 2 * i) + " 0 R >>");
    const std::string stream = pages[i].empty() ? "" : "BT /F1 12 Tf 20 100 Td (" + pages[i] + ") Tj ET";
    objects.push_back("<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream");
  }
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string messageOf(const std::string& path) {
  try {
    load(path);
  } catch (const ScriptError& e) {
    return e.what();
  }
  return "(loaded)";
}

}  // namespace

TEST(ScriptLoader, EachFormat) {
  kestrane::testing::ScratchFolder dir;
  writeFile(dir.file("lines.txt"), "\n\n# Intro\nHello there.\n\n");
  EXPECT_EQ(load(dir.file("lines.txt")), "\n\n# Intro\nHello there.\n\n") << "returned untrimmed";

  writeFile(dir.file("script.rtf"), "{\\rtf1\\ansi{\\fonttbl\\f0 Helvetica;}\\f0 First line\\par Second\\tab line}");
  EXPECT_EQ(load(dir.file("script.rtf")), "First line\nSecond\tline");
  writeFile(dir.file("fake.rtf"), "plain words in an rtf file");
  EXPECT_EQ(messageOf(dir.file("fake.rtf")), "Couldn't read the script file fake.rtf");

  // Pages are joined by one line feed; an empty page keeps its place.
  writeFile(dir.file("SCRIPT.PDF"), pdf({"Page one", "", "Page three"}));
  EXPECT_EQ(load(dir.file("SCRIPT.PDF")), "Page one\n\nPage three");
  writeFile(dir.file("scan.pdf"), pdf({"", ""}));
  EXPECT_EQ(messageOf(dir.file("scan.pdf")),
            "No text found in scan.pdf — if it's a scanned PDF, export the text and retry");
  writeFile(dir.file("broken.pdf"), "%PDF-1.4 nothing else");
  EXPECT_EQ(messageOf(dir.file("broken.pdf")), "Couldn't read the script file broken.pdf");

  // Any other extension is read as text.
  writeFile(dir.file("notes.docx"), "Still text");
  EXPECT_EQ(load(dir.file("notes.docx")), "Still text");
}

TEST(ScriptLoader, EncodingsBlankAndOversizedFiles) {
  kestrane::testing::ScratchFolder dir;
  // Latin-1 "Café crème": each lone high byte becomes one replacement character, said once.
  writeFile(dir.file("latin1.txt"), "Caf\xE9 cr\xE8me");
  const LoadedScript latin1 = loadScript(dir.file("latin1.txt"));
  EXPECT_EQ(latin1.text, "Caf\xEF\xBF\xBD cr\xEF\xBF\xBDme");
  EXPECT_EQ(latin1.notice,
            "latin1.txt is not UTF-8 text: 2 characters could not be read and were "
            "replaced — save it as UTF-8 for an exact match");
  writeFile(dir.file("utf8.txt"), "Caf\xC3\xA9 \xEF\xBF\xBD");
  EXPECT_EQ(loadScript(dir.file("utf8.txt")).notice, std::nullopt) << "a replacement character written as such";
  EXPECT_EQ(decodeUTF8Lossy("a\xE2\x82z\xF0\x9F\x98\x80"), "a\xEF\xBF\xBDz\xF0\x9F\x98\x80")
      << "a truncated sequence is one replacement; a whole emoji stays";
  EXPECT_EQ(decodeUTF8Lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD") << "surrogates are ill-formed";

  writeFile(dir.file("blank.txt"), "  \n\t\n \xC2\xA0 \n");
  EXPECT_EQ(messageOf(dir.file("blank.txt")),
            "No text found in blank.txt — if it's a scanned PDF, export the text and retry");
  EXPECT_EQ(messageOf(dir.file("missing.txt")), "Couldn't read the script file missing.txt");

  const auto huge = dir.file("huge.txt");
  writeFile(huge, "words");
  std::filesystem::resize_file(huge, kMaxScriptBytes + 1);
  EXPECT_EQ(messageOf(huge), "Couldn't read the script file huge.txt");

  EXPECT_EQ(scriptExtensions(), (std::set<std::string>{"txt", "md", "text", "fountain", "rtf", "pdf"}));
}

TEST(ScriptLoader, ContentThatIsNotTextIsRefused) {
  kestrane::testing::ScratchFolder dir;
  // A zipped document and a movie renamed as text: mostly NUL, control and non-UTF-8 bytes.
  std::string zipped = "PK\x03\x04\x14\x00\x06\x00";
  for (int i = 0; i < 2000; ++i) zipped += static_cast<char>((i * 7919 + 13) % 256);
  writeFile(dir.file("script.txt"), zipped);
  writeFile(dir.file("take.md"), std::string("\x00\x00\x00\x20"
                                             "ftypisom",
                                             12) +
                                     std::string(500, '\0') + "mdat");
  for (const char* name : {"script.txt", "take.md"}) {
    EXPECT_EQ(messageOf(dir.file(name)), std::string(name) +
                                             " doesn't hold plain text (is it a word-processor document or a video?) — "
                                             "save the script as UTF-8 text, Markdown, RTF or PDF and retry");
  }
  // UTF-8 text with a few stray bytes is still a script.
  writeFile(dir.file("mostly.txt"), "Na\xEFve lines about the caf\xE9 on the corner.\n");
  EXPECT_NE(load(dir.file("mostly.txt")).find("lines about"), std::string::npos);
}

TEST(ScriptLoader, MarkdownMarkupIsNotSpoken) {
  kestrane::testing::ScratchFolder dir;
  writeFile(dir.file("script.md"),
            "# Episode one\n"
            "Welcome **back** to the _show_.\n"
            "> Quoted line with *stress*.\n"
            "- First point to make\n"
            "  * nested point here\n"
            "12. Numbered line here\n"
            "Chapter Title\n"
            "=============\n"
            "---\n"
            "Keep snake_case and 3 * 4 \\*literal\\*.\n"
            "###not a heading\n");
  EXPECT_EQ(load(dir.file("script.md")),
            "\n"
            "Welcome back to the show.\n"
            "Quoted line with stress.\n"
            "First point to make\n"
            "nested point here\n"
            "Numbered line here\n"
            "\n\n\n"
            "Keep snake_case and 3  4 *literal*.\n"
            "###not a heading\n");
  // Only the markup in a Markdown file is dropped: a plain-text file keeps its asterisks.
  writeFile(dir.file("plain.txt"), "- a **bold** line\n");
  EXPECT_EQ(load(dir.file("plain.txt")), "- a **bold** line\n");
  writeFile(dir.file("headings.md"), "# One\n## Two\n");
  EXPECT_EQ(messageOf(dir.file("headings.md")),
            "No text found in headings.md — if it's a scanned PDF, export the text and retry");
}
