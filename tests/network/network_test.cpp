// The network service through the request router, with the store, files and
// command outputs of a fake device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/startup.h"
#include "agent/worker_state.h"
#include "services/network/network_text.h"
#include "services/network/restart.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string wan_ip_reader =
    ". /lib/functions/network.sh; network_get_ipaddr ip wan; echo $ip";
const std::string wan_gateway_reader =
    ". /lib/functions/network.sh; network_get_gateway ip wan; echo $ip";
const std::string wan_dns_reader =
    ". /lib/functions/network.sh; network_get_dnsserver ip wan; echo $ip";

commands join(std::initializer_list<commands> parts) {
  commands all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string ports(const std::string& states) {
  std::string text;
  for (size_t i = 0; i < states.size(); ++i)
    text += "<PORT><NUM>" + std::to_string(i + 1) + "</NUM><STATUS>" +
            (states[i] == 'u' ? "up" : "down") + "</STATUS></PORT>";
  return text;
}

class Network : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    device("1", "HX5-9558-V2");
    fake.write_config("network",
                      "config interface 'lan'\n"
                      "\toption proto 'static'\n"
                      "\toption ipaddr '192.168.1.1'\n"
                      "\toption netmask '255.255.255.0'\n"
                      "\toption mtu '1500'\n"
                      "\toption gatewaybak '192.168.1.254'\n"
                      "\tlist dnsbak '8.8.8.8'\n"
                      "\tlist dnsbak '1.1.1.1'\n\n"
                      "config interface 'wan'\n"
                      "\toption ifname 'eth0.2'\n"
                      "\toption proto 'dhcp'\n"
                      "\toption mtu '1500'\n"
                      "\toption peerdns '1'\n");
    fake.write_config("dhcp",
                      "config dhcp 'lan'\n\toption start '100'\n\n"
                      "config snmpd 'snmpd'\n"
                      "\toption ac_addr '192.168.1.9'\n"
                      "\toption enterprisesid ''\n"
                      "\toption rwcommunity 'rw&1'\n"
                      "\toption rocommunity 'ro'\n");
  }

  void device(const std::string& mode, const std::string& hardver) {
    fake.write_config("system", "config system\n\toption sys_mode '" + mode +
                                    "'\n\toption hardver '" + hardver + "'\n");
    board_ifnames_init();
  }
  void wireless(const std::string& mode0, const std::string& mode4) {
    std::string text;
    for (int slot = 0; slot < 8; ++slot) {
      text += "config wifi-iface\n";
      if (slot == 0) text += "\toption mode '" + mode0 + "'\n";
      if (slot == 4) text += "\toption mode '" + mode4 + "'\n";
      text += "\n";
    }
    fake.write_config("wireless", text);
  }
  // Canned swconfig answers for ports 1 to 5: 'u' up, 'd' down, '-' silent.
  void switch_ports(const std::string& states) {
    for (size_t i = 0; i < states.size(); ++i) {
      std::string port = std::to_string(i + 1);
      std::string answer = states[i] == 'u'   ? "port:" + port + " link:up speed:1000baseT\n"
                           : states[i] == 'd' ? "port:" + port + " link:down\n"
                                              : "";
      fake.on_capture(
          std::string("/sbin/swconfig dev ") + switch_dev + " port " + port + " get link", answer);
    }
  }

  std::string route(const std::string& request) { return routed_reply(request); }
  std::string get(const std::string& path) { return route("GET /route/network" + path); }
  std::string post(const std::string& path, const std::string& body) {
    fake.clear_commands();
    return route("POST /route/network" + path + "\n" + body);
  }
};

// ---- address lists and the SNMP file ----

TEST(AddressList, SplitsAtEverySingleBlank) {
  EXPECT_EQ(address_list("", "DNS"), "<DNS></DNS>");
  EXPECT_EQ(address_list("8.8.8.8 ", "DNS"), "<DNS>8.8.8.8</DNS>");
  EXPECT_EQ(address_list("a b", "DNS_ADDR"), "<DNS_ADDR>a</DNS_ADDR><DNS_ADDR>b</DNS_ADDR>");
  EXPECT_EQ(address_list("a  b", "DNS"), "<DNS>a</DNS><DNS></DNS><DNS>b</DNS>");
  EXPECT_EQ(address_list(" a", "DNS"), "<DNS></DNS><DNS>a</DNS>");
}

TEST(SnmpConfText, KeepsEachValueOnItsLine) {
  EXPECT_EQ(snmpd_conf_text("", "rw", "ro\ntrap2sink 6.6.6.6", "10.0.0.1"),
            "sysobjectid .1.3.6.1.4.1..100.1.1.1.1.10\n"
            "agentAddress udp:161\n"
            "sysservices 72\n"
            "rwcommunity rw\n"
            "rocommunity ro\n"
            "trapcommunity mivrok\n"
            "trap2sink 10.0.0.1\n");
}

// ---- shared restart pieces ----

TEST_F(Network, SharedRestartPieces) {
  firewall_cycle();
  EXPECT_EQ(fake.commands(), firewall_commands);

  fake.clear_commands();
  samba_cycle();
  EXPECT_TRUE(fake.commands().empty());
  device("1", "HX3-9344-MT");
  samba_cycle();
  EXPECT_EQ(fake.commands(), (commands{"/etc/init.d/samba stop", "/etc/init.d/samba start"}));

  fake.clear_commands();
  kill_dhcp_check();
  EXPECT_EQ(fake.commands(), commands{dhcp_check_kill});
}

