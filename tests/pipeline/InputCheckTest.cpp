#include "kestrane/pipeline/InputCheck.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace kestrane::Pipeline {
namespace {

namespace fs = std::filesystem;

std::string failure(const Request& request) {
  try {
    checkInputs(request);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(InputCheck, ChecksFootageThenPackageFolderThenScript) {
  std::ofstream("talk.mov") << "not empty";
  std::ofstream("script.txt") << "Hello there.\n";
  std::ofstream("notes.docx") << "words";
  std::ofstream("a file") << "x";
  const fs::path footage = fs::absolute("talk.mov");

  Request request;
  request.input = footage;
  request.scriptURL = fs::absolute("script.txt");
  EXPECT_EQ(failure(request), "");

  // Everything wrong at once: the footage is named first.
  Request wrong;
  wrong.input = fs::absolute("missing.mov");
  wrong.outputDir = fs::absolute("a file");
  wrong.scriptURL = fs::absolute("notes.docx");
  EXPECT_EQ(failure(wrong).rfind("Can't read media at " + wrong.input.string() + " — ", 0), 0u) << failure(wrong);

  wrong.input = footage;
  EXPECT_EQ(failure(wrong), "Can't write a package into " + wrong.outputDir->string() + " — it is not a folder.");
  wrong.outputDir = fs::absolute("a file") / "deeper";
  EXPECT_EQ(failure(wrong), "Can't make the folder " + wrong.outputDir->string() + " — " +
                                fs::absolute("a file").string() + " is not a folder.");

  wrong.outputDir = fs::absolute("new") / "folder";
  EXPECT_EQ(failure(wrong), "The script " + wrong.scriptURL->string() +
                                " is not a script file — give a .txt, .md, .text, .fountain, "
                                ".rtf or .pdf file.");
  wrong.scriptURL = fs::absolute("gone.txt");
  EXPECT_EQ(failure(wrong), "No script at " + wrong.scriptURL->string() + " — no such file.");
  wrong.scriptURL = fs::absolute("new");
  fs::create_directories(*wrong.scriptURL);
  EXPECT_EQ(failure(wrong), "The script " + wrong.scriptURL->string() + " is not a file.");
}

TEST(InputCheck, WithoutAnOutputFolderTheFootagesFolderMustTakeThePackage) {
  fs::create_directories("locked");
  std::ofstream("locked/talk.mov") << "not empty";
  fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
  Request request;
  request.input = fs::absolute("locked/talk.mov");
  // Root may write anywhere; the rule still holds for everyone else.
  if (::geteuid() != 0) {
    EXPECT_EQ(failure(request).rfind("Can't write a package into " + fs::absolute("locked").string() + " — ", 0), 0u);
  }
  request.outputDir = fs::absolute("elsewhere");
  EXPECT_EQ(failure(request), "");
  fs::permissions("locked", fs::perms::owner_all);
}

}  // namespace
}  // namespace kestrane::Pipeline
