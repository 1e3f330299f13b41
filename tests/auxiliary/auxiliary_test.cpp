// The auxiliary services (storage, usb, ddns, wifidog, clcloud, changemode,
// superauth, dbmode) through the request router, with the store, command
// outputs and name lookups of a fake device.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "agent/config.h"
#include "agent/worker_state.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string ok = envelope(0, "OK");
const std::string format_error = envelope(3, "FORMAT ERROR");
const std::string mode_command = "fw_printenv mode | cut -d'=' -f2";

std::string hex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

std::string element(const std::string& name, const std::string& text) {
  return "<" + name + ">" + text + "</" + name + ">";
}

class Auxiliary : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    fake.write_config("clcloud", "config cloud\n\toption disable '1'\n\toption url 'c.example'\n");
    fake.write_config("wifidog", "config wifidog 'mywifidog'\n\toption enable '0'\n");
    fake.write_config("system", "config system\n\toption super_name 'super'\n");
  }
  void ddns(const std::string& enabled, const std::string& domain) {
    fake.write_config("ddns", "config service 'myddns'\n\toption enabled '" + enabled +
                                  "'\n\toption service 'orbity'\n\toption password 'p&w'\n"
                                  "\toption domain '" +
                                  domain + "'\n");
  }
  std::string get(const std::string& path) { return routed_reply("GET /route/" + path); }
  std::string post(const std::string& path, const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/" + path + "\n" + body);
  }
  // The reply of a refused POST, which must run and stage nothing.
  std::string refused(const std::string& path, const std::string& body) {
    std::string reply = post(path, body);
    EXPECT_TRUE(fake.commands().empty()) << path << " " << body;
    return reply;
  }
};

TEST_F(Auxiliary, StorageSlotsAndTheirIndexes) {
  EXPECT_EQ(get("storage/2"), "") << "a slot never written sends nothing";
  EXPECT_EQ(post("storage/2", "<any>text</any>"), ok);
  EXPECT_EQ(post("storage/3 HTTP/1.1", "three"), ok);
  for (const char* path : {"2", "02", "+2", " 2", "2?x=1", "2/x", "2 HTTP/1.1"})
    EXPECT_EQ(get(std::string("storage/") + path), "\n<any>text</any>") << path;
  EXPECT_EQ(get("storage/3"), "\nthree");

  EXPECT_EQ(get("storage"), envelope(3, "need index"));
  EXPECT_EQ(post("storage", "x"), format_error);
  for (const char* path :
       {"", "abc", "0", "4", "-1", "12", " 12", "4294967297", "100000000000000000001"}) {
    EXPECT_EQ(get(std::string("storage/") + path), envelope(3, "Invalid index")) << path;
    EXPECT_EQ(post(std::string("storage/") + path, "x"), envelope(3, "Invlid index")) << path;
  }
  EXPECT_EQ(get("storage/1"), "") << "no refused POST wrote slot 1";
  // The body handed over starts with the line feed: 8191 bytes in all fit.
  EXPECT_EQ(post("storage/1", std::string(8190, 'a')), ok);
  EXPECT_EQ(post("storage/1", std::string(8191, 'b')), envelope(3, "Invlid  long"));
  EXPECT_EQ(get("storage/1"), "\n" + std::string(8190, 'a'));
}

