// The DHCP service through the request router, with the store and lease file
// of a fake device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/worker_state.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

class Dhcp : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    fake.write_config("system", "config system\n\toption hardver 'HX5-9558-V2'\n");
    fake.write_config("network",
                      "config interface 'lan'\n\toption ipaddr '192.168.1.1'\n"
                      "\toption netmask '255.255.255.0'\n");
    fake.write_config(
        "dhcp",
        "config dhcp 'lan'\n\toption start '100'\n\toption limit '150'\n"
        "\toption leasetime '12h'\n\toption ignore '0'\n\n"
        "config host\n\toption mac '5c:1a:2b:3c:4d:01'\n\toption ip '192.168.1.20'\n\n"
        "config host\n\toption mac 'a<b'\n\toption ip '192.168.1.21'\n");
  }
  std::string route(const std::string& request) { return routed_reply(request); }
  std::string post(const std::string& body) {
    fake.clear_commands();
    return route("POST /route/dhcp\n" + body);
  }
};

TEST_F(Dhcp, SubPaths) {
  EXPECT_EQ(route("GET /route/dhcp"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(route("GET /route/dhcp/conf"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(route("GET /route/dhcp/configs"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(route("POST /route/dhcp/config\n<DHCP/>"), envelope(1, "NO SERVICE"));
}

TEST_F(Dhcp, ConfigDocument) {
  EXPECT_EQ(route("GET /route/dhcp/config"),
            declaration +
                "<DHCP><DISABLE>0</DISABLE>"
                "<STATIC><MAC>5c:1a:2b:3c:4d:01</MAC><IP>192.168.1.20</IP></STATIC>"
                "<STATIC><MAC>a&lt;b</MAC><IP>192.168.1.21</IP></STATIC>"
                "<LEASETIME>12</LEASETIME><ADDRPOOL><START>192.168.1.100</START>"
                "<END>192.168.1.249</END></ADDRPOOL></DHCP>");

  fake.write_config("dhcp", "config dhcp 'lan'\n\toption ignore '1'\n");
  EXPECT_EQ(route("GET /route/dhcp/config"),
            declaration +
                "<DHCP><DISABLE>1</DISABLE><LEASETIME>0</LEASETIME><ADDRPOOL>"
                "<START>192.168.1.0</START><END>192.168.0.255</END></ADDRPOOL></DHCP>");
}

TEST_F(Dhcp, ClientsFromTheLeaseFile) {
  worker().mode_switch_state = 4;
  fake.put_file("/tmp/TZ", "CST-8\n");
  fake.put_file("/var/dhcp.leases",
                "1700000000 5c:1a:2b:3c:4d:01 192.168.1.100 phone-1 01:5c:1a:2b:3c:4d:01\n"
                "\n"
                "1700003600 aa:bb:cc:dd:ee:ff 192.168.1.101 <x>&y *\n");
  EXPECT_EQ(route("GET /route/dhcp/clients"),
            declaration + "<DHCP><CLIENTS><MAC>5C:1A:2B:3C:4D:01</MAC><IP>192.168.1.100</IP>" +
                "<HOSTNAME>phone-1</HOSTNAME><TIME>Wed Nov 15 06:13:20 2023\n</TIME>"
                "</CLIENTS><CLIENTS><MAC>AA:BB:CC:DD:EE:FF</MAC><IP>192.168.1.101</IP>"
                "<HOSTNAME>&lt;x&gt;&amp;y</HOSTNAME><TIME>Wed Nov 15 07:13:20 2023\n</TIME>"
                "</CLIENTS><CLIENTS_NUM>2</CLIENTS_NUM></DHCP>");
  EXPECT_EQ(worker().mode_switch_state, 0);

  fake.put_file("/var/dhcp.leases", "");
  EXPECT_EQ(route("GET /route/dhcp/clients"),
            declaration + "<DHCP><CLIENTS_NUM>0</CLIENTS_NUM></DHCP>");
}

// A lease line is read field by field as far as it goes: a word longer than
// its field runs on into the next one, a line that does not start with a
// number keeps every field empty, a line of blanks is skipped.
TEST_F(Dhcp, ClientsFromOddLeaseLines) {
  fake.put_file("/tmp/TZ", "UTC0\n");
  fake.put_file("/var/dhcp.leases", "\t60x " + std::string(70, 'a') +
                                        " 10.0.0.1 host\n \t\r\n"
                                        "+61\n"
                                        "never aa:bb 10.0.0.2\n");
  auto client = [](const std::string& mac, const std::string& ip, const std::string& host,
                   const std::string& time) {
    return "<CLIENTS><MAC>" + mac + "</MAC><IP>" + ip + "</IP><HOSTNAME>" + host +
           "</HOSTNAME><TIME>" + time + "\n</TIME></CLIENTS>";
  };
  EXPECT_EQ(route("GET /route/dhcp/clients"),
            declaration + "<DHCP>" +
                client("X", std::string(63, 'a'), "aaaaaaa", "Thu Jan  1 00:01:00 1970") +
                client("", "", "", "Thu Jan  1 00:01:01 1970") +
                client("", "", "", "Thu Jan  1 00:00:00 1970") +
                "<CLIENTS_NUM>3</CLIENTS_NUM></DHCP>");
}

TEST_F(Dhcp, ClientsWithoutLeaseFileGiveTheSystemError) {
  worker().mode_switch_state = 2;
  EXPECT_EQ(route("GET /route/dhcp/clients"), envelope(5, "No such file or directory"));
  EXPECT_EQ(worker().mode_switch_state, 0);
}

TEST_F(Dhcp, PostReplacesStaticLeasesAndSetsPool) {
  worker().lan_restart_pending = true;
  EXPECT_EQ(post("<DHCP><DISABLE>1</DISABLE>"
                 "<STATIC><MAC>00:11:22:33:44:55</MAC><IP>192.168.1.30</IP></STATIC>"
                 "<LEASETIME>2h</LEASETIME>"
                 "<ADDRPOOL><START>192.168.1.100</START><END>192.168.1.199</END></ADDRPOOL>"
                 "</DHCP>"),
            envelope(0, "OK"));
  commands expected = {"uci set dhcp.lan.ignore=\"1\"",
                       "/sbin/uci delete dhcp.@host[-1]",
                       "/sbin/uci delete dhcp.@host[-1]",
                       "/sbin/uci add dhcp host",
                       "uci set dhcp.@host[-1].mac=\"00:11:22:33:44:55\"",
                       "uci set dhcp.@host[-1].ip=\"192.168.1.30\"",
                       "uci set dhcp.lan.leasetime=\"2h\"",
                       "uci set dhcp.lan.start=\"100\"",
                       "uci set dhcp.lan.limit=\"100\"",
                       "uci commit dhcp",
                       dhcp_check_kill,
                       "killall udhcpc",
                       "/etc/init.d/network restart"};
  expected.insert(expected.end(), firewall_commands.begin(), firewall_commands.end());
  expected.push_back("/etc/init.d/dnsmasq restart");
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_FALSE(worker().lan_restart_pending);
  std::string stored = fake.read_config("dhcp");
  EXPECT_NE(stored.find("config host\n\toption mac '00:11:22:33:44:55'\n\toption ip "
                        "'192.168.1.30'"),
            std::string::npos)
      << stored;
  EXPECT_EQ(stored.find("192.168.1.20"), std::string::npos);
  EXPECT_EQ(cfg_get(std::string("dhcp.lan.ignore")), "1");

  // Without a pending LAN change: no network restart; an MT board adds samba.
  fake.write_config("system", "config system\n\toption hardver 'HX3-9344-MT'\n");
  EXPECT_EQ(post("<DHCP><DISABLE>x</DISABLE><LEASETIME></LEASETIME></DHCP>"), envelope(0, "OK"));
  EXPECT_EQ(
      fake.commands(),
      (commands{"uci set dhcp.lan.ignore=\"\"", "/sbin/uci delete dhcp.@host[-1]",
                "uci commit dhcp", dhcp_check_kill, "killall udhcpc", "/etc/init.d/dnsmasq restart",
                "/etc/init.d/samba stop", "/etc/init.d/samba start"}));
  EXPECT_EQ(cfg_get(std::string("dhcp.@host[0]")), "");
  EXPECT_EQ(cfg_get(std::string("dhcp.lan.leasetime")), "2h");
}

TEST_F(Dhcp, PostWithActiveCommitsOnly) {
  worker().lan_restart_pending = true;
  EXPECT_EQ(post("<DHCP><ACTIVE>1</ACTIVE></DHCP>"), envelope(0, "OK"));
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");
  EXPECT_TRUE(worker().lan_restart_pending);
  // Both pool texts empty leave the pool alone.
  post("<DHCP><ADDRPOOL><START/><END/></ADDRPOOL><ACTIVE>1</ACTIVE></DHCP>");
  EXPECT_EQ(cfg_get(std::string("dhcp.lan.start")), "100");
}

TEST_F(Dhcp, PostErrorsStageNothing) {
  const std::string bad_pool = "Invalid address pool";
  for (auto [body, message] : std::vector<std::pair<std::string, std::string>>{
           {"<DHCP>", "FORMAT ERROR"},
           {"<DHCP><DISABLE></DISABLE></DHCP>", "Invalid DISABLE arg"},
           {"<DHCP><DISABLE>2</DISABLE></DHCP>", "DISABLE arg 0/1"},
           {"<DHCP><DISABLE>1</DISABLE><STATIC><MAC>m</MAC></STATIC></DHCP>", "Static List"},
           {"<DHCP><STATIC><MAC/><IP>192.168.1.5</IP></STATIC></DHCP>", "Static List"},
           {"<DHCP><STATIC><MAC>m</MAC><IP>192.168.1</IP></STATIC></DHCP>", "Static List"},
           {"<DHCP><ADDRPOOL><START>192.168.1.10</START></ADDRPOOL></DHCP>", bad_pool},
           {"<DHCP><ADDRPOOL><START/><END>192.168.1.10</END></ADDRPOOL></DHCP>", bad_pool},
           {"<DHCP><STATIC><MAC>00:11:22:33:44:55</MAC><IP>192.168.1.5</IP></STATIC><ADDRPOOL>"
            "<START>192.168.2.10</START><END>192.168.1.20</END></ADDRPOOL></DHCP>",
            bad_pool},
           {"<DHCP><ADDRPOOL><START>192.168.1.10</START><END>10.0.0.1</END></ADDRPOOL></DHCP>",
            bad_pool},
           {"<DHCP><ADDRPOOL><START>192.168.1.50</START><END>192.168.1.49</END></ADDRPOOL>"
            "</DHCP>",
            bad_pool},
           // Values the store cannot take.
           {"<DHCP><LEASETIME>12h&#1;</LEASETIME></DHCP>", "FORMAT ERROR"},
           {"<DHCP><LEASETIME>" + std::string(2100, '1') + "</LEASETIME></DHCP>", "FORMAT ERROR"},
           // The server lists a lease's MAC and address as comma-separated words,
           // and the lease time follows the pool after a comma.
           {"<DHCP><STATIC><MAC>00:11:22:33:44:55,ignore</MAC><IP>192.168.1.5</IP></STATIC></DHCP>",
            "Static List"},
           {"<DHCP><STATIC><MAC>m&#127;</MAC><IP>192.168.1.5</IP></STATIC></DHCP>", "Static List"},
           {"<DHCP><LEASETIME>12h,set:x</LEASETIME></DHCP>", "FORMAT ERROR"},
           {"<DHCP><LEASETIME>1 2</LEASETIME></DHCP>", "FORMAT ERROR"},
       }) {
    EXPECT_EQ(post(body), envelope(3, message)) << body;
    EXPECT_TRUE(fake.commands().empty()) << body;
  }
  EXPECT_EQ(cfg_get(std::string("dhcp.@host[1].ip")), "192.168.1.21");
}

}  // namespace
