#include "support/os_version.h"

#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace lw {
namespace {

TEST(GetOSVersionNumberTest, CombinesMajorAndMinor) {
  struct Case {
    OsVersion version;
    int expected;
  };
  for (const Case& c : {Case{{5, 1}, 51}, Case{{5, 2}, 52}, Case{{6, 0}, 60}, Case{{6, 2}, 62},
                        Case{{6, 3}, 63}, Case{{10, 0}, 100}}) {
    FakePlatform platform;
    platform.version = c.version;
    EXPECT_EQ(GetOSVersionNumber(platform), c.expected)
        << c.version.major << "." << c.version.minor;
  }
}

}  // namespace
}  // namespace lw
