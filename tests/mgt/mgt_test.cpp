// The management and QoS service through the request router, with the
// store, crontab and init-script links of a fake device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string qos_rules =
    "config qos\n\toption type 'ip'\n\toption share '1'\n\toption start '192.168.1.10'\n"
    "\toption end '192.168.1.20'\n\toption up_limit '100'\n\toption down_limit '200'\n"
    "\toption note 'kids & guests, a long note past thirty-two bytes'\n\n"
    "config qos\n\toption mac 'aa:bb:cc:dd:ee:ff'\n\toption up_limit '10'\n"
    "\toption down_limit '20'\n";
const std::string stock_network =
    "config mgt 'mgt'\n\toption mgt_port '8080'\n\toption mac_clone ''\n\n"
    "config interface 'wan'\n\toption proto 'dhcp'\n\n"
    "config qos_global 'qos'\n\toption disable '0'\n\toption up_rate '1000'\n"
    "\toption down_rate '2000'\n\toption rule_num '2'\n\n" +
    qos_rules;

std::string rules(const char* ping, const char* l2tp, const char* pptp, const char* ipsec) {
  const char* enabled[] = {"1", ping, "1", "1", "1", l2tp, pptp, ipsec};
  std::string text;
  for (const char* value : enabled)
    text += "config rule\n\toption enabled '" + std::string(value) + "'\n\n";
  return text;
}

const std::string rule_1 =
    "<QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>192.168.1.10</START>"
    "<END>192.168.1.20</END></IP><RATE><UP>100</UP><DOWN>200</DOWN></RATE>"
    "<NOTE>kids &amp; guests, a long note past thirty-two bytes</NOTE></QOS_RULE>";
const std::string rule_2 =
    "<QOS_RULE><TYPE>mac</TYPE><MAC>aa:bb:cc:dd:ee:ff</MAC><RATE><UP>10</UP><DOWN>20</DOWN>"
    "</RATE></QOS_RULE>";

class Mgt : public FakeEffectsTest {
 protected:
  void SetUp() override {
    fake.write_config("network", stock_network);
    fake.write_config("firewall",
                      "config redirect\n\toption name 'MGT'\n\toption src_dport '8080'\n"
                      "\toption enabled '1'\n\n" +
                          rules("1", "1", "0", "1"));
    fake.write_config("samba", "config samba\n\toption name 'NAS'\n");
    fake.write_config(
        "system", "config system\n\toption autorebootenabled '1'\n\toption autoreboottime '4'\n");
    fake.put_file("/etc/rc.d/S95miniupnpd", "");
    fake.put_file("/etc/crontabs/root", "");
  }
  std::string post(const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/mgt\n<MGT>" + body + "</MGT>");
  }
  std::string document(const std::string& qos_rules_text) {
    return declaration +
           "<MGT><MGT_PORT>8080</MGT_PORT><MAC_CLONE></MAC_CLONE><SMB_NAME>NAS</SMB_NAME>"
           "<QOS><DISABLE>0</DISABLE><RATE_LIMIT><UP>1000</UP><DOWN>2000</DOWN></RATE_LIMIT>" +
           qos_rules_text +
           "</QOS><AUTO_REBOOT><DISABLE>0</DISABLE><TIME>4</TIME></AUTO_REBOOT>"
           "<WAN><PING>1</PING><UPNP>1</UPNP><IGMP>0</IGMP></WAN>"
           "<VPN><IPSEC>0</IPSEC><PPTP>1</PPTP><L2TP>0</L2TP></VPN></MGT>";
  }
  commands tail(const commands& before) {
    commands all = before;
    for (const char* c : {"uci commit network", "uci commit firewall"}) all.push_back(c);
    all.push_back("/etc/init.d/network restart");
    all.insert(all.end(), firewall_commands.begin(), firewall_commands.end());
    return all;
  }
};

