// The firewall service through the request router, with the store, the
// firewall script and the live addresses of a fake device.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/config.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string wan_reader = ". /lib/functions/network.sh; network_get_ipaddr ip wan; echo $ip";
const std::string lan_reader =
    "ifconfig br-lan | grep -i \"addr:\" | cut -f2 -d: | cut -f1 -d \" \"";

const std::string stock_firewall =
    "config mode\n\toption mode 'disable'\n\n"
    "config rule\n\toption name 'Allow-DHCP'\n\n"
    "config rule\n\toption name 'Allow-Ping'\n\n"
    "config redirect\n\toption name 'MGT'\n\toption src_dport '8080'\n\n"
    "config rule\n\toption src_ip '192.168.1.7'\n\n"
    "config rule\n\toption src_ip '192.168.1.8'\n\toption dest_port '22'\n\n"
    "config rule\n\toption extra '-m iprange --src-range 192.168.1.10-192.168.1.20'\n"
    "\toption dest_port '80'\n\toption proto 'tcp'\n\n"
    "config rule\n\toption src_mac 'aa:bb'\n\n"
    "config rule\n\toption target 'REJECT'\n\n"
    "config url\n\toption url 'a.com/?x=1&y=<2>'\n\n"
    "config redirect\n\toption name 'PORT-FWD-DNAT-LAN'\n\toption dest_ip '192.168.1.50'\n\n"
    "config redirect\n\toption name 'PORT-FWD-DNAT-WAN'\n\toption src_dport '8000-8010'\n"
    "\toption dest_ip '192.168.1.50'\n\toption dest_port '8000-8010'\n\n"
    "config redirect\n\toption name 'PORT-FWD-DMZ'\n\toption dest_ip '192.168.1.60'\n";

// What removing the stock file's agent sections runs.
const commands stock_removal = {"/sbin/uci del firewall.@redirect[-1]",
                                "/sbin/uci del firewall.@redirect[-1]",
                                "/sbin/uci del firewall.@redirect[-1]",
                                "/sbin/uci del firewall.@url[-1]",
                                "/sbin/uci del firewall.@rule[-1]",
                                "/sbin/uci del firewall.@rule[-1]",
                                "/sbin/uci del firewall.@rule[-1]",
                                "/sbin/uci del firewall.@rule[-1]",
                                "/sbin/uci del firewall.@rule[-1]",
                                "uci set firewall.@mode[0].mode=\"\"",
                                wan_reader,
                                lan_reader};

