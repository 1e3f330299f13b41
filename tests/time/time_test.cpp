// The time service through the request router, with the store and zone
// file of a fake device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string stock_system =
    "config system\n\toption timezone 'CST-8'\n\toption zonename 'Asia/Shanghai'\n\n"
    "config timeserver 'ntp'\n\toption server 'ntp.example.org'\n";

class Time : public FakeEffectsTest {
 protected:
  void SetUp() override {
    fake.write_config("system", stock_system);
    fake.put_file("/tmp/TZ", "CST-8\n");
  }
  std::string post(const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/time\n" + body);
  }
};

TEST_F(Time, Document) {
  EXPECT_EQ(routed_reply("GET /route/time"),
            declaration +
                "<TIME><CUR_TIME>1700000000</CUR_TIME><CTIME>2023-11-15 06:13:20</CTIME>"
                "<TIME_ZONE>CST-8</TIME_ZONE><ZONE_NAME>Asia/Shanghai</ZONE_NAME>"
                "<TIME_SERVER>ntp.example.org</TIME_SERVER><CUSTOM>0</CUSTOM></TIME>");
  // The zone file is read at each request; stored texts are escaped.
  fake.put_file("/tmp/TZ", "");
  fake.write_config("system",
                    "config system\n\toption custom '1'\n\toption zonename 'a<b'\n\n"
                    "config timeserver 'ntp'\n\tlist server 'a&b'\n\tlist server 'c'\n");
  EXPECT_EQ(routed_reply("GET /route/time"),
            declaration +
                "<TIME><CUR_TIME>1700000000</CUR_TIME><CTIME>2023-11-14 22:13:20</CTIME>"
                "<TIME_ZONE></TIME_ZONE><ZONE_NAME>a&lt;b</ZONE_NAME>"
                "<TIME_SERVER>a&amp;b c</TIME_SERVER><CUSTOM>1</CUSTOM></TIME>");
}

TEST_F(Time, ZoneIsShownCutBeforeACharacterThatDoesNotFit) {
  std::string e_acute = "\xC3\xA9";
  std::string zone;
  for (int i = 0; i < 16; ++i) zone += e_acute;
  EXPECT_EQ(post("<TIME><TIME_ZONE>" + zone + "</TIME_ZONE></TIME>"), envelope(0, "OK"));
  std::string doc = routed_reply("GET /route/time");
  EXPECT_NE(doc.find("<TIME_ZONE>" + zone.substr(0, 30) + "</TIME_ZONE>"), std::string::npos)
      << doc;
}

TEST_F(Time, BodyThatIsNotUtf8IsAFormatErrorAndChangesNothing) {
  EXPECT_EQ(post("<TIME><TIME_ZONE>\xFF\xFE</TIME_ZONE></TIME>"), envelope(3, "FORMAT ERROR"));
  EXPECT_TRUE(fake.commands().empty());
  EXPECT_EQ(cfg_get("system.@system[0].timezone"), "CST-8");
}

TEST_F(Time, RefusedRequestsChangeNothing) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"GET /route/time/x", 1},
      {"POST /route/time/x\n<TIME><CUR_TIME>0101</CUR_TIME></TIME>", 1},
      {"POST /route/time\n<TIME><CUR_TIME>0101</CUR_TIME>", 3},
      {"POST /route/time\n<TIME><CUR_TIME>0101</CUR_TIME><TIME_ZONE>a&#1;</TIME_ZONE></TIME>", 3},
  };
  const char* messages[] = {"OK", "NO SERVICE", "", "FORMAT ERROR"};
  for (const auto& [request, code] : cases) {
    fake.clear_commands();
    EXPECT_EQ(routed_reply(request), envelope(code, messages[code])) << request;
    EXPECT_TRUE(fake.commands().empty()) << request;
  }
  EXPECT_EQ(post("<TIME/>"), envelope(0, "OK"));
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(Time, ClockTextIsOneQuotedWord) {
  const std::string long_text(200, '1');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2026.12.08-07:50:00", "date 2026.12.08-07:50:00"},
      {"0101;reboot", "date '0101;reboot'"},
      {"$(reboot)'x", "date '$(reboot)'\\''x'"},
      {long_text, "date " + long_text.substr(0, 127)},
  };
  for (const auto& [text, command] : cases) {
    EXPECT_EQ(post("<TIME><CUR_TIME>" + text + "</CUR_TIME></TIME>"), envelope(0, "OK"));
    // The clock alone is no configuration change: no commit, no restart.
    EXPECT_EQ(fake.commands(), commands{command}) << text;
  }
}

TEST_F(Time, SettingsCommitWriteTheZoneFileAndRestartNtp) {
  EXPECT_EQ(post("<TIME><TIME_SERVER>pool.example.net</TIME_SERVER>"
                 "<TIME_ZONE>CET-1CEST,M3.5.0,M10.5.0/3</TIME_ZONE><CUSTOM>1</CUSTOM></TIME>"),
            envelope(0, "OK"));
  EXPECT_EQ(fake.commands(),
            (commands{"uci set system.ntp.server=\"pool.example.net\"",
                      "uci set system.@system[0].timezone=\"CET-1CEST,M3.5.0,M10.5.0/3\"",
                      "uci set system.@system[0].custom=\"1\"", "/sbin/uci commit system",
                      "/etc/init.d/sysntpd restart"}));
  EXPECT_EQ(fake.file_text("/tmp/TZ"), "CET-1CEST,M3.5.0,M10.5.0/3\n");
  EXPECT_NE(fake.read_config("system").find("option custom '1'"), std::string::npos);

  // An empty zone is written as such, and the zone file becomes empty.
  EXPECT_EQ(post("<TIME><TIME_ZONE></TIME_ZONE></TIME>"), envelope(0, "OK"));
  EXPECT_EQ(fake.commands(), (commands{"uci set system.@system[0].timezone=\"\"",
                                       "/sbin/uci commit system", "/etc/init.d/sysntpd restart"}));
  EXPECT_EQ(fake.file_text("/tmp/TZ"), "");
  EXPECT_EQ(cfg_get(std::string("system.@system[0].timezone")), "");
}

TEST_F(Time, ServersAreHostNamesSeparatedByBlanks) {
  EXPECT_EQ(post("<TIME><TIME_SERVER> 0.pool.ntp.org  10.0.0.1 </TIME_SERVER></TIME>"),
            envelope(0, "OK"));
  EXPECT_EQ(cfg_get(std::string("system.ntp.server")), " 0.pool.ntp.org  10.0.0.1 ");
  // The NTP client hands each server to ntpd word by word: "-S PROG" would
  // make it run a program.
  for (const char* servers : {"pool.ntp.org -S /tmp/x", "a;reboot", "a\tb", "a,b"}) {
    EXPECT_EQ(post(std::string("<TIME><TIME_SERVER>") + servers + "</TIME_SERVER></TIME>"),
              envelope(3, "FORMAT ERROR"))
        << servers;
    EXPECT_TRUE(fake.commands().empty()) << servers;
  }
}

}  // namespace