TEST_F(Mgt, Document) {
  EXPECT_EQ(routed_reply("GET /route/mgt"), document(rule_1 + rule_2));
  EXPECT_EQ(routed_reply("GET /route/mgt/x"), document(rule_1 + rule_2));
  EXPECT_EQ(routed_reply("GET /route/mgt/a/b"), envelope(1, "NO SERVICE"));
  // The stored count is walked only as far as rules exist.
  for (auto [count, shown] : std::vector<std::pair<std::string, std::string>>{
           {"1", rule_1}, {"0", ""}, {"", ""}, {"99999999", rule_1 + rule_2}}) {
    fake.write_config("network",
                      "config qos_global 'qos'\n\toption disable '0'\n\toption up_rate "
                      "'1000'\n\toption down_rate '2000'\n\toption rule_num '" +
                          count + "'\n\n" + qos_rules +
                          "config mgt 'mgt'\n\toption mgt_port '8080'\n");
    EXPECT_EQ(routed_reply("GET /route/mgt"), document(shown)) << count;
  }
}

TEST_F(Mgt, PostAppliesEverySettingAndRestarts) {
  EXPECT_EQ(post("<MGT_PORT>8443</MGT_PORT><MAC_CLONE>00:11:22:33:44:55</MAC_CLONE>"
                 "<SMB_NAME>Store room</SMB_NAME><QOS><DISABLE>1</DISABLE>"
                 "<RATE_LIMIT><UP>10</UP><DOWN>20</DOWN></RATE_LIMIT>"
                 "<QOS_RULE><TYPE>ip</TYPE><IP><SHARE>0</SHARE><START>10.0.0.1</START>"
                 "<END>10.0.0.9</END></IP><RATE><UP>1</UP><DOWN>2</DOWN></RATE>"
                 "<NOTE>a b;reboot</NOTE></QOS_RULE></QOS>"
                 "<AUTO_REBOOT><DISABLE>0</DISABLE><TIME>day7</TIME></AUTO_REBOOT>"
                 "<WAN><PING>0</PING><IGMP>1</IGMP><UPNP>0</UPNP></WAN>"
                 "<VPN><IPSEC>1</IPSEC><PPTP>0</PPTP><L2TP>0</L2TP></VPN>"),
            envelope(0, "OK"));
  commands expected = tail({"uci set network.mgt.mgt_port=\"8443\"",
                            "uci set firewall.@redirect[0].src_dport=\"8443\"",
                            "uci set firewall.@redirect[0].enabled=\"1\"",
                            "uci set network.mgt.mac_clone=\"00:11:22:33:44:55\"",
                            "uci set network.wan.macaddr=\"00:11:22:33:44:55\"",
                            "uci set samba.@samba[0].name=\"Store room\"",
                            "uci set network.qos.disable=\"1\"",
                            "uci set network.qos.up_rate=\"10\"",
                            "uci set network.qos.down_rate=\"20\"",
                            "uci delete network.@qos[-1]",
                            "uci delete network.@qos[-1]",
                            "/sbin/uci add network qos",
                            "/sbin/uci set network.@qos[-1].type=ip",
                            "/sbin/uci set network.@qos[-1].share=0",
                            "/sbin/uci set network.@qos[-1].start=10.0.0.1",
                            "/sbin/uci set network.@qos[-1].end=10.0.0.9",
                            "/sbin/uci set network.@qos[-1].up_limit=1",
                            "/sbin/uci set network.@qos[-1].down_limit=2",
                            "/sbin/uci set network.@qos[-1].note='a b;reboot'",
                            "/sbin/uci set network.qos.rule_num=1",
                            "uci set system.@system[0].autoreboottime=\"day7\"",
                            "uci set system.@system[0].autorebootenabled=\"1\"",
                            "uci commit system",
                            "/etc/init.d/cron restart",
                            "/etc/init.d/mcproxy enable",
                            "/etc/init.d/mcproxy restart",
                            "/etc/init.d/miniupnpd disable",
                            "/etc/init.d/miniupnpd stop",
                            "uci set firewall.@rule[1].enabled=\"0\"",
                            "uci set firewall.@rule[5].enabled=\"1\"",
                            "uci set firewall.@rule[6].enabled=\"1\"",
                            "uci set firewall.@rule[7].enabled=\"0\""});
  expected.insert(expected.begin() + 34, "uci commit samba");
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(fake.file_text("/etc/crontabs/root"), "0 0 */7 * * reboot\n");
  // Committed, so it survives a reboot.
  EXPECT_NE(fake.read_config("samba").find("option name 'Store room'"), std::string::npos);
  EXPECT_EQ(cfg_get(std::string("network.@qos[-1].note")), "a b;reboot");
  EXPECT_EQ(cfg_get(std::string("network.qos.rule_num")), "1");

  // No recognised element still commits and restarts.
  EXPECT_EQ(post(""), envelope(0, "OK"));
  EXPECT_EQ(fake.commands(), tail({}));
}