commands join(std::initializer_list<commands> parts) {
  commands all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

commands forward_part(const std::string& target, const std::string& side, const std::string& name,
                      const std::string& src_dport, const std::string& src_dip,
                      const std::string& enabled) {
  const std::string set = "/sbin/uci set firewall.@redirect[-1].";
  commands part = {"/sbin/uci add firewall redirect",
                   set + "target=" + target,
                   set + "proto='tcp udp'",
                   set + side,
                   set + "name=" + name,
                   set + "dest_ip=192.168.1.50",
                   set + "dest_port=8080"};
  if (!src_dport.empty()) part.push_back(set + "src_dport=" + src_dport);
  part.push_back(set + "src_dip=" + src_dip);
  part.push_back(set + "enabled=" + enabled);
  return part;
}

class Firewall : public FakeEffectsTest {
 protected:
  void SetUp() override { fake.write_config("firewall", stock_firewall); }
  std::string post(const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/firewall\n" + body);
  }
  std::string get() { return routed_reply("GET /route/firewall/ignored"); }
};

TEST_F(Firewall, Document) {
  EXPECT_EQ(get(), declaration +
                       "<FIREWALL><FILTER><MODE>disable</MODE><IP>192.168.1.7</IP>"
                       "<IPCOM><IP>192.168.1.8</IP><PORT>22</PORT><PROTO>tcp+udp</PROTO></IPCOM>"
                       "<IPCOM><PORT>80</PORT><IP> 192.168.1.10-192.168.1.20</IP>"
                       "<PROTO>tcp</PROTO></IPCOM><MAC>aa:bb</MAC>"
                       "<URL>a.com/?x=1&amp;y=&lt;2&gt;</URL></FILTER>"
                       "<PORT_FORWARD><SRC_PORT>8000-8010</SRC_PORT><DEST_IP>192.168.1.50</DEST_IP>"
                       "<DEST_PORT>8000-8010</DEST_PORT></PORT_FORWARD>"
                       "<DMZ><IP>192.168.1.60</IP></DMZ></FIREWALL>");
  fake.write_config("firewall", "config rule\n\toption name 'Allow-DHCP'\n");
  EXPECT_EQ(get(), declaration + "<FIREWALL><FILTER><MODE></MODE></FILTER></FIREWALL>");
}

TEST_F(Firewall, ForwardsAndDmzReplaceTheAgentSections) {
  fake.put_file("/etc/firewall.user", "old line\n");
  fake.on_capture(wan_reader, "10.0.0.2\n");
  fake.on_capture(lan_reader, "192.168.1.1\n");
  EXPECT_EQ(post("<FIREWALL><DMZ><IP>192.168.1.60</IP></DMZ><PORT_FORWARD><SRC_PORT>80</SRC_PORT>"
                 "<DEST_IP>192.168.1.50</DEST_IP><DEST_PORT>8080</DEST_PORT></PORT_FORWARD>"
                 "</FIREWALL>"),
            envelope(0, "OK"));
  const std::string set = "/sbin/uci set firewall.@redirect[-1].";
  commands dmz = {"/sbin/uci add firewall redirect", set + "src=wan", set + "proto=all",
                  set + "name=PORT-FWD-DMZ", set + "dest_ip=192.168.1.60"};
  commands removal(stock_removal.begin(), stock_removal.end() - 2);
  commands expected =
      join({removal,
            dmz,
            {wan_reader, lan_reader},
            forward_part("SNAT", "dest=lan", "PORT-FWD-SNAT", "", "192.168.1.1", "1"),
            forward_part("DNAT", "src=lan", "PORT-FWD-DNAT-LAN", "80", "10.0.0.2", "1"),
            forward_part("DNAT", "src=wan", "PORT-FWD-DNAT-WAN", "80", "10.0.0.2", "1"),
            {"uci commit firewall"},
            firewall_commands});
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(fake.file_text("/etc/firewall.user"), "");
  EXPECT_EQ(cfg_get(std::string("firewall.@redirect[0].name")), "MGT");
  EXPECT_EQ(cfg_get(std::string("firewall.@rule[-1].name")), "Allow-Ping");
  EXPECT_NE(fake.read_config("firewall").find("option src_dip '192.168.1.1'"), std::string::npos);

  // A LAN bridge without IPv4 (the reader prints a bare line feed) or a WAN
  // without an address leaves the forwards disabled.
  for (auto [wan, lan] : std::vector<std::pair<std::string, std::string>>{{"10.0.0.2\n", "\n"},
                                                                          {"", "192.168.1.1\n"}}) {
    fake.on_capture(wan_reader, wan);
    fake.on_capture(lan_reader, lan);
    post(
        "<FIREWALL><PORT_FORWARD><SRC_PORT>80</SRC_PORT><DEST_IP>192.168.1.50</DEST_IP>"
        "<DEST_PORT>8080</DEST_PORT></PORT_FORWARD></FIREWALL>");
    EXPECT_EQ(cfg_get(std::string("firewall.@redirect[-1].enabled")), "0") << lan;
    EXPECT_EQ(cfg_get(std::string("firewall.@redirect[-3].src_dip")),
              lan == "\n" ? "" : "192.168.1.1");
  }
}

// The agent's redirects go from the end back to the first other one; when
// that one has no name, the old firewall's marker is written after the
// deletes.
TEST_F(Firewall, AnUnnamedRedirectLeftMarksTheOldFirewallAfterTheDeletes) {
  const std::string marker =
      "echo This is fw old flow,need restore default setting > /var/run/firewall";
  const std::string del = "/sbin/uci del firewall.@redirect[-1]";
  const std::string mode = "uci set firewall.@mode[0].mode=\"\"";
  struct Case {
    std::string first_redirect;
    commands start;
  } cases[] = {
      {"config redirect\n\toption src_dport '8080'\n\n", {del, del, marker, mode}},
      {"config redirect\n\toption name 'MGT'\n\n", {del, del, mode}},
      {"", {del, del, mode}},
  };
  for (const Case& c : cases) {
    fake.write_config("firewall", "config mode\n\toption mode 'disable'\n\n" + c.first_redirect +
                                      "config redirect\n\toption name 'PORT-FWD-DMZ'\n\n"
                                      "config redirect\n\toption name 'PORT-FWD-SNAT'\n");
    post("<FIREWALL><FILTER><MODE>disable</MODE></FILTER></FIREWALL>");
    commands start = fake.commands();
    start.resize(std::min(start.size(), c.start.size()));
    EXPECT_EQ(start, c.start) << c.first_redirect;
  }
}

TEST_F(Firewall, FilterRulesByKindThenCatchAll) {
  EXPECT_EQ(post("<FIREWALL><FILTER><MODE>allow</MODE><URL>a.com</URL><MAC>aa:bb:cc:dd:ee:0f</MAC>"
                 "<IP>10.0.0.1-10.0.0.9</IP><IP>10.0.0.7</IP><PORT>8000-8010</PORT>"
                 "<IPCOM><IP>10.0.0.3</IP><PORT>22</PORT><PROTO>tcp</PROTO></IPCOM>"
                 "<IPCOM><IP>10.0.0.4</IP><PROTO>tcp+udp</PROTO></IPCOM></FILTER></FIREWALL>"),
            envelope(0, "OK"));
  const std::string rule = "/sbin/uci set firewall.@rule[-1].";
  const commands new_rule = {"/sbin/uci add firewall rule",
                             "/sbin/uci set  firewall.@rule[-1].src=lan",
                             "/sbin/uci set  firewall.@rule[-1].dest=wan"};
  const commands accept = {"/sbin/uci set  firewall.@rule[-1].target=ACCEPT"};
  commands expected =
      join({stock_removal,
            {"uci set firewall.@mode[0].mode=\"allow\""},
            new_rule,
            {rule + "extra=\"-m iprange --src-range 10.0.0.1-10.0.0.9\""},
            accept,
            new_rule,
            {rule + "src_ip=10.0.0.7"},
            accept,
            new_rule,
            {rule + "dest_port=8000-8010"},
            accept,
            new_rule,
            {rule + "src_mac=aa:bb:cc:dd:ee:0f"},
            accept,
            {"/sbin/uci add firewall url", "/sbin/uci set firewall.@url[-1].url=a.com"},
            new_rule,
            {rule + "src_ip=10.0.0.3", rule + "dest_port=22", rule + "proto=tcp"},
            accept,
            new_rule,
            {rule + "src_ip=10.0.0.4"},
            accept,
            new_rule,
            {rule + "target=REJECT", "uci commit firewall"},
            firewall_commands});
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(fake.file_text("/etc/firewall.user"),
            "iptables -I FORWARD -p all -m string --string \"a.com\" --algo kmp -j ACCEPT\n");
  EXPECT_EQ(cfg_get(std::string("firewall.@mode[0].mode")), "allow");

  // Deny-list mode: REJECT for every rule and URL, no catch-all.
  post("<FIREWALL><FILTER><MODE>disable</MODE><URL>b.com</URL></FILTER></FIREWALL>");
  EXPECT_EQ(fake.file_text("/etc/firewall.user"),
            "iptables -I FORWARD -p all -m string --string \"b.com\" --algo kmp -j REJECT\n");
  EXPECT_EQ(fake.commands()[fake.commands().size() - 9], "uci commit firewall");
}

TEST_F(Firewall, UrlTextIsStoredExactlyAndNeverRun) {
  EXPECT_EQ(post("<FIREWALL><FILTER><MODE>disable</MODE><URL>x\";reboot;\"$(id)</URL></FILTER>"
                 "</FIREWALL>"),
            envelope(0, "OK"));
  EXPECT_EQ(cfg_get(std::string("firewall.@url[-1].url")), "x\";reboot;\"$(id)");
  EXPECT_EQ(fake.file_text("/etc/firewall.user"),
            "iptables -I FORWARD -p all -m string --string \"x\\\";reboot;\\\"\\$(id)\" "
            "--algo kmp -j REJECT\n");
  for (const std::string& command : fake.commands()) {
    if (command.rfind("/sbin/uci", 0) == 0) {
      EXPECT_TRUE(shell_words(command)) << command;
    }
  }
}

// Filter and forward texts become words of firewall options (and a range
// words of iptables), so a text of another shape could add matches or
// targets: "10.0.0.1-10.0.0.9 -j ACCEPT" would turn a REJECT into an ACCEPT.
TEST_F(Firewall, TextsOfTheWrongShapeAreRefused) {
  const std::vector<std::string> filter_items = {
      "<IP>10.0.0.1-10.0.0.9 -j ACCEPT</IP>",
      "<IP>10.0.0.1-10.0.0.9-10.0.0.10</IP>",
      "<IP>10.0.0.1--10.0.0.9</IP>",
      "<IP>-m iprange</IP>",
      "<IP>1.2.3.4 5.6.7.8</IP>",
      "<IP></IP>",
      "<PORT>80 443</PORT>",
      "<PORT>80;reboot</PORT>",
      "<PORT>8010-8000</PORT>",
      "<MAC>aa:bb</MAC>",
      "<MAC>aa:bb:cc:dd:ee:ff -j ACCEPT</MAC>",
      "<IPCOM><IP>1.2.3.4|x</IP></IPCOM>",
      "<IPCOM><PORT>1 2</PORT></IPCOM>",
      "<IPCOM><PROTO>tcp udp</PROTO></IPCOM>",
  };
  std::vector<std::string> bodies;
  for (const std::string& item : filter_items)
    bodies.push_back("<FIREWALL><FILTER><MODE>disable</MODE>" + item + "</FILTER></FIREWALL>");
  for (const char* ports : {"<SRC_PORT>80 -j ACCEPT</SRC_PORT><DEST_PORT>80</DEST_PORT>",
                            "<SRC_PORT>80</SRC_PORT><DEST_PORT>80x</DEST_PORT>"})
    bodies.push_back(std::string("<FIREWALL><PORT_FORWARD><DEST_IP>192.168.1.5</DEST_IP>") + ports +
                     "</PORT_FORWARD></FIREWALL>");
  for (const std::string& body : bodies) {
    EXPECT_EQ(post(body), envelope(3, "FORMAT ERROR")) << body;
    EXPECT_TRUE(fake.commands().empty()) << body;
  }
  EXPECT_EQ(fake.read_config("firewall"), stock_firewall);
}

TEST_F(Firewall, RefusedRequestsChangeNothing) {
  const std::string forward = "<PORT_FORWARD><SRC_PORT>80</SRC_PORT><DEST_IP>192.168.1.5</DEST_IP>";
  const std::vector<std::string> bodies = {
      "<FIREWALL>",
      "<FIREWALL><FILTER><IP>1.2.3.4</IP></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>deny</MODE></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>allow</MODE><PORT>0</PORT></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>allow</MODE><PORT>65536</PORT></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>allow</MODE><URL>a\nb</URL></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>allow</MODE><URL>a&#13;b</URL></FILTER></FIREWALL>",
      "<FIREWALL><FILTER><MODE>allow</MODE><MAC>a&#1;</MAC></FILTER></FIREWALL>",
      "<FIREWALL><DMZ><IP></IP></DMZ></FIREWALL>",
      "<FIREWALL><DMZ><IP>192.168.1</IP></DMZ></FIREWALL>",
      "<FIREWALL>" + forward + "</PORT_FORWARD></FIREWALL>",
      "<FIREWALL>" + forward + "<DEST_PORT>65536</DEST_PORT></PORT_FORWARD></FIREWALL>",
      "<FIREWALL><PORT_FORWARD><SRC_PORT>0</SRC_PORT><DEST_IP>192.168.1.5</DEST_IP>"
      "<DEST_PORT>80</DEST_PORT></PORT_FORWARD></FIREWALL>",
      "<FIREWALL><PORT_FORWARD><SRC_PORT>1</SRC_PORT><DEST_IP>x</DEST_IP>"
      "<DEST_PORT>80</DEST_PORT></PORT_FORWARD></FIREWALL>",
  };
  for (const std::string& body : bodies) {
    EXPECT_EQ(post(body), envelope(3, "FORMAT ERROR")) << body;
    EXPECT_TRUE(fake.commands().empty()) << body;
  }
  fake.clear_commands();
  EXPECT_EQ(routed_reply("POST /route/firewall/x\n<FIREWALL/>"), envelope(1, "NO SERVICE"));
  EXPECT_TRUE(fake.commands().empty());
  EXPECT_EQ(fake.read_config("firewall"), stock_firewall);
}

// A store whose deletes all fail: the removal loops must still end. A batch
// that holds a delete applies nothing.
class StuckStore : public FakeEffects {
 public:
  int deletes = 0;
  int run_program_input(const std::vector<std::string>& argv, const std::string& input,
                        const std::vector<std::string>& command_lines) override {
    for (const std::string& line : command_lines) {
      if (line.rfind("/sbin/uci del ", 0) == 0) return ++deletes, 0;
    }
    return FakeEffects::run_program_input(argv, input, command_lines);
  }
};

TEST(FirewallStuckStore, RemovalEndsWhenDeletesFail) {
  StuckStore stuck;
  EffectsGuard guard(stuck);
  stuck.write_config("firewall", stock_firewall);
  std::string body = "POST /route/firewall\n<FIREWALL/>";
  EXPECT_EQ(routed_reply(body), envelope(0, "OK"));
  EXPECT_EQ(stuck.deletes, 3);  // one attempt per loop
}

}  // namespace