TEST_F(Auxiliary, UsbListsEachMountedPartitionOnce) {
  std::string blkid =
      "/dev/mtdblock5: TYPE=\"squashfs\"\n/dev/sda: PTTYPE=\"dos\"\n"
      "/dev/sda1: UUID=\"A\"\n/dev/sda10: LABEL=\"" +
      std::string(300, 'L') +
      "/dev/sdz9: x\"\n/dev/sdb: TYPE=\"ext4\"\n/dev/sdc1 no colon\n/dev/sd" +
      std::string(130, 'q') + ": TYPE=\"vfat\"\n/dev/sda1: UUID=\"A\"\n";
  std::string df =
      "Filesystem Size Used Available Use% Mounted on\n/dev/root 7.0G 2.0G 5.0G 29% /\n"
      "/dev/sda10 1.9G 12.0K 1.9G 0% /mnt/sda10\n/dev/sda1 32M 0 32M 0% /mnt/a\n"
      "/dev/sdb 64M 1M 63M 0%\n/dev/sdz9 1.0M 0 1.0M 0% /mnt/z\n";
  for (int n = 1; n <= 17; ++n) {
    blkid += "/dev/sdc" + std::to_string(n) + ": TYPE=\"vfat\"\n";
    df += "/dev/sdc" + std::to_string(n) + " 1M 0\n";  // too few fields
  }
  fake.on_capture("blkid", blkid + "/dev/sdd1: TYPE=\"vfat\"\n");
  fake.on_capture("df -h", df + "/dev/sdd1 1M 0 1M 0% /mnt/d\n");
  auto device = [](const char* name, const char* size, const char* used, const char* left) {
    return element("DEVICE", element("NAME", name) + element("SIZE", size) + element("USED", used) +
                                 element("AVAILABLE", left) + element("PERCENT", "0%"));
  };
  // sdd1 is the 17th partition; sdb is a whole disk.
  EXPECT_EQ(get("usb"), declaration + "<USB>" + device("/dev/sda10", "1.9G", "12.0K", "1.9G") +
                            device("/dev/sda1", "32M", "0", "32M") +
                            device("/dev/sdb", "64M", "1M", "63M") + "</USB>");
  EXPECT_EQ(fake.commands(), (commands{"blkid", "df -h"}));
  fake.on_capture("blkid", "");
  EXPECT_EQ(get("usb"), declaration + "<USB></USB>");
}

host_answer ipv4(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return {AF_INET, 4, {std::string(reinterpret_cast<const char*>(&address), 4)}};
}

TEST_F(Auxiliary, DdnsResolvesOnlyAnEnabledNonEmptyDomain) {
  fake.on_resolve("ap.example", ipv4("10.77.0.9"));
  fake.on_resolve("none.example", host_answer{AF_INET, 4, {}});
  fake.on_resolve("v6.example", host_answer{AF_INET6, 16, {std::string(16, '\1')}});
  struct Case {
    const char *enabled, *domain;
    int disable;
    const char* ip;
    size_t lookups;
  } cases[] = {
      {"1", "ap.example", 0, "10.77.0.9", 1},
      {"0", "ap.example", 1, "N/A", 0},
      {"-1", "ap.example", -1, "10.77.0.9", 1},
      {"0x1", "ap.example", 1, "N/A", 0},
      {"1", "", 0, "N/A", 0},
      {"1", "no.example", 0, "N/A", 1},
      {"1", "none.example", 0, "N/A", 1},
      {"1", "v6.example", 0, "N/A", 1},
  };
  for (const Case& c : cases) {
    ddns(c.enabled, c.domain);
    size_t before = fake.lookups().size();
    EXPECT_EQ(get("ddns"), declaration + "<DDNS>" + element("DISABLE", std::to_string(c.disable)) +
                               "<USER_NAME></USER_NAME><PASSWD>p&amp;w</PASSWD>" +
                               element("DOMAIN", c.domain) + element("IP", c.ip) + "</DDNS>")
        << c.enabled << " " << c.domain;
    EXPECT_EQ(fake.lookups().size() - before, c.lookups) << c.domain;
  }
}

std::string ddns_body(const std::string& disable, const std::string& domain = "d.example") {
  return "<D><USER_NAME>u</USER_NAME><PASSWD>70</PASSWD>" + element("DISABLE", disable) +
         element("DOMAIN", domain) + "</D>";
}