TEST_F(Mgt, AutoRebootLinesAndRefusals) {
  struct Case {
    std::string element;
    std::string crontab;  // empty: refused
  };
  const std::vector<Case> cases = {
      {"<DISABLE>0</DISABLE><TIME>4</TIME>", "0 4 * * * reboot\n"},
      {"<DISABLE>0</DISABLE><TIME>23</TIME>", "0 23 * * * reboot\n"},
      {"<DISABLE>0</DISABLE><TIME>day12</TIME>", "0 0 */12 * * reboot\n"},
      {"<DISABLE>0</DISABLE><TIME>4 * * * touch /x #</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME>4\n* * * * touch /x</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME>24</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME>day</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME>day0</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME>day123</TIME>", ""},
      {"<DISABLE>0</DISABLE><TIME></TIME>", ""},
      {"<DISABLE>0</DISABLE>", ""},
      {"<TIME>4</TIME>", ""},
      // A TIME is stored even when the reboot goes off, so it is checked then too.
      {"<DISABLE>1</DISABLE><TIME>25</TIME>", ""},
      {"<DISABLE>1</DISABLE><TIME>x y</TIME>", ""},
  };
  for (const Case& c : cases) {
    fake.put_file("/etc/crontabs/root", "old\n");
    std::string reply = post("<AUTO_REBOOT>" + c.element + "</AUTO_REBOOT>");
    if (c.crontab.empty()) {
      EXPECT_EQ(reply, envelope(3, "FORMAT ERROR")) << c.element;
      EXPECT_TRUE(fake.commands().empty()) << c.element;
      EXPECT_EQ(fake.file_text("/etc/crontabs/root"), "old\n");
    } else {
      EXPECT_EQ(reply, envelope(0, "OK")) << c.element;
      EXPECT_EQ(fake.file_text("/etc/crontabs/root"), c.crontab);
    }
  }
  // Switching the reboot off commits it too, with or without a time.
  EXPECT_EQ(post("<AUTO_REBOOT><DISABLE>1</DISABLE></AUTO_REBOOT>"), envelope(0, "OK"));
  EXPECT_EQ(post("<AUTO_REBOOT><DISABLE>1</DISABLE><TIME>5</TIME></AUTO_REBOOT>"),
            envelope(0, "OK"));
  EXPECT_EQ(cfg_get(std::string("system.@system[0].autoreboottime")), "5");
  EXPECT_EQ(fake.commands()[2], "crontab -r");
  EXPECT_EQ(fake.commands()[3], "uci commit system");
  EXPECT_NE(fake.read_config("system").find("option autorebootenabled '0'"), std::string::npos);
}

TEST_F(Mgt, QosRulesReplacedOnlyWhenAllAreComplete) {
  const std::string limit = "<DISABLE>1</DISABLE><RATE_LIMIT><UP>5</UP><DOWN>6</DOWN></RATE_LIMIT>";
  const std::string good =
      "<QOS_RULE><TYPE>mac</TYPE><MAC>0a:0b:0c:0d:0e:0f</MAC><RATE><UP>1</UP><DOWN>2</DOWN>"
      "</RATE></QOS_RULE>";
  for (std::string bad :
       {"<QOS_RULE><TYPE>other</TYPE></QOS_RULE>",
        "<QOS_RULE><MAC>0a:0b:0c:0d:0e:0f</MAC></QOS_RULE>",
        "<QOS_RULE><TYPE>mac</TYPE><RATE><UP>1</UP><DOWN>2</DOWN></RATE></QOS_RULE>",
        "<QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>10.0.0.1</START></IP>"
        "<RATE><UP>1</UP><DOWN>2</DOWN></RATE></QOS_RULE>"}) {
    fake.write_config("network", stock_network);
    EXPECT_EQ(post("<QOS>" + limit + good + bad + "</QOS>"), envelope(0, "OK"));
    EXPECT_EQ(routed_reply("GET /route/mgt").find(rule_1 + rule_2) != std::string::npos, true)
        << bad;
    EXPECT_EQ(cfg_get(std::string("network.qos.rule_num")), "2");
    EXPECT_EQ(cfg_get(std::string("network.qos.up_rate")), "5");
  }
  // Without a complete RATE_LIMIT only the switch changes.
  fake.write_config("network", stock_network);
  post("<QOS><DISABLE>1</DISABLE><RATE_LIMIT><UP>5</UP></RATE_LIMIT>" + good + "</QOS>");
  EXPECT_EQ(cfg_get(std::string("network.qos.disable")), "1");
  EXPECT_EQ(cfg_get(std::string("network.qos.up_rate")), "1000");
  EXPECT_EQ(cfg_get(std::string("network.@qos[1].mac")), "aa:bb:cc:dd:ee:ff");

  // A settings section of type qos is never removed with the rules.
  fake.write_config("network", "config qos 'qos'\n\toption rule_num '2'\n\n" + qos_rules);
  post("<QOS>" + limit + good + "</QOS>");
  EXPECT_EQ(cfg_get(std::string("network.qos")), "qos");
  EXPECT_EQ(cfg_get(std::string("network.qos.up_rate")), "5");
  EXPECT_EQ(cfg_get(std::string("network.@qos[-1].mac")), "0a:0b:0c:0d:0e:0f");
  EXPECT_EQ(cfg_get(std::string("network.@qos[2]")), "");
}

