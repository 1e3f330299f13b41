// The log service through the request router, and its Base64 coding.
#include "services/system/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

std::string decode_base64(const std::string& text) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : text) {
    size_t digit = alphabet.find(c);
    if (digit == std::string::npos) continue;
    value = (value << 6) | static_cast<unsigned>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

TEST(Base64, LinesAndPadding) {
  const std::string line(72, 'A');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"f", "Zg==\n"},
      {"fo", "Zm8=\n"},
      {"foobar", "Zm9vYmFy\n"},
      {std::string(54, '\0'), line + "\n"},
      {std::string(55, '\0'), line + "\nAA==\n"},
      {"\xff\xfe", "//4=\n"},
  };
  for (const auto& [input, encoded] : cases)
    EXPECT_EQ(base64_encode(input.data(), input.size()), encoded) << input.size();
}

class Log : public FakeEffectsTest {
 protected:
  void SetUp() override {
    fake.write_config("system", "config system\n\toption log_ip 'logs&co'\n\toption log_port ''\n");
  }
  std::string post(const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/log/any\n<LOG>" + body + "</LOG>");
  }
  std::string message(const std::string& sub_path) {
    std::string doc = routed_reply("GET /route/log" + sub_path);
    const std::string open = declaration + "<LOG><MSG>";
    const std::string close = "</MSG></LOG>";
    if (doc.rfind(open, 0) != 0 || doc.size() < open.size() + close.size() ||
        doc.compare(doc.size() - close.size(), close.size(), close) != 0)
      return "malformed: " + doc;
    return decode_base64(doc.substr(open.size(), doc.size() - open.size() - close.size()));
  }
};

TEST_F(Log, Documents) {
  fake.on_capture("/sbin/logread", "Jan 1 <kern> a&b\n");
  fake.on_capture("/bin/dmesg", "");
  EXPECT_EQ(message("/syslog"), "Jan 1 &lt;kern&gt; a&amp;b\n");
  EXPECT_EQ(routed_reply("GET /route/log/kerlog"), declaration + "<LOG><MSG></MSG></LOG>");
  // A log that grows several times by escaping still arrives whole.
  // Of the kernel log the last 16 KiB are shown.
  const std::string heavy = std::string(100, 'x') + std::string(16384, '&');
  fake.on_capture("/bin/dmesg", heavy);
  EXPECT_EQ(message("/kerlog"), xml_escape(heavy.substr(100)));
  EXPECT_EQ(routed_reply("GET /route/log/config"),
            declaration + "<LOG><REMOTE><IP>logs&amp;co</IP><PORT></PORT></REMOTE></LOG>");
  for (const char* other : {"", "/sys", "/syslogs"})
    EXPECT_EQ(routed_reply(std::string("GET /route/log") + other), envelope(1, "NO SERVICE"));
}

TEST_F(Log, RemoteTargetAndClearing) {
  struct Case {
    std::string body;
    commands expected;
  };
  const std::string kill = "/usr/bin/killall syslogd";
  const std::vector<Case> cases = {
      {"<REMOTE><IP>10.0.0.9</IP></REMOTE>",
       {"uci set system.@system[0].log_ip=\"10.0.0.9\"", "uci commit system", kill,
        "/sbin/syslogd -L -R 10.0.0.9:514 -l 8 -C16"}},
      {"<REMOTE><IP>log.example</IP><PORT>1514</PORT></REMOTE><ACT>SYS_CLEAN</ACT>",
       {"uci set system.@system[0].log_ip=\"log.example\"",
        "uci set system.@system[0].log_port=\"1514\"", "uci commit system", kill,
        "/sbin/syslogd -L -R log.example:1514 -l 8 -C16"}},
      {"<REMOTE><IP></IP></REMOTE>",
       {"uci set system.@system[0].log_ip=\"\"", "uci commit system", kill,
        "/sbin/syslogd -L -l 8 -C16"}},
      {"<ACT>KERNEL_CLEAN</ACT><ACT>SYS_CLEAN</ACT><ACT>x</ACT><ACT>KERNEL_CLEAN</ACT>",
       {"/bin/dmesg -c >/dev/null", "/bin/dmesg -c >/dev/null", kill,
        "/sbin/syslogd -L -l 8 -C16"}},
      {"<ACT>OTHER</ACT>", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(post(c.body), envelope(0, "OK")) << c.body;
    EXPECT_EQ(fake.commands(), c.expected) << c.body;
  }
  EXPECT_NE(fake.read_config("system").find("option log_port '1514'"), std::string::npos);

  // A target stored by other means still reaches syslogd as one word.
  fake.write_config("system", "config system\n\toption log_ip 'a b;reboot'\n");
  post("<REMOTE/>");
  EXPECT_EQ(fake.commands(), (commands{"uci commit system", kill,
                                       "/sbin/syslogd -L -R 'a b;reboot:514' -l 8 -C16"}));
}

TEST_F(Log, RefusedTargetsChangeNothing) {
  for (const char* remote :
       {"<IP>a;reboot</IP>", "<IP>a b</IP>", "<PORT>0</PORT>", "<PORT>65536</PORT>",
        "<PORT>5 14</PORT>", "<IP>10.0.0.1</IP><PORT>x</PORT>"}) {
    EXPECT_EQ(post(std::string("<REMOTE>") + remote + "</REMOTE>"), envelope(3, "FORMAT ERROR"));
    EXPECT_TRUE(fake.commands().empty()) << remote;
  }
  fake.clear_commands();
  EXPECT_EQ(routed_reply("POST /route/log\n<LOG>"), envelope(3, "FORMAT ERROR"));
  EXPECT_TRUE(fake.commands().empty());
}

}  // namespace