TEST_F(Auxiliary, DdnsPostMapsDisableByItsFirstCharacter) {
  ddns("0", "");
  for (auto [disable, enabled] :
       {std::pair{"1", "0"}, {"10", "0"}, {"01", "1"}, {"yes", "yes"}, {" 1", " 1"}}) {
    EXPECT_EQ(post("ddns", ddns_body(disable)), ok);
    EXPECT_EQ(fake.commands(),
              (commands{std::string("uci set ddns.myddns.enabled=\"") + enabled + "\"",
                        "uci set ddns.myddns.username=\"u\"", "uci set ddns.myddns.password=\"70\"",
                        "uci set ddns.myddns.domain=\"d.example\"", "uci commit ddns",
                        "/etc/init.d/updatedd restart"}));
  }
  EXPECT_NE(fake.read_config("ddns").find("option domain 'd.example'"), std::string::npos);
  cfg_set("ddns.myddns.service", "other");
  EXPECT_EQ(post("ddns", ddns_body("0")), ok);
  EXPECT_EQ(fake.commands().back(), "uci commit ddns") << "only orbity is restarted";

  EXPECT_EQ(refused("ddns", "<D><USER_NAME>u</USER_NAME><PASSWD>7</PASSWD><DISABLE/></D>"),
            format_error);
  EXPECT_EQ(refused("ddns", ddns_body("1", std::string(3000, 'd'))), format_error);
}

TEST_F(Auxiliary, WifidogShowsWholeOptionsAndSetsPresentOnes) {
  std::string trust(30000, 'u');  // longer than a request could set
  fake.write_config("wifidog",
                    "config wifidog 'mywifidog'\n\toption enable '0'\n"
                    "\toption name 'A&B <p>'\n\toption auth_trust_url '" +
                        trust + "'\n");
  std::string doc = get("wifidog");
  EXPECT_EQ(doc.substr(0, doc.find("<PORT>")),
            declaration + "<WIFIDOG><ENABLE>0</ENABLE><ID></ID><NAME>A&amp;B &lt;p&gt;</NAME>");
  EXPECT_EQ(doc.substr(doc.find("<MAXCON>")),
            "<MAXCON></MAXCON><INTERVAL></INTERVAL><TIMEOUT></TIMEOUT><AUTH_SERVER></AUTH_SERVER>"
            "<AUTH_SERVER_SSL></AUTH_SERVER_SSL><AUTH_SERVER_PORT></AUTH_SERVER_PORT>"
            "<AUTH_SERVER_PATH></AUTH_SERVER_PATH><AUTH_TRUST_URL>" +
                trust + "</AUTH_TRUST_URL><AUTH_TRUST_MAC></AUTH_TRUST_MAC></WIFIDOG>");

  const std::string macs = "3c:15:c2:a1:07:5e,00:11:22:33:44:55 0:1:2:3:4:5";
  EXPECT_EQ(
      post("wifidog", "<W><AUTH_TRUST_MAC>" + macs + "</AUTH_TRUST_MAC><ID>7</ID><ID>8</ID></W>"),
      ok);
  commands expected_commands = {"uci set wifidog.mywifidog.id=\"7\"",
                                "uci set wifidog.mywifidog.auth_trust_mac=\"" + macs + "\"",
                                "uci commit wifidog"};
  expected_commands.insert(expected_commands.end(), firewall_commands.begin(),
                           firewall_commands.end());
  EXPECT_EQ(fake.commands(), expected_commands);
  EXPECT_NE(fake.read_config("wifidog").find("option auth_trust_mac '" + macs + "'"),
            std::string::npos);
  EXPECT_EQ(refused("wifidog", "<W><ENABLE>1</ENABLE>"), format_error);
  // The portal builds its configuration and firewall rules from the options
  // word by word: each holds words of its shape (empty clears it).
  EXPECT_EQ(post("wifidog",
                 "<W><PORT></PORT><AUTH_TRUST_URL>a.example.com, http://b/x?y=1"
                 "</AUTH_TRUST_URL></W>"),
            ok);
  for (const char* item :
       {"<ENABLE>1 -x</ENABLE>", "<ID>gw 1</ID>", "<NAME>a&#10;b</NAME>", "<PORT>0</PORT>",
        "<MAXCON>50k</MAXCON>", "<INTERVAL>-1</INTERVAL>", "<TIMEOUT>5;x</TIMEOUT>",
        "<AUTH_SERVER>-oProxyCommand=x</AUTH_SERVER>", "<AUTH_SERVER>a b</AUTH_SERVER>",
        "<AUTH_SERVER_SSL>yes</AUTH_SERVER_SSL>", "<AUTH_SERVER_PORT>65536</AUTH_SERVER_PORT>",
        "<AUTH_SERVER_PATH>/a b</AUTH_SERVER_PATH>", "<AUTH_TRUST_URL>a.com,'x'</AUTH_TRUST_URL>",
        "<AUTH_TRUST_URL>a.com -j ACCEPT</AUTH_TRUST_URL>",
        "<AUTH_TRUST_MAC>3c:15:c2:a1:07:5e,x</AUTH_TRUST_MAC>"})
    EXPECT_EQ(refused("wifidog", std::string("<W>") + item + "</W>"), format_error) << item;
  EXPECT_EQ(refused("wifidog", "<W><ENABLE>1</ENABLE>" +
                                   element("AUTH_TRUST_URL", std::string(2100, 'u')) + "</W>"),
            format_error);
}