TEST_F(Mgt, ManagementPortLeavesForwardsAlone) {
  EXPECT_EQ(post("<MGT_PORT></MGT_PORT>"), envelope(0, "OK"));
  EXPECT_EQ(cfg_get(std::string("firewall.@redirect[0].enabled")), "0");
  EXPECT_EQ(cfg_get(std::string("firewall.@redirect[0].src_dport")), "8080");
  fake.write_config("firewall",
                    "config redirect\n\toption name 'PORT-FWD-DNAT-WAN'\n"
                    "\toption src_dport '80'\n\toption enabled '1'\n");
  post("<MGT_PORT>8443</MGT_PORT>");
  EXPECT_EQ(fake.read_config("firewall"),
            "config redirect\n\toption name 'PORT-FWD-DNAT-WAN'\n"
            "\toption src_dport '80'\n\toption enabled '1'\n");
  EXPECT_EQ(cfg_get(std::string("network.mgt.mgt_port")), "8443");
}

TEST_F(Mgt, RefusedRequestsChangeNothing) {
  // The management port, the rates, addresses and MACs of QoS become words
  // of firewall options and of the QoS script's commands: one word each.
  const std::string rate = "<RATE><UP>1</UP><DOWN>2</DOWN></RATE>";
  std::vector<std::string> requests = {"POST /route/mgt/x\n<MGT/>", "POST /route/mgt\n<MGT>"};
  for (const std::string& body : std::vector<std::string>{
           "<SMB_NAME>a&#2;</SMB_NAME>", "<MGT_PORT>80 443</MGT_PORT>", "<MGT_PORT>0</MGT_PORT>",
           "<MGT_PORT>8080-8090</MGT_PORT>",
           "<QOS><RATE_LIMIT><UP>1 -j ACCEPT</UP><DOWN>2</DOWN></RATE_LIMIT></QOS>",
           "<QOS><QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>10.0.0.1 -j ACCEPT</START>"
           "<END>10.0.0.9</END></IP>" +
               rate + "</QOS_RULE></QOS>",
           "<QOS><QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>10.0.0.1</START>"
           "<END>x</END></IP>" +
               rate + "</QOS_RULE></QOS>",
           "<QOS><QOS_RULE><TYPE>mac</TYPE><MAC>aa:bb</MAC>" + rate + "</QOS_RULE></QOS>",
           "<QOS><QOS_RULE><TYPE>mac</TYPE><MAC>aa:bb:cc:dd:ee:ff</MAC>"
           "<RATE><UP>1k</UP><DOWN>2</DOWN></RATE></QOS_RULE></QOS>"})
    requests.push_back("POST /route/mgt\n<MGT>" + body + "</MGT>");
  for (const std::string& request : requests) {
    fake.clear_commands();
    EXPECT_NE(routed_reply(request), envelope(0, "OK")) << request;
    EXPECT_TRUE(fake.commands().empty()) << request;
  }
}

}  // namespace