TEST_F(Network, SwapLanGatewayMovesOptionsWithoutCommitting) {
  EXPECT_EQ(swap_lan_gateway(1), 0);
  EXPECT_EQ(fake.commands(), (commands{"uci rename network.lan.gatewaybak=gateway",
                                       "uci rename network.lan.dnsbak=dns"}));
  EXPECT_EQ(cfg_get(std::string("network.lan.gateway")), "192.168.1.254");
  EXPECT_EQ(cfg_get(std::string("network.lan.dns")), "8.8.8.8 1.1.1.1");
  EXPECT_EQ(cfg_get(std::string("network.lan.dnsbak")), "");

  fake.clear_commands();
  swap_lan_gateway(0);
  EXPECT_EQ(fake.commands(), (commands{"uci rename network.lan.gateway=gatewaybak",
                                       "uci rename network.lan.dns=dnsbak"}));
  EXPECT_EQ(cfg_get(std::string("network.lan.gatewaybak")), "192.168.1.254");
  EXPECT_EQ(fake.read_config("network").find("gateway '"), std::string::npos);
}

// ---- routing ----

TEST_F(Network, SubPaths) {
  EXPECT_EQ(get("/la"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(get("/lanx"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(get(""), envelope(1, "NO SERVICE"));
  EXPECT_EQ(post("", "<A/>"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(post("/lanx", "<A/>"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(post("/wanx", "<A/>"), envelope(1, "NO SERVICE"));
  // Leading parts of a name select it.
  EXPECT_EQ(post("/la", "<LAN/>"), envelope(3, "PROTO NOT FOUND"));
  EXPECT_EQ(post("/", "<LAN/>"), envelope(3, "PROTO NOT FOUND"));
  EXPECT_EQ(post("/s", "<X/>"), envelope(4, "Not support snmp in current mode"));
  EXPECT_EQ(post("/w", "<X/>"), envelope(3, "FORMAT ERROR"));
}

// ---- GET /lan ----

TEST_F(Network, LanOnSwitchBoardInRouterMode) {
  switch_ports("ud-du");
  fake.on_capture(wan_ip_reader, "203.0.113.57\n");
  EXPECT_EQ(get("/lan"),
            declaration +
                "<Network><IFNAME>br-lan</IFNAME><PROTO><TYPE>static</TYPE><MTU>1500</MTU>"
                "<IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MAC></MAC>"
                "<GATEWAY_ADDR>192.168.1.254</GATEWAY_ADDR><DNS_ADDR>8.8.8.8</DNS_ADDR>"
                "<DNS_ADDR>1.1.1.1</DNS_ADDR></PROTO><AC_ADDR>192.168.1.9</AC_ADDR><SWITCH>" +
                ports("udddu") + "</SWITCH><UPLINK>1</UPLINK></Network>");
  EXPECT_EQ(fake.commands(), (commands{"/sbin/swconfig dev eth0 port 1 get link",
                                       "/sbin/swconfig dev eth0 port 2 get link",
                                       "/sbin/swconfig dev eth0 port 3 get link",
                                       "/sbin/swconfig dev eth0 port 4 get link",
                                       "/sbin/swconfig dev eth0 port 5 get link", wan_ip_reader}));

  // Without a WAN address the uplink is down even with port 5 up.
  fake.on_capture(wan_ip_reader, "");
  EXPECT_NE(get("/lan").find("<UPLINK>0</UPLINK>"), std::string::npos);
}

TEST_F(Network, LanInBridgeModeUsesLiveNamesAndEmptyDnsList) {
  device("3", "HX5-9558-V2");
  fake.write_config("network",
                    "config interface 'lan'\n\toption proto 'static'\n"
                    "\toption gateway '10.0.0.1'\n\toption gatewaybak '192.168.1.254'\n");
  wireless("ap", "ap");
  switch_ports("ddddd");
  std::string doc = get("/lan");
  EXPECT_NE(doc.find("<GATEWAY_ADDR>10.0.0.1</GATEWAY_ADDR><DNS_ADDR></DNS_ADDR></PROTO>"),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("<UPLINK>0</UPLINK>"), std::string::npos);
}

TEST_F(Network, LanWithDhcpProtoShowsTheBridgeAddressNotTheStoredOne) {
  device("4", "HX5-9558-V2");
  fake.write_config("network",
                    "config interface 'lan'\n\toption proto 'dhcp'\n"
                    "\toption ipaddr '192.168.188.253'\n\toption netmask '255.255.255.0'\n"
                    "\toption mtu '15<0'\n");
  switch_ports("ddddd");
  std::string doc = get("/lan");
  EXPECT_NE(doc.find("<MTU>15&lt;0</MTU>"), std::string::npos) << "posted text is escaped";
  EXPECT_EQ(doc.find("192.168.188.253"), std::string::npos) << doc;
  EXPECT_EQ(doc.find("255.255.255.0"), std::string::npos) << doc;
  EXPECT_NE(doc.find("<TYPE>dhcp</TYPE>"), std::string::npos);
}

TEST_F(Network, LanPortsOnKvBoardFollowCarrierFiles) {
  device("4", "HX3-9344-KV");
  for (int port = 1; port <= 5; ++port) worker().port_status[port] = 1;
  fake.put_file("/sys/class/net/eth1/carrier", "0\n");
  // eth0's carrier file is missing: port 5 keeps its last state.
  std::string doc = get("/lan");
  EXPECT_NE(doc.find(ports("ddddu")), std::string::npos) << doc;
  EXPECT_NE(doc.find("<UPLINK>0</UPLINK>"), std::string::npos) << "no port found up in this pass";
  EXPECT_TRUE(fake.commands().empty());

  fake.put_file("/sys/class/net/eth1/carrier", "1\n");
  fake.put_file("/sys/class/net/eth0/carrier", "0\n");
  doc = get("/lan");
  EXPECT_NE(doc.find(ports("dddud")), std::string::npos) << doc;
  EXPECT_NE(doc.find("<UPLINK>1</UPLINK>"), std::string::npos);
}

TEST_F(Network, LanPortsOnMtBoardMixCarrierAndSwitch) {
  device("4", "HX3-9344-MT");
  fake.put_file("/sys/class/net/eth0/carrier", "1\n");
  switch_ports("dudd");
  std::string doc = get("/lan");
  EXPECT_NE(doc.find(ports("duddu")), std::string::npos) << doc;
  EXPECT_EQ(fake.commands().front(), "/sbin/swconfig dev eth1 port 1 get link");
  EXPECT_EQ(fake.commands().size(), 4u);
}

TEST_F(Network, UplinkOfKv8100UsesPort3AndIsComputedOnce) {
  device("1", "HX8100-9344-KV");
  fake.on_capture(wan_ip_reader, "203.0.113.57\n");
  worker().port_status[3] = 1;  // KV boards always report port 3 down
  EXPECT_NE(get("/lan").find("<UPLINK>0</UPLINK>"), std::string::npos);
  EXPECT_EQ(worker().uplink_port, 3);
  device("1", "HX5-9558-V2");
  switch_ports("ddudd");
  EXPECT_NE(get("/lan").find("<UPLINK>1</UPLINK>"), std::string::npos);
  EXPECT_EQ(worker().uplink_port, 3);
}

TEST_F(Network, UplinkOfStationModesFollowsTheStationCarrier) {
  switch_ports("ddddd");
  fake.put_file("/sys/class/net/ath0/carrier", "1\n");
  fake.put_file("/sys/class/net/ath1/carrier", "0\n");
  device("3", "HX5-9558-V2");
  wireless("sta", "ap");
  EXPECT_NE(get("/lan").find("<UPLINK>1</UPLINK>"), std::string::npos);
  wireless("sta", "sta");  // the second station decides
  EXPECT_NE(get("/lan").find("<UPLINK>0</UPLINK>"), std::string::npos);

  device("2", "HX5-9558-V2");
  wireless("sta", "ap");
  EXPECT_NE(get("/lan").find("<UPLINK>0</UPLINK>"), std::string::npos) << "no WAN address";
  fake.on_capture(wan_ip_reader, "10.1.1.2\n");
  EXPECT_NE(get("/lan").find("<UPLINK>1</UPLINK>"), std::string::npos);

  device("7", "HX5-9558-V2");
  EXPECT_NE(get("/lan").find("<UPLINK>0</UPLINK>"), std::string::npos);
}

// ---- GET /wan, /snmp, /arp ----

TEST_F(Network, WanDhcpDocumentWithRuntimeDns) {
  fake.on_capture(wan_gateway_reader, "203.0.113.1\n");
  fake.on_capture(wan_dns_reader, "198.51.100.53 198.51.100.54\n");
  EXPECT_EQ(get("/wan"), declaration +
                             "<NETWORK><IFNAME>eth0.2</IFNAME><PROTO><TYPE>dhcp</TYPE>"
                             "<MTU>1500</MTU><IP></IP><NETMASK></NETMASK><MAC></MAC>"
                             "<GATEWAY>203.0.113.1</GATEWAY><BROADCAST></BROADCAST>"
                             "<PREDNS>0</PREDNS><DNS>198.51.100.53</DNS><DNS>198.51.100.54</DNS>"
                             "</PROTO></NETWORK>");
}

TEST_F(Network, WanDhcpDocumentWithOwnDnsInStationMode) {
  device("2", "HX5-9558-V2");
  wireless("ap", "sta");
  fake.write_config("network",
                    "config interface 'wan'\n\toption proto 'dhcp'\n\toption peerdns '0'\n"
                    "\tlist dns '9.9.9.9'\n");
  std::string doc = get("/wan");
  EXPECT_NE(doc.find("<IFNAME>ath1</IFNAME>"), std::string::npos) << doc;
  EXPECT_NE(doc.find("<PREDNS>1</PREDNS><DNS>9.9.9.9</DNS></PROTO>"), std::string::npos) << doc;
  wireless("sta", "ap");
  EXPECT_NE(get("/wan").find("<IFNAME>ath0</IFNAME>"), std::string::npos);
}

TEST_F(Network, WanStaticAndPppoeDocuments) {
  fake.write_config("network",
                    "config interface 'wan'\n\toption ifname 'nosuch0'\n\toption proto 'static'\n"
                    "\toption ipaddr '10.0.0.2'\n\toption netmask '255.255.255.0'\n"
                    "\toption gateway '10.0.0.1'\n\toption mtu '1492'\n"
                    "\toption dns '8.8.8.8 8.8.4.4'\n\toption username 'a<b'\n"
                    "\toption password 'p&w'\n");
  EXPECT_EQ(get("/wan"), declaration +
                             "<NETWORK><IFNAME>nosuch0</IFNAME><PROTO><TYPE>static</TYPE>"
                             "<MTU>1492</MTU><IP>10.0.0.2</IP><NETMASK>255.255.255.0</NETMASK>"
                             "<MAC></MAC><GATEWAY>10.0.0.1</GATEWAY><BROADCAST></BROADCAST>"
                             "<DNS>8.8.8.8</DNS><DNS>8.8.4.4</DNS></PROTO></NETWORK>");
  EXPECT_TRUE(fake.commands().empty());

  fake.run("uci set network.wan.proto=pppoe");
  fake.on_capture(wan_ip_reader, "100.64.0.9\n");
  fake.on_capture(wan_gateway_reader, "100.64.0.1\n");
  fake.on_capture(wan_dns_reader, "");
  EXPECT_EQ(get("/wan"), declaration +
                             "<NETWORK><IFNAME>nosuch0</IFNAME><PROTO><USER_NAME>a&lt;b</USER_NAME>"
                             "<PASSWD>p&amp;w</PASSWD><TYPE>pppoe</TYPE><MTU>1492</MTU>"
                             "<IP>100.64.0.9</IP><NETMASK>255.255.255.255</NETMASK><MAC></MAC>"
                             "<GATEWAY>100.64.0.1</GATEWAY><BROADCAST></BROADCAST>"
                             "<PREDNS>0</PREDNS><DNS></DNS></PROTO></NETWORK>");
}

TEST_F(Network, WanWithUnknownProtocolSendsNothing) {
  fake.run("uci set network.wan.proto=l2tp");
  EXPECT_EQ(get("/wan"), "");
  fake.run("uci delete network.wan.proto");
  EXPECT_EQ(get("/wan"), "");
}

TEST_F(Network, SnmpDocumentEscapesCommunities) {
  EXPECT_EQ(get("/snmp"), declaration +
                              "<Network><SNMP><RWCOMMUNITY>rw&amp;1</RWCOMMUNITY>"
                              "<ROCOMMUNITY>ro</ROCOMMUNITY><TRAP2SINK>192.168.1.9</TRAP2SINK>"
                              "</SNMP></Network>");
}

TEST_F(Network, ArpListsEveryEntryWithoutDeclaration) {
  EXPECT_EQ(get("/arp"), "<ARP></ARP>");
  fake.put_file("/proc/net/arp",
                "IP address       HW type     Flags       HW address            Mask     Device\n"
                "192.168.1.100    0x1         0x2         5c:1a:2b:3c:4d:01     *        br-lan\n"
                "192.168.1.7      0x1         0x0         00:00:00:00:00:00     *        br-lan\n");
  EXPECT_EQ(get("/arp"),
            "<ARP><MAC_IP><MAC>5C:1A:2B:3C:4D:01</MAC><IP>192.168.1.100</IP></MAC_IP>"
            "<MAC_IP><MAC>00:00:00:00:00:00</MAC><IP>192.168.1.7</IP></MAC_IP></ARP>");
}

// ---- POST /lan ----

const std::string lan_request =
    "<LAN><PROTO><IP>192.168.2.1</IP><NETMASK>255.255.255.0</NETMASK><MTU>1400</MTU>"
    "<TYPE>dhcp</TYPE><GATEWAY_ADDR>192.168.2.254</GATEWAY_ADDR><DNS_ADDR>9.9.9.9</DNS_ADDR>"
    "<DNS_ADDR>bad</DNS_ADDR><DNS_ADDR></DNS_ADDR><DNS_ADDR>1.0.0.1</DNS_ADDR></PROTO>"
    "<AC_ADDR>192.168.2.9</AC_ADDR>%ACTIVE%</LAN>";

std::string lan_body(const std::string& active = "") {
  std::string body = lan_request;
  body.replace(body.find("%ACTIVE%"), 8, active);
  return body;
}

const commands lan_restarts =
    join({{">/tmp/dhcp.leases", "/etc/init.d/network restart", "/etc/init.d/dnsmasq restart"},
          firewall_commands,
          {"/sbin/wifi restart", "/etc/init.d/swctrler restart"}});

TEST_F(Network, PostLanInRouterModeStagesCommitsAndRestarts) {
  EXPECT_EQ(post("/lan", lan_body()), envelope(0, "OK"));
  commands staged = {"uci set network.lan.gatewaybak=\"192.168.2.254\"",
                     "uci del network.lan.dns",
                     "uci del network.lan.dnsbak",
                     "uci add_list network.lan.dnsbak=\"9.9.9.9\"",
                     "uci add_list network.lan.dnsbak=\"1.0.0.1\"",
                     "uci set network.lan.proto=\"static\"",
                     "uci set network.lan.ipaddr=\"192.168.2.1\"",
                     "uci set network.lan.netmask=\"255.255.255.0\"",
                     "uci set network.lan.mtu=\"1400\"",
                     "uci commit network",
                     "uci commit dhcp"};
  EXPECT_EQ(fake.commands(), join({staged, lan_restarts}));
  std::string stored = fake.read_config("network");
  EXPECT_NE(stored.find("option ipaddr '192.168.2.1'"), std::string::npos) << stored;
  EXPECT_NE(stored.find("option gatewaybak '192.168.2.254'"), std::string::npos);
  EXPECT_NE(stored.find("list dnsbak '9.9.9.9'\n\tlist dnsbak '1.0.0.1'"), std::string::npos);
  EXPECT_EQ(stored.find("option gateway '"), std::string::npos);
  EXPECT_EQ(stored.find("8.8.8.8"), std::string::npos);
  EXPECT_FALSE(worker().lan_restart_pending);
}

TEST_F(Network, PostLanOnMtBoardEndsWithSambaCycle) {
  device("1", "HX3-9344-MT");
  post("/lan", lan_body());
  commands tail(fake.commands().end() - 3, fake.commands().end());
  EXPECT_EQ(tail, (commands{"/etc/init.d/swctrler restart", "/etc/init.d/samba stop",
                            "/etc/init.d/samba start"}));
}

TEST_F(Network, PostLanInBridgeModeWithDhcpTypeKeepsNetmaskAndMtu) {
  device("4", "HX5-9558-V2");
  fake.write_config("network",
                    "config interface 'lan'\n\toption proto 'static'\n"
                    "\toption ipaddr '192.168.1.1'\n\toption netmask '255.255.255.0'\n");
  EXPECT_EQ(post("/lan", lan_body("<ACTIVE>1</ACTIVE>")), envelope(0, "OK"));
  commands expected = {"uci set network.lan.gateway=\"192.168.2.254\"",
                       "uci del network.lan.dns",
                       "uci del network.lan.dnsbak",
                       "uci add_list network.lan.dns=\"9.9.9.9\"",
                       "uci add_list network.lan.dns=\"1.0.0.1\"",
                       "uci set network.lan.proto=\"dhcp\"",
                       "uci set network.lan.ipaddr=\"192.168.188.253\"",
                       "uci set dhcp.snmpd.ac_addr=\"192.168.2.9\"",
                       "uci commit network",
                       "uci commit dhcp"};
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(cfg_get(std::string("network.lan.netmask")), "255.255.255.0");
  EXPECT_EQ(cfg_get(std::string("network.lan.mtu")), "");
  EXPECT_EQ(cfg_get(std::string("dhcp.snmpd.ac_addr")), "192.168.2.9");
  EXPECT_TRUE(worker().lan_restart_pending);
  // The LAN proto is dhcp now, so the SNMP daemon's file is not regenerated.
  EXPECT_FALSE(fake.exists("/var/run/snmpd.conf"));
}

TEST_F(Network, PostLanInBridgeModeWithStaticTypeRegeneratesSnmpFile) {
  device("5", "HX5-9558-V2");
  fake.run("uci set network.lan.vantor_ipaddr=10.9.9.9");
  std::string body =
      "<LAN><PROTO><IP>192.168.3.1</IP><NETMASK>255.255.0.0</NETMASK><TYPE>static</TYPE>"
      "</PROTO><AC_ADDR>192.168.3.9</AC_ADDR></LAN>";
  EXPECT_EQ(post("/lan", body), envelope(0, "OK"));
  commands expected = {"uci del network.lan.dns",
                       "uci del network.lan.dnsbak",
                       dhcp_check_kill,
                       "uci set network.lan.proto=\"static\"",
                       "uci set network.lan.ipaddr=\"192.168.3.1\"",
                       "uci set network.lan.netmask=\"255.255.0.0\"",
                       "uci set dhcp.snmpd.ac_addr=\"192.168.3.9\"",
                       "kill -SIGHUP `cat /var/run/snmpd.pid`",
                       "uci commit network",
                       "uci commit dhcp"};
  EXPECT_EQ(commands(fake.commands().begin(), fake.commands().begin() + 10), expected);
  EXPECT_NE(fake.file_text("/var/run/snmpd.conf").find("trap2sink 192.168.3.9\n"),
            std::string::npos);

  // Without TYPE the proto stays as it is; with TYPE dhcp the vantor address is used.
  post("/lan", "<LAN><PROTO><IP>192.168.3.1</IP><NETMASK>255.255.0.0</NETMASK></PROTO></LAN>");
  EXPECT_EQ(fake.commands()[3], "uci set network.lan.ipaddr=\"192.168.3.1\"");
  post("/lan",
       "<LAN><PROTO><IP>1.2.3.4</IP><NETMASK>255.0.0.0</NETMASK><TYPE>dhcp</TYPE></PROTO></LAN>");
  EXPECT_EQ(fake.commands()[3], "uci set network.lan.ipaddr=\"10.9.9.9\"");
}

TEST_F(Network, PostLanWithActiveDefersRestartOnlyWhenSomethingChanged) {
  std::string same =
      "<LAN><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MTU>1500</MTU></PROTO>"
      "<ACTIVE>1</ACTIVE></LAN>";
  EXPECT_EQ(post("/lan", same), envelope(0, "OK"));
  EXPECT_FALSE(worker().lan_restart_pending);
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");

  worker().lan_restart_pending = true;
  post("/lan", same);
  EXPECT_TRUE(worker().lan_restart_pending) << "an owed restart stays owed";

  worker().lan_restart_pending = false;
  std::string changed = same;
  changed.replace(changed.find("1500"), 4, "1400");
  post("/lan", changed);
  EXPECT_TRUE(worker().lan_restart_pending);
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");
}

TEST_F(Network, PostsDuringModeSwitchCommitButRestartNothing) {
  worker().mode_switch_state = 3;
  EXPECT_EQ(post("/lan", lan_body()), envelope(0, "OK"));
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");
  EXPECT_EQ(cfg_get(std::string("network.lan.ipaddr")), "192.168.2.1");
  EXPECT_FALSE(worker().lan_restart_pending);

  EXPECT_EQ(post("/wan", "<WAN><PROTO><TYPE>dhcp</TYPE></PROTO></WAN>"), envelope(0, "OK"));
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");
  EXPECT_EQ(post("/wan",
                 "<WAN><PROTO><TYPE>static</TYPE><IP>10.0.0.2</IP><NETMASK>255.0.0.0</NETMASK>"
                 "</PROTO></WAN>"),
            envelope(0, "OK"));
  EXPECT_EQ(fake.commands().back(), "uci commit dhcp");
  EXPECT_EQ(worker().mode_switch_state, 3);
}

TEST_F(Network, PostLanErrors) {
  EXPECT_EQ(post("/lan", "<LAN><PROTO>"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(post("/lan", "<LAN></LAN>"), envelope(3, "PROTO NOT FOUND"));
  EXPECT_EQ(post("/lan", "<LAN><PROTO><NETMASK>255.0.0.0</NETMASK></PROTO></LAN>"),
            envelope(3, "IP NOT FOUND"));
  EXPECT_EQ(post("/lan", "<LAN><PROTO><IP>1.2.3.4</IP></PROTO></LAN>"),
            envelope(3, "NETMASK NOT FOUND"));
  for (auto [ip, mask] : {std::pair{"1.2.3.4", "255.0.255.0"},
                          {"1.2.3.4", ""},
                          {"", "255.0.0.0"},
                          {"1.2.3.256", "255.0.0.0"}}) {
    std::string body = std::string("<LAN><PROTO><IP>") + ip + "</IP><NETMASK>" + mask +
                       "</NETMASK><GATEWAY_ADDR>1.2.3.254</GATEWAY_ADDR>"
                       "<DNS_ADDR>9.9.9.9</DNS_ADDR></PROTO></LAN>";
    EXPECT_EQ(post("/lan", body), envelope(3, "Invalid network address")) << ip << " " << mask;
    // A refused request stages nothing a later commit could pick up.
    EXPECT_TRUE(fake.commands().empty());
  }
  EXPECT_EQ(cfg_get(std::string("network.lan.dnsbak")), "8.8.8.8 1.1.1.1");
}

// ---- POST /wan ----

void wantolan(FakeEffects& fake) {
  fake.write_config("ver_config", "config dns 'dns'\n\toption wantolan '1'\n");
}

TEST_F(Network, PostWanStatic) {
  wantolan(fake);
  fake.run("uci add_list dhcp.lan.dhcp_option=3,10.0.0.1");
  std::string body =
      "<WAN><PROTO><TYPE>static</TYPE><IP>10.0.0.2</IP><NETMASK>255.255.255.0</NETMASK>"
      "<GATEWAY>10.0.0.1</GATEWAY><DNS>8.8.8.8</DNS><DNS></DNS><DNS>8.8.4.4</DNS>"
      "<MTU>1492</MTU></PROTO></WAN>";
  EXPECT_EQ(post("/wan", body), envelope(0, "OK"));
  commands expected = {"uci set network.wan.proto=\"static\"",
                       "uci set network.wan.ipaddr=\"10.0.0.2\"",
                       "uci set network.wan.netmask=\"255.255.255.0\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.mtu=\"1492\"",
                       "uci set network.wan.gateway=\"10.0.0.1\"",
                       "uci delete dhcp.lan.dhcp_option",
                       "uci set network.wan.dns=\"8.8.8.8 8.8.4.4\"",
                       "uci add_list dhcp.lan.dhcp_option=\"6,8.8.8.8,8.8.4.4\"",
                       "uci set network.wan.username=\"\"",
                       "uci set network.wan.password=\"\"",
                       "uci commit network",
                       "uci commit dhcp",
                       dhcp_check_kill,
                       "/etc/init.d/network restart",
                       "/etc/init.d/dnsmasq restart"};
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(cfg_get(std::string("dhcp.lan.dhcp_option")), "6,8.8.8.8,8.8.4.4");
  EXPECT_EQ(cfg_get(std::string("network.wan.dns")), "8.8.8.8 8.8.4.4");
}

TEST_F(Network, PostWanStaticWithoutDnsClearsIt) {
  wantolan(fake);
  fake.run("uci add_list network.wan.dns=1.1.1.1");
  post("/wan",
       "<WAN><PROTO><TYPE>static</TYPE><IP>10.0.0.2</IP><NETMASK>255.0.0.0</NETMASK></PROTO>"
       "</WAN>");
  commands expected = {"uci set network.wan.proto=\"static\"",
                       "uci set network.wan.ipaddr=\"10.0.0.2\"",
                       "uci set network.wan.netmask=\"255.0.0.0\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.gateway=\"\"",
                       "uci delete dhcp.lan.dhcp_option",
                       "uci set network.wan.dns=\"empty\"",
                       "uci set network.wan.dns=\"\"",
                       "uci set network.wan.username=\"\"",
                       "uci set network.wan.password=\"\"",
                       "uci commit network",
                       "uci commit dhcp",
                       dhcp_check_kill,
                       "/etc/init.d/network restart",
                       "/etc/init.d/dnsmasq restart"};
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(cfg_get(std::string("network.wan.dns")), "");
}

TEST_F(Network, PostWanStaticErrorsStageNothing) {
  const std::string head = "<WAN><PROTO><TYPE>static</TYPE>";
  const std::string address = "<IP>10.0.0.2</IP><NETMASK>255.0.0.0</NETMASK>";
  EXPECT_EQ(post("/wan", head + "<IP>10.0.0.2</IP></PROTO></WAN>"),
            envelope(3, "Invalid ip addr or netmask addr"));
  EXPECT_EQ(post("/wan", head + "<IP>10.0.0.2</IP><NETMASK>255.0.0.1</NETMASK></PROTO></WAN>"),
            envelope(3, "Invalid ip addr or netmask addr"));
  EXPECT_EQ(post("/wan", head + address + "<DNS>8.8.8</DNS></PROTO></WAN>"),
            envelope(3, "Invalid dns ip address"));
  EXPECT_EQ(post("/wan", head + address + "<GATEWAY>x</GATEWAY></PROTO></WAN>"),
            envelope(3, "Invalid gateway ip address"));
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(Network, PostWanPppoeQuotesOwnDnsAndAddsTheLanOption) {
  wantolan(fake);
  std::string body =
      "<WAN><PROTO><TYPE>pppoe</TYPE><USER_NAME>user</USER_NAME><PASSWD>p\"w$x</PASSWD>"
      "<MTU>1480</MTU><PREDNS><IP>8.8.8.8</IP><IP></IP><IP>1.1.1.1</IP></PREDNS></PROTO></WAN>";
  EXPECT_EQ(post("/wan", body), envelope(0, "OK"));
  commands expected = {"uci set network.wan.mtu=\"1480\"",
                       "uci set network.wan.proto=\"pppoe\"",
                       "uci set network.wan.username=\"user\"",
                       "uci set network.wan.password=\"p\\\"w\\$x\"",
                       "uci set network.wan.netmask=\"\"",
                       "uci set network.wan.broadcast=\"\"",
                       "uci set network.wan.ipaddr=\"\"",
                       "uci set network.wan.gateway=\"\"",
                       "uci set network.wan.ipaddr=\"\"",
                       "uci set network.wan.dns=\"\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.dns=\"empty\"",
                       "uci set network.wan.dns=\"\"",
                       "uci delete dhcp.lan.dhcp_option",
                       "uci add_list network.wan.dns=8.8.8.8",
                       "uci add_list network.wan.dns=1.1.1.1",
                       "uci add_list dhcp.lan.dhcp_option=\"6,8.8.8.8,1.1.1.1\"",
                       "uci set network.wan.peerdns=\"0\"",
                       "uci commit network",
                       "uci commit dhcp",
                       "/etc/init.d/network restart",
                       "/etc/init.d/dnsmasq restart"};
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(cfg_get(std::string("network.wan.password")), "p\"w$x");
  EXPECT_EQ(cfg_get(std::string("network.wan.dns")), "8.8.8.8 1.1.1.1");
  EXPECT_EQ(cfg_get(std::string("network.wan.peerdns")), "0");
}

TEST_F(Network, PostWanDhcpRefusesDnsThatIsNotAnAddress) {
  std::string body =
      "<WAN><PROTO><TYPE>dhcp</TYPE><PREDNS><IP>8.8.8.8;reboot</IP></PREDNS></PROTO></WAN>";
  EXPECT_EQ(post("/wan", body), envelope(3, "Invalid dns ip address"));
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(Network, PostWanDhcpWithoutFlagOrServers) {
  wantolan(fake);
  // PREDNS without addresses: peerdns "0", but no option 6 without servers.
  EXPECT_EQ(post("/wan", "<WAN><PROTO><TYPE>dhcp</TYPE><PREDNS/></PROTO></WAN>"),
            envelope(0, "OK"));
  commands expected = {"uci set network.wan.proto=\"dhcp\"",
                       "uci set network.wan.username=\"\"",
                       "uci set network.wan.password=\"\"",
                       "uci set network.wan.netmask=\"\"",
                       "uci set network.wan.broadcast=\"\"",
                       "uci set network.wan.ipaddr=\"\"",
                       "uci set network.wan.gateway=\"\"",
                       "uci set network.wan.ipaddr=\"\"",
                       "uci set network.wan.dns=\"\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.peerdns=\"\"",
                       "uci set network.wan.dns=\"empty\"",
                       "uci set network.wan.dns=\"\"",
                       "uci delete dhcp.lan.dhcp_option",
                       "uci set network.wan.peerdns=\"0\"",
                       "uci commit network",
                       "uci commit dhcp",
                       "/etc/init.d/network restart",
                       "/etc/init.d/dnsmasq restart"};
  EXPECT_EQ(fake.commands(), expected);

  // Without the flag nothing goes to the LAN and dnsmasq keeps running.
  fake.write_config("ver_config", "config dns 'dns'\n\toption wantolan '0'\n");
  post("/wan", "<WAN><PROTO><TYPE>dhcp</TYPE><PREDNS><IP>8.8.8.8</IP></PREDNS></PROTO></WAN>");
  EXPECT_EQ(fake.commands()[15], "uci set network.wan.peerdns=\"0\"");
  EXPECT_EQ(fake.commands()[14], "uci add_list network.wan.dns=8.8.8.8");
  EXPECT_EQ(fake.commands().back(), "/etc/init.d/network restart");
  EXPECT_EQ(cfg_get(std::string("dhcp.lan.dhcp_option")), "");
}

TEST_F(Network, PostWanErrors) {
  EXPECT_EQ(post("/wan", "<WAN>"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(post("/wan", "<WAN/>"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(post("/wan", "<WAN><PROTO/></WAN>"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(post("/wan", "<WAN><PROTO><TYPE>l2tp</TYPE></PROTO></WAN>"),
            envelope(4, "Invalid proto type"));
  EXPECT_EQ(post("/wan", "<WAN><PROTO><TYPE>pppoe</TYPE><USER_NAME/></PROTO></WAN>"),
            envelope(3, "Invalid user name or passwd"));
  EXPECT_EQ(post("/wan", "<WAN><PROTO><TYPE>pppoe</TYPE><PASSWD/></PROTO></WAN>"),
            envelope(3, "Invalid user name or passwd"));
  EXPECT_TRUE(fake.commands().empty());
}

// ---- POST /snmp ----

const std::string snmp_body =
    "<X><SNMP><RWCOMMUNITY>private</RWCOMMUNITY><ROCOMMUNITY>pub lic</ROCOMMUNITY>"
    "<TRAP2SINK>192.168.1.50</TRAP2SINK></SNMP></X>";

TEST_F(Network, PostSnmpStoresAndWritesTheDaemonFile) {
  device("4", "HX5-9558-V2");
  fake.run("uci set dhcp.snmpd.enterprisesid=777");
  EXPECT_EQ(post("/snmp", snmp_body), envelope(0, "OK"));
  EXPECT_EQ(fake.commands(),
            (commands{"uci set dhcp.snmpd.rwcommunity=\"private\"",
                      "uci set dhcp.snmpd.rocommunity=\"pub lic\"",
                      "uci set dhcp.snmpd.ac_addr=\"192.168.1.50\"", "uci commit dhcp",
                      "kill -SIGHUP `cat /var/run/snmpd.pid`"}));
  EXPECT_EQ(fake.file_text("/var/run/snmpd.conf"),
            snmpd_conf_text("777", "private", "pub lic", "192.168.1.50"));
  EXPECT_NE(fake.read_config("dhcp").find("option rocommunity 'pub lic'"), std::string::npos);
}

TEST_F(Network, PostSnmpErrors) {
  EXPECT_EQ(post("/snmp", "not even xml"), envelope(4, "Not support snmp in current mode"));
  device("5", "HX5-9558-V2");
  EXPECT_EQ(post("/snmp", "<X>"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(post("/snmp", "<X/>"), envelope(3, "SNMP NOT FOUND"));
  EXPECT_EQ(post("/snmp", "<X><SNMP/></X>"), envelope(3, "RWCOMMUNITY NOT FOUND"));
  EXPECT_EQ(post("/snmp", "<X><SNMP><RWCOMMUNITY/></SNMP></X>"),
            envelope(3, "ROCOMMUNITY NOT FOUND"));
  EXPECT_EQ(post("/snmp", "<X><SNMP><RWCOMMUNITY/><ROCOMMUNITY/></SNMP></X>"),
            envelope(3, "TRAP2SINK NOT FOUND"));
  for (const char* sink : {"", "1.2.3"}) {
    EXPECT_EQ(post("/snmp", std::string("<X><SNMP><RWCOMMUNITY/><ROCOMMUNITY/><TRAP2SINK>") + sink +
                                "</TRAP2SINK></SNMP></X>"),
              envelope(3, "Invalid snmp trap address"));
  }
  EXPECT_TRUE(fake.commands().empty());
}

// A value the store cannot take (a control character, or too long) fails the
// whole request before anything is staged.
TEST_F(Network, PostsRefuseValuesTheStoreCannotTake) {
  device("4", "HX5-9558-V2");
  const std::string control = "1300&#1;";
  const std::string too_long(2100, '1');
  const std::string lan = "<X><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK>";
  for (auto [path, body] : std::vector<std::pair<std::string, std::string>>{
           {"/lan", lan + "<MTU>" + control + "</MTU></PROTO></X>"},
           {"/lan", lan + "<GATEWAY_ADDR>" + too_long + "</GATEWAY_ADDR></PROTO></X>"},
           {"/lan", lan + "<TYPE>st&#27;atic</TYPE></PROTO></X>"},
           {"/lan", lan + "</PROTO><AC_ADDR>" + control + "</AC_ADDR></X>"},
           {"/wan", "<X><PROTO><TYPE>dhcp</TYPE><MTU>" + control + "</MTU></PROTO></X>"},
           {"/wan",
            "<X><PROTO><TYPE>static</TYPE><IP>10.0.0.2</IP><NETMASK>255.0.0.0</NETMASK>"
            "<MTU>" +
                too_long + "</MTU></PROTO></X>"},
           {"/wan",
            "<X><PROTO><TYPE>pppoe</TYPE><USER_NAME>u&#1;</USER_NAME><PASSWD>p</PASSWD>"
            "</PROTO></X>"},
           {"/wan", "<X><PROTO><TYPE>pppoe</TYPE><USER_NAME>u</USER_NAME><PASSWD>" + too_long +
                        "</PASSWD></PROTO></X>"},
           {"/snmp", "<X><SNMP><RWCOMMUNITY>" + control +
                         "</RWCOMMUNITY><ROCOMMUNITY/>"
                         "<TRAP2SINK>192.168.1.50</TRAP2SINK></SNMP></X>"},
       }) {
    EXPECT_EQ(post(path, body), envelope(3, "FORMAT ERROR")) << path << " " << body;
    EXPECT_TRUE(fake.commands().empty()) << path << " " << body;
  }
  EXPECT_EQ(cfg_get(std::string("network.wan.mtu")), "1500");
}

TEST_F(Network, PostSnmpTakesTheEnterpriseIdAsStartUpDoes) {
  device("4", "HX5-9558-V2");
  EXPECT_EQ(post("/snmp", snmp_body), envelope(0, "OK"));
  EXPECT_EQ(fake.file_text("/var/run/snmpd.conf"),
            snmpd_conf_text("47215", "private", "pub lic", "192.168.1.50"));
}

}  // namespace