TEST_F(Auxiliary, ClcloudCommitsBeforeTheClientRestarts) {
  EXPECT_EQ(post("clcloud", "<C><DISABLE>0</DISABLE><URL>u&amp;v</URL><USER>me</USER></C>"), ok);
  EXPECT_EQ(fake.commands(), (commands{"uci set clcloud.@cloud[0].disable=\"0\"",
                                       "uci set clcloud.@cloud[0].url=\"u&v\"",
                                       "uci set clcloud.@cloud[0].user=\"me\"",
                                       "uci commit clcloud", "/etc/init.d/cloudmg restart"}));
  EXPECT_NE(fake.read_config("clcloud").find("option url 'u&v'"), std::string::npos);
  EXPECT_EQ(
      get("clcloud"),
      declaration + "<CLCLOUD><DISABLE>0</DISABLE><URL>u&amp;v</URL><USER>me</USER></CLCLOUD>");

  EXPECT_EQ(refused("clcloud", "<C><DISABLE>0</DISABLE><USER>me</USER></C>"), format_error);
  EXPECT_EQ(refused("clcloud", "<C><DISABLE>0</DISABLE>" + element("URL", std::string(2048, 'u')) +
                                   "<USER>me</USER></C>"),
            format_error);
}

TEST_F(Auxiliary, ChangemodeShowsAndSwitchesTheProtocol) {
  for (auto [output, protocol] : {std::pair<std::string, std::string>{"1\n", "1"},
                                  {"", "0"},
                                  {" 4\n7\n", "4 7"},
                                  {"\n", ""},
                                  {"a<b\xa0\n", "a&lt;b\xef\xbf\xbd"},  // not UTF-8: U+FFFD
                                  {std::string(600, '6'), std::string(511, '6')},
                                  {"x\n" + std::string(511, 'y'), "x"}}) {
    fake.on_capture(mode_command, output);
    EXPECT_EQ(get("changemode"),
              declaration + "<MODE>" + element("PROTOCOL", protocol) + "</MODE>");
  }
  fake.on_status(mode_command, -1);  // fw_printenv could not be started
  EXPECT_EQ(get("changemode"), declaration + "<MODE><PROTOCOL>0</PROTOCOL></MODE>");
  for (auto [protocol, command] :
       {std::pair<std::string, std::string>{"1", "changemode.sh 1"},
        {"1;rm -rf /overlay/*", "changemode.sh '1;rm -rf /overlay/*'"},
        {"$(reboot)'`x`", "changemode.sh '$(reboot)'\\''`x`'"},
        {std::string(497, '2'), "changemode.sh " + std::string(497, '2')}}) {
    EXPECT_EQ(post("changemode", "<M>" + element("PROTOCOL", protocol) + "</M>"), ok);
    EXPECT_EQ(fake.commands(), (commands{command, "reboot"}));
  }
  // A control character would reach the boot loader's environment, which
  // keeps one variable a line: "a\nsuper=x" would set a second one.
  for (const std::string& protocol :
       {std::string(), std::string(498, '2'), std::string(496, ' '), std::string("a\nsuper=x"),
        std::string("a\tb"), std::string("a\x7f")})
    EXPECT_EQ(refused("changemode", "<M>" + element("PROTOCOL", protocol) + "</M>"), format_error)
        << protocol.size();
  EXPECT_EQ(refused("changemode", "<M><MODE>1</MODE></M>"), format_error);
}

