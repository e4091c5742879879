// Which caught failures a warning repeats in their own words and which it names as faults of
// the program.
#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <vector>

#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/platform/FailureMessage.hpp"
#include "kestrane/platform/HttpClient.hpp"
#include "kestrane/platform/ProcessRunner.hpp"

namespace kestrane {
namespace {

TEST(FailureMessage, UserSentencesAndTransportFailuresStandAndEverythingElseIsInternal) {
  const UserFacingError said("The script file is empty.");
  const HttpClient::TransportError unreachable("Couldn't connect to api.anthropic.com.");
  const HttpClient::ReplyTooLarge tooLarge("The reply was larger than 8 MiB.");
  const ProcessRunner::StartError missing("/usr/bin/npx", ENOENT);
  const std::vector<const std::exception*> standing = {&said, &unreachable, &tooLarge, &missing};
  for (const std::exception* e : standing) {
    EXPECT_FALSE(FailureMessage::isInternal(*e)) << e->what();
    EXPECT_EQ(FailureMessage::of(*e), e->what());
  }
  EXPECT_EQ(FailureMessage::of(missing), "Couldn't start /usr/bin/npx: No such file or directory");

  EXPECT_EQ(FailureMessage::of(std::out_of_range("vector::_M_range_check")), "internal error: vector::_M_range_check");
  EXPECT_EQ(FailureMessage::of(std::logic_error("")), "internal error: ");
  // An error the engine's own code throws outside the user-facing root is still its fault.
  EXPECT_TRUE(FailureMessage::isInternal(std::domain_error("frame duration must be positive")));
  EXPECT_TRUE(FailureMessage::isInternal(std::bad_alloc()));
}

}  // namespace
}  // namespace kestrane
