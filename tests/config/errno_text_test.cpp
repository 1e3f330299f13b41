// Error texts in replies are glibc's, whatever the C library (compared with
// the build host's glibc).
#include "platform/errno_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(ErrnoText, WordsTimeoutsAsGlibcDoes) {
  EXPECT_STREQ(errno_text(ETIMEDOUT), "Connection timed out");
  EXPECT_STREQ(errno_text(ENOENT), "No such file or directory");
  EXPECT_STREQ(errno_text(0), "Success");
  EXPECT_STREQ(errno_text(-7), "Unknown error -7");
}

#if defined(__GLIBC__) && !defined(__mips__)
TEST(ErrnoText, EveryValueAsTheHostsStrerror) {
  for (int error = 0; error <= 200; ++error) EXPECT_STREQ(errno_text(error), strerror(error));
}
#endif

}  // namespace