TEST_F(Auxiliary, SuperauthChecksNameThenTheWholePassword) {
  std::string p127(127, 'p');
  struct Case {
    std::string name, password_hex, stored, reply;
  } cases[] = {
      {"super", hex("s#p"), "s#p", ok},
      {"super", hex("s#q"), "s#p", envelope(5, "Invalid passwd")},
      {"Super", hex("s#p"), "s#p", envelope(5, "Invalid name")},
      {"", hex("s#p"), "s#p", envelope(3, "Need name and passwd")},
      // Only an even run of hex digits without a zero byte is a password, so
      // nothing matches an empty stored one.
      {"super", "", "", envelope(3, "Need name and passwd")},
      {"super", "0", "", envelope(3, "Need name and passwd")},
      {"super", "00", "", envelope(3, "Need name and passwd")},
      {"super", hex("s#p") + "0", "s#p", envelope(3, "Need name and passwd")},
      {"super", hex("s#p") + "00" + hex("x"), "s#p", envelope(3, "Need name and passwd")},
      {"super", hex(p127), p127, ok},
      {"super", hex(p127 + "p"), p127 + "p", format_error},
      {"super", hex(p127), p127 + "ppp", envelope(5, "Invalid passwd")},
  };
  for (const Case& c : cases) {
    cfg_set("system.@system[0].super_passwd", c.stored);
    EXPECT_EQ(post("superauth", "<S>" + element("SUPER_NAME", c.name) +
                                    element("SUPER_PASSWD", c.password_hex) + "</S>"),
              c.reply)
        << c.name << " " << c.password_hex;
    EXPECT_TRUE(fake.commands().empty());
  }
  cfg_set("system.@system[0].super_name", "");
  EXPECT_EQ(
      post("superauth", "<S><SUPER_NAME>super</SUPER_NAME><SUPER_PASSWD>78</SUPER_PASSWD></S>"),
      envelope(5, "Invalid name"));
  EXPECT_EQ(get("superauth"), "");
  EXPECT_EQ(get("superauth/x"), "");
}

TEST_F(Auxiliary, DbmodeShowsTrimmedAndSetsCommitted) {
  cfg_set("system.@system[0].dbmode", " 2 ");
  EXPECT_EQ(get("dbmode"), declaration + "<MODE><DBMODE>2</DBMODE></MODE>");
  EXPECT_EQ(post("dbmode", "<M><DBMODE>a&amp;b</DBMODE></M>"), ok);
  EXPECT_EQ(fake.commands(),
            (commands{"uci set system.@system[0].dbmode=\"a&b\"", "uci commit system"}));
  EXPECT_EQ(get("dbmode"), declaration + "<MODE><DBMODE>a&amp;b</DBMODE></MODE>");
  EXPECT_EQ(post("dbmode", "<M><DBMODE></DBMODE></M>"), ok);
  EXPECT_EQ(get("dbmode"), declaration + "<MODE><DBMODE>0</DBMODE></MODE>");
  EXPECT_EQ(refused("dbmode", "<M><MODE>1</MODE></M>"), format_error);
  EXPECT_EQ(refused("dbmode", "<M>" + element("DBMODE", std::string(2048, '1')) + "</M>"),
            format_error);
}

TEST_F(Auxiliary, SubPathsAndMalformedBodiesAreRefused) {
  for (const char* service : {"usb", "ddns", "wifidog", "clcloud", "changemode", "dbmode"})
    EXPECT_EQ(get(std::string(service) + "/x"), envelope(1, "NO SERVICE")) << service;
  for (const char* service : {"ddns", "wifidog", "clcloud", "changemode", "superauth", "dbmode"}) {
    EXPECT_EQ(refused(std::string(service) + "/x", ddns_body("1")), envelope(1, "NO SERVICE"));
    EXPECT_EQ(refused(service, "<A><B>1</A>"), format_error) << service;
  }
}

}  // namespace
