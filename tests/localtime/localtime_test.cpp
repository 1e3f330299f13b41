// Local-time texts follow the zone file as it changes at run time.
#include "platform/localtime.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_effects.h"

namespace {

class LocalTime : public FakeEffectsTest {};

TEST_F(LocalTime, FollowsTheZoneFileAsItChanges) {
  struct Case {
    const char* zone_file;  // null: no file
    time_t when;
    const char* text;
  };
  const Case cases[] = {
      {nullptr, 1700000000, "Tue Nov 14 22:13:20 2023\n"},
      {"", 1700000000, "Tue Nov 14 22:13:20 2023\n"},
      {"CST-8\n", 1700000000, "Wed Nov 15 06:13:20 2023\n"},
      {"CET-1CEST,M3.5.0,M10.5.0/3\nignored\n", 1690000000, "Sat Jul 22 06:26:40 2023\n"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1700000000, "Tue Nov 14 23:13:20 2023\n"},
      {"EST5EDT,M3.2.0,M11.1.0\r\n", 1700000000, "Tue Nov 14 17:13:20 2023\n"},
      {nullptr, 1700000000, "Tue Nov 14 22:13:20 2023\n"},
  };
  for (const Case& c : cases) {
    if (c.zone_file)
      fake.put_file("/tmp/TZ", c.zone_file);
    else
      fake.remove_file("/tmp/TZ");
    EXPECT_EQ(device_ctime(c.when), c.text) << (c.zone_file ? c.zone_file : "(none)");
  }
}

TEST_F(LocalTime, FillsTheBrokenDownTime) {
  fake.put_file("/tmp/TZ", "CST-8\n");
  struct tm local {};
  ASSERT_TRUE(device_local_time(1700000000, &local));
  EXPECT_EQ(local.tm_year + 1900, 2023);
  EXPECT_EQ(local.tm_hour, 6);
  EXPECT_EQ(local.tm_mday, 15);
}

}  // namespace
