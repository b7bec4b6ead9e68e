#include "support/isadmin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_platform.h"

namespace lw {
namespace {

using Calls = std::vector<std::string>;

TEST(IsUserAdminTest, AnswersMembershipAndFreesTheIdentifier) {
  for (const bool admin : {true, false}) {
    FakePlatform platform;
    platform.isAdmin = admin;
    EXPECT_EQ(IsUserAdmin(platform), admin);
    EXPECT_EQ(platform.calls, (Calls{"AllocateAdminsSid", "CheckTokenMembership", "FreeSid"}));
  }
}

TEST(IsUserAdminTest, AllocationFailureSkipsMembershipAndFree) {
  FakePlatform platform;
  platform.isAdmin = true;
  platform.sidAllocationFails = true;
  EXPECT_FALSE(IsUserAdmin(platform));
  EXPECT_EQ(platform.calls, Calls{"AllocateAdminsSid"});
}

TEST(IsUserAdminTest, MembershipCallFailureStillFreesTheIdentifier) {
  FakePlatform platform;
  platform.isAdmin = true;
  platform.membershipCallFails = true;
  EXPECT_FALSE(IsUserAdmin(platform));
  EXPECT_EQ(platform.calls, (Calls{"AllocateAdminsSid", "CheckTokenMembership", "FreeSid"}));
}

TEST(IsUserAdminTest, AsksAfreshOnEveryCall) {
  FakePlatform platform;
  platform.isAdmin = true;
  EXPECT_TRUE(IsUserAdmin(platform));
  platform.isAdmin = false;
  EXPECT_FALSE(IsUserAdmin(platform));
  EXPECT_EQ(platform.calls.size(), 6u);
}

}  // namespace
}  // namespace lw
