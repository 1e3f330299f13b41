// The "network" service: LAN bridge, WAN connection, SNMP agent settings and
// the ARP table.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/startup.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "services/common/request_body.h"
#include "services/common/uci_command.h"
#include "services/network/network_text.h"
#include "services/network/restart.h"
#include "xml/xml.h"

namespace {

bool has(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

bool valid_netmask(const char* text) {
  return text && *text && netmask_valid(text);
}

bool bridge_mode(int mode) {
  return mode >= 3 && mode <= 5;
}

// A stored value as reply text. Most values are addresses and numbers, but
// several are free text a client posted, so they are escaped.
std::string shown(const char* path) {
  return xml_escape(cfg_get(std::string(path)));
}

// First line a runtime WAN reader printed, as reply text.
std::string read_wan_value(char* (*reader)(char*, size_t)) {
  char value[256] = "";
  reader(value, sizeof value);
  return xml_escape(value);
}

// Live addresses of an interface; fields that cannot be read stay empty.
iface_record live_record(const char* ifname) {
  iface_record record{};
  iface_info(ifname, &record);
  return record;
}

// ---- port status ----

// Sets the port's entry from a carrier file; a file that cannot be read
// leaves it as it was. Returns true when the port is up.
bool read_carrier_port(int port, const char* ifname) {
  std::string carrier;
  if (!fx().read_file(std::string("/sys/class/net/") + ifname + "/carrier", carrier, 128))
    return false;
  worker().port_status[port] = !carrier.empty() && carrier[0] == '1';
  return worker().port_status[port] != 0;
}

// Asks the switch for one port's link. No answer at all counts as down.
bool read_switch_port(int port) {
  std::string command = std::string("/sbin/swconfig dev ") + switch_dev + " port " +
                        std::to_string(port) + " get link";
  std::string line = fx().capture(command, 128);
  line = line.substr(0, line.find('\n'));
  worker().port_status[port] = !line.empty() && !has(line, "down");
  return worker().port_status[port] != 0;
}

// Refreshes the port status table; returns 1 when any port was found up.
int port_status_pass() {
  bool any_up = false;
  switch (board_variant_of(board_hardver())) {
    case board_variant::kv:
      for (int port = 0; port <= 3; ++port) worker().port_status[port] = 0;
      any_up = read_carrier_port(4, "eth1") | any_up;
      any_up = read_carrier_port(5, "eth0") | any_up;
      break;
    case board_variant::mt:
      any_up = read_carrier_port(5, "eth0");
      for (int port = 1; port <= 4; ++port) any_up = read_switch_port(port) | any_up;
      break;
    case board_variant::switched:
      for (int port = 1; port <= 5; ++port) any_up = read_switch_port(port) | any_up;
      break;
  }
  return any_up ? 1 : 0;
}

std::string port_list() {
  std::string text;
  for (int port = 1; port <= 5; ++port)
    appendf(text, "<PORT><NUM>%d</NUM><STATUS>%s</STATUS></PORT>", port,
            worker().port_status[port] ? "up" : "down");
  return text;
}

int uplink_port() {
  if (worker().uplink_port == 0) {
    worker().uplink_port = board_kv_7100_8100(board_hardver()) ? 3 : 5;
  }
  return worker().uplink_port;
}

// Carrier of the station interface that carries the uplink in the bridge
// modes; when both radios are stations the second one decides.
int station_carrier() {
  static const char* const slots[][2] = {{"wireless.@wifi-iface[0].mode", "ath0"},
                                         {"wireless.@wifi-iface[4].mode", "ath1"}};
  int carrier = 0;
  for (const auto& slot : slots) {
    if (cfg_get(std::string(slot[0])) != "sta") continue;
    std::string value;
    fx().read_file(std::string("/sys/class/net/") + slot[1] + "/carrier", value, 16);
    carrier = std::atoi(value.c_str());
  }
  return carrier;
}

int uplink_state(int any_port_up) {
  int port = uplink_port();
  switch (operating_mode()) {
    case 1:
      return worker().port_status[port] && !read_wan_value(read_wan_ipaddr).empty() ? 1 : 0;
    case 2:
      return station_carrier() && !read_wan_value(read_wan_ipaddr).empty() ? 1 : 0;
    case 3:
      return station_carrier();
    case 4:
    case 5:
      return any_port_up;
    default:
      return 0;
  }
}

// ---- GET ----

int get_lan(int fd) {
  int mode = operating_mode();
  iface_record bridge = live_record("br-lan");
  std::string proto = cfg_get(std::string("network.lan.proto"));
  bool live = proto == "dhcp";
  std::string ip = live ? bridge.addr : shown("network.lan.ipaddr");
  std::string netmask = live ? bridge.netmask : shown("network.lan.netmask");
  bool backup_names = mode == 1 || mode == 2;
  std::string gateway = shown(backup_names ? "network.lan.gatewaybak" : "network.lan.gateway");
  std::string dns = shown(backup_names ? "network.lan.dnsbak" : "network.lan.dns");
  int any_up = port_status_pass();

  std::string doc = xml_declaration;
  appendf(doc,
          "<Network><IFNAME>br-lan</IFNAME><PROTO><TYPE>%s</TYPE><MTU>%s</MTU><IP>%s</IP>"
          "<NETMASK>%s</NETMASK><MAC>%s</MAC><GATEWAY_ADDR>%s</GATEWAY_ADDR>",
          xml_escape(proto).c_str(), shown("network.lan.mtu").c_str(), ip.c_str(), netmask.c_str(),
          bridge.hwaddr, gateway.c_str());
  doc += address_list(dns, "DNS_ADDR");
  appendf(doc, "</PROTO><AC_ADDR>%s</AC_ADDR><SWITCH>%s</SWITCH><UPLINK>%d</UPLINK></Network>",
          shown("dhcp.snmpd.ac_addr").c_str(), port_list().c_str(), uplink_state(any_up));
  send_all(fd, doc);
  return 0;
}

int get_snmp(int fd) {
  std::string doc = xml_declaration;
  appendf(doc,
          "<Network><SNMP><RWCOMMUNITY>%s</RWCOMMUNITY><ROCOMMUNITY>%s</ROCOMMUNITY>"
          "<TRAP2SINK>%s</TRAP2SINK></SNMP></Network>",
          shown("dhcp.snmpd.rwcommunity").c_str(), shown("dhcp.snmpd.rocommunity").c_str(),
          shown("dhcp.snmpd.ac_addr").c_str());
  send_all(fd, doc);
  return 0;
}

std::string wan_ifname_now() {
  if (operating_mode() == 2)
    return cfg_get(std::string("wireless.@wifi-iface[0].mode")) == "sta" ? "ath0" : "ath1";
  return cfg_get(std::string("network.wan.ifname"));
}

// PREDNS and the DNS elements of the DHCP and PPPoE documents.
std::string wan_dns_part() {
  bool own_dns = cfg_get(std::string("network.wan.peerdns")) == "0";
  std::string dns = own_dns ? shown("network.wan.dns") : read_wan_value(read_wan_dnsserver);
  std::string text;
  appendf(text, "<PREDNS>%d</PREDNS>", own_dns ? 1 : 0);
  return text + address_list(dns, "DNS");
}

std::string wan_dhcp_document(const std::string& ifname, const iface_record& live) {
  std::string doc = xml_declaration;
  appendf(doc,
          "<NETWORK><IFNAME>%s</IFNAME><PROTO><TYPE>dhcp</TYPE><MTU>%s</MTU><IP>%s</IP>"
          "<NETMASK>%s</NETMASK><MAC>%s</MAC><GATEWAY>%s</GATEWAY><BROADCAST>%s</BROADCAST>",
          xml_escape(ifname).c_str(), shown("network.wan.mtu").c_str(), live.addr, live.netmask,
          live.hwaddr, read_wan_value(read_wan_gateway).c_str(), live.broadcast);
  return doc + wan_dns_part() + "</PROTO></NETWORK>";
}

std::string wan_static_document(const std::string& ifname, const iface_record& live) {
  std::string doc = xml_declaration;
  appendf(doc,
          "<NETWORK><IFNAME>%s</IFNAME><PROTO><TYPE>static</TYPE><MTU>%s</MTU><IP>%s</IP>"
          "<NETMASK>%s</NETMASK><MAC>%s</MAC><GATEWAY>%s</GATEWAY><BROADCAST>%s</BROADCAST>",
          xml_escape(ifname).c_str(), shown("network.wan.mtu").c_str(),
          shown("network.wan.ipaddr").c_str(), shown("network.wan.netmask").c_str(), live.hwaddr,
          shown("network.wan.gateway").c_str(), live.broadcast);
  return doc + address_list(shown("network.wan.dns"), "DNS") + "</PROTO></NETWORK>";
}

std::string wan_pppoe_document(const std::string& ifname, const iface_record& live) {
  std::string doc = xml_declaration;
  appendf(doc,
          "<NETWORK><IFNAME>%s</IFNAME><PROTO><USER_NAME>%s</USER_NAME><PASSWD>%s</PASSWD>"
          "<TYPE>pppoe</TYPE><MTU>%s</MTU><IP>%s</IP><NETMASK>255.255.255.255</NETMASK>"
          "<MAC>%s</MAC><GATEWAY>%s</GATEWAY><BROADCAST>%s</BROADCAST>",
          xml_escape(ifname).c_str(), shown("network.wan.username").c_str(),
          shown("network.wan.password").c_str(), shown("network.wan.mtu").c_str(),
          read_wan_value(read_wan_ipaddr).c_str(), live.hwaddr,
          read_wan_value(read_wan_gateway).c_str(), live.broadcast);
  return doc + wan_dns_part() + "</PROTO></NETWORK>";
}

// An unknown protocol gets no reply at all: the connection is just closed.
int get_wan(int fd) {
  std::string proto = cfg_get(std::string("network.wan.proto"));
  std::string (*document)(const std::string&, const iface_record&) = nullptr;
  if (proto == "dhcp") document = wan_dhcp_document;
  if (proto == "static") document = wan_static_document;
  if (proto == "pppoe") document = wan_pppoe_document;
  if (!document) return 0;
  std::string ifname = wan_ifname_now();
  send_all(fd, document(ifname, live_record(ifname.c_str())));
  return 0;
}

int get_arp(int fd) {
  std::string doc = "<ARP>";
  arp_entry* table = arp_table_read();
  for (const arp_entry* entry = table; entry; entry = entry->next)
    appendf(doc, "<MAC_IP><MAC>%s</MAC><IP>%s</IP></MAC_IP>", entry->hwaddr, entry->ip);
  arp_table_free(table);
  doc += "</ARP>";
  send_all(fd, doc);
  return 0;
}

// ---- POST ----

// Stages each given LAN value (null: leave it alone) and tells whether any
// differed from what the store holds now.
bool lan_apply(const char* proto, const char* ipaddr, const char* netmask, const char* mtu) {
  const char* const paths[] = {"network.lan.proto", "network.lan.ipaddr", "network.lan.netmask",
                               "network.lan.mtu"};
  const char* const values[] = {proto, ipaddr, netmask, mtu};
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    if (!values[i]) continue;
    changed = changed || cfg_get(std::string(paths[i])) != values[i];
    cfg_set(paths[i], values[i]);
  }
  return changed;
}

void restart_after_lan_change() {
  fx().run(">/tmp/dhcp.leases");
  fx().run("/etc/init.d/network restart");
  fx().run("/etc/init.d/dnsmasq restart");
  firewall_cycle();
  fx().run("/sbin/wifi restart");
  fx().run("/etc/init.d/swctrler restart");
  samba_cycle();
}

// LAN addressing of the bridge modes, where the LAN may be a DHCP client.
bool apply_bridge_lan(xml_node* proto, const char* ip, const char* netmask) {
  const char* type = child_text(proto, "TYPE");
  if (!is_text(type, "dhcp")) {
    kill_dhcp_check();
    return lan_apply(type, ip, netmask, child_text(proto, "MTU"));
  }
  std::string address = cfg_get(std::string("network.lan.vantor_ipaddr"));
  if (address.empty()) address = "192.168.188.253";
  return lan_apply("dhcp", address.c_str(), nullptr, nullptr);
}

int post_lan(int fd, char* body, size_t body_len) {
  int mode = operating_mode();
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* proto = xml_child(request.root(), "PROTO");
  if (!proto) return reply_result(fd, FORMAT_ERROR, "PROTO NOT FOUND");
  const char* ip = child_text(proto, "IP");
  if (!ip) return reply_result(fd, FORMAT_ERROR, "IP NOT FOUND");
  const char* netmask = child_text(proto, "NETMASK");
  if (!netmask) return reply_result(fd, FORMAT_ERROR, "NETMASK NOT FOUND");
  // Checked before anything is staged: a refused request must leave nothing
  // behind for the next commit of the package to pick up.
  if (!valid_address(ip) || !valid_netmask(netmask))
    return reply_result(fd, FORMAT_ERROR, "Invalid network address");
  if (!all_stageable({child_text(proto, "GATEWAY_ADDR"), child_text(proto, "TYPE"),
                      child_text(proto, "MTU"), child_text(request.root(), "AC_ADDR")}))
    return reply_code(fd, FORMAT_ERROR);

  bool bridge = bridge_mode(mode);
  if (const char* gateway = child_text(proto, "GATEWAY_ADDR"))
    cfg_set(bridge ? "network.lan.gateway" : "network.lan.gatewaybak", gateway);
  uci_run("uci del network.lan.dns");
  uci_run("uci del network.lan.dnsbak");
  for (xml_node* dns = xml_child(proto, "DNS_ADDR"); dns; dns = dns->next) {
    if (valid_address(dns->text))
      cfg_add_list(bridge ? "network.lan.dns" : "network.lan.dnsbak", dns->text);
  }

  bool changed;
  if (mode == 4 || mode == 5) {
    changed = apply_bridge_lan(proto, ip, netmask);
    if (const char* ac_addr = child_text(request.root(), "AC_ADDR")) {
      cfg_set("dhcp.snmpd.ac_addr", ac_addr);
      snmpd_conf_write();
    }
  } else {
    changed = lan_apply("static", ip, netmask, child_text(proto, "MTU"));
  }
  cfg_commit("network");
  cfg_commit("dhcp");

  if (worker().mode_switch_state != 0) return 0;
  if (is_text(child_text(request.root(), "ACTIVE"), "1")) {
    if (changed) worker().lan_restart_pending = true;
    return 0;
  }
  restart_after_lan_change();
  return 0;
}

// ---- POST /wan ----

constexpr const char* wan_cleared_options[] = {
    "network.wan.netmask", "network.wan.broadcast", "network.wan.ipaddr",  "network.wan.gateway",
    "network.wan.ipaddr",  "network.wan.dns",       "network.wan.peerdns", "network.wan.peerdns"};

void clear_options(const char* const* paths, size_t count) {
  for (size_t i = 0; i < count; ++i) cfg_set(paths[i], "");
}

// Leaves network.wan.dns empty whether it was a list or an option.
void clear_wan_dns() {
  cfg_set("network.wan.dns", "empty");
  cfg_set("network.wan.dns", "");
}

void commit_wan_and_restart(bool kill_check, bool dns_to_lan) {
  cfg_commit("network");
  cfg_commit("dhcp");
  if (worker().mode_switch_state != 0) return;
  if (kill_check) kill_dhcp_check();
  fx().run("/etc/init.d/network restart");
  if (dns_to_lan) fx().run("/etc/init.d/dnsmasq restart");
}

int post_wan_static(int fd, xml_node* proto, bool dns_to_lan) {
  const char* ip = child_text(proto, "IP");
  const char* netmask = child_text(proto, "NETMASK");
  if (!valid_address(ip) || !valid_netmask(netmask))
    return reply_result(fd, FORMAT_ERROR, "Invalid ip addr or netmask addr");
  std::string dns_text;
  std::string lan_option = "6";
  for (xml_node* dns = xml_child(proto, "DNS"); dns; dns = dns->next) {
    if (!*dns->text) continue;
    if (!valid_address(dns->text)) return reply_result(fd, FORMAT_ERROR, "Invalid dns ip address");
    dns_text += std::string(dns_text.empty() ? "" : " ") + dns->text;
    lan_option += std::string(",") + dns->text;
  }
  const char* gateway = child_text(proto, "GATEWAY");
  if (gateway && *gateway && !valid_address(gateway))
    return reply_result(fd, FORMAT_ERROR, "Invalid gateway ip address");

  cfg_set("network.wan.proto", "static");
  cfg_set("network.wan.ipaddr", ip);
  cfg_set("network.wan.netmask", netmask);
  cfg_set("network.wan.peerdns", "");
  if (const char* mtu = child_text(proto, "MTU")) cfg_set("network.wan.mtu", mtu);
  cfg_set("network.wan.gateway", gateway ? gateway : "");
  cfg_delete("dhcp.lan.dhcp_option");
  if (!dns_text.empty()) {
    cfg_set("network.wan.dns", dns_text);
    if (dns_to_lan) cfg_add_list("dhcp.lan.dhcp_option", lan_option);
  } else {
    clear_wan_dns();
  }
  cfg_set("network.wan.username", "");
  cfg_set("network.wan.password", "");
  commit_wan_and_restart(true, dns_to_lan);
  return 0;
}

// The user's own DNS servers for a DHCP or PPPoE WAN (PREDNS with IP
// children). Empty entries are skipped; anything else must be an address.
bool own_dns_valid(xml_node* proto) {
  for (xml_node* ip = xml_child(xml_child(proto, "PREDNS"), "IP"); ip; ip = ip->next) {
    if (*ip->text && !valid_address(ip->text)) return false;
  }
  return true;
}

void stage_own_dns(xml_node* proto, bool dns_to_lan) {
  xml_node* predns = xml_child(proto, "PREDNS");
  if (!predns) return;
  std::string lan_option = "6";
  for (xml_node* ip = xml_child(predns, "IP"); ip; ip = ip->next) {
    if (!*ip->text) continue;
    uci_run("uci add_list network.wan.dns=" + shell_quote(ip->text));
    lan_option += std::string(",") + ip->text;
  }
  // An option 6 without servers would make the DHCP server refuse its
  // configuration, so it is only added when it names at least one.
  if (dns_to_lan && lan_option != "6") cfg_add_list("dhcp.lan.dhcp_option", lan_option);
  cfg_set("network.wan.peerdns", "0");
}

// The common end of a PPPoE or DHCP WAN change: drop the static settings and
// DNS servers, stage the user's own servers, commit and restart.
int finish_dynamic_wan(xml_node* proto, bool dns_to_lan) {
  clear_options(wan_cleared_options, std::size(wan_cleared_options));
  clear_wan_dns();
  cfg_delete("dhcp.lan.dhcp_option");
  stage_own_dns(proto, dns_to_lan);
  commit_wan_and_restart(false, dns_to_lan);
  return 0;
}

int post_wan_pppoe(int fd, xml_node* proto, bool dns_to_lan) {
  const char* user = child_text(proto, "USER_NAME");
  const char* password = child_text(proto, "PASSWD");
  if (!user || !password) return reply_result(fd, FORMAT_ERROR, "Invalid user name or passwd");
  if (!all_stageable({user, password})) return reply_code(fd, FORMAT_ERROR);
  if (!own_dns_valid(proto)) return reply_result(fd, FORMAT_ERROR, "Invalid dns ip address");
  if (const char* mtu = child_text(proto, "MTU")) cfg_set("network.wan.mtu", mtu);
  cfg_set("network.wan.proto", "pppoe");
  cfg_set("network.wan.username", user);
  cfg_set("network.wan.password", password);
  return finish_dynamic_wan(proto, dns_to_lan);
}

int post_wan_dhcp(int fd, xml_node* proto, bool dns_to_lan) {
  if (!own_dns_valid(proto)) return reply_result(fd, FORMAT_ERROR, "Invalid dns ip address");
  cfg_set("network.wan.proto", "dhcp");
  if (const char* mtu = child_text(proto, "MTU")) cfg_set("network.wan.mtu", mtu);
  cfg_set("network.wan.username", "");
  cfg_set("network.wan.password", "");
  return finish_dynamic_wan(proto, dns_to_lan);
}

int post_wan(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  xml_node* proto = request.ok() ? xml_child(request.root(), "PROTO") : nullptr;
  const char* type = child_text(proto, "TYPE");
  if (!type || !all_stageable({child_text(proto, "MTU")})) return reply_code(fd, FORMAT_ERROR);
  // Whether the LAN's DHCP server hands out the WAN's DNS servers (option 6).
  bool dns_to_lan = cfg_flag("ver_config.dns.wantolan");
  if (std::strcmp(type, "static") == 0) return post_wan_static(fd, proto, dns_to_lan);
  if (std::strcmp(type, "pppoe") == 0) return post_wan_pppoe(fd, proto, dns_to_lan);
  if (std::strcmp(type, "dhcp") == 0) return post_wan_dhcp(fd, proto, dns_to_lan);
  return reply_result(fd, NOT_SUPPORT_OPERATE, "Invalid proto type");
}

// ---- POST /snmp ----

int post_snmp(int fd, char* body, size_t body_len) {
  int mode = operating_mode();
  if (mode != 4 && mode != 5)
    return reply_result(fd, NOT_SUPPORT_OPERATE, "Not support snmp in current mode");
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* snmp = xml_child(request.root(), "SNMP");
  if (!snmp) return reply_result(fd, FORMAT_ERROR, "SNMP NOT FOUND");
  const char* rw = child_text(snmp, "RWCOMMUNITY");
  if (!rw) return reply_result(fd, FORMAT_ERROR, "RWCOMMUNITY NOT FOUND");
  const char* ro = child_text(snmp, "ROCOMMUNITY");
  if (!ro) return reply_result(fd, FORMAT_ERROR, "ROCOMMUNITY NOT FOUND");
  const char* sink = child_text(snmp, "TRAP2SINK");
  if (!sink) return reply_result(fd, FORMAT_ERROR, "TRAP2SINK NOT FOUND");
  if (!valid_address(sink)) return reply_result(fd, FORMAT_ERROR, "Invalid snmp trap address");
  if (!all_stageable({rw, ro})) return reply_code(fd, FORMAT_ERROR);

  cfg_set("dhcp.snmpd.rwcommunity", rw);
  cfg_set("dhcp.snmpd.rocommunity", ro);
  cfg_set("dhcp.snmpd.ac_addr", sink);
  cfg_commit("dhcp");
  snmpd_conf_install(snmp_enterprise_id(), rw, ro, sink);
  return 0;
}

}  // namespace

int network_get(int fd, char* sub_path, size_t sub_path_len, char* /*rest*/) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string();
  if (path == "/lan") return get_lan(fd);
  if (path == "/snmp") return get_snmp(fd);
  if (path == "/wan") return get_wan(fd);
  if (path == "/arp") return get_arp(fd);
  return reply_code(fd, NO_SERVICE);
}

// The sub-path selects a handler when it is a leading part of its name, so
// "/la" and "/" both mean "/lan".
int network_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (!sub_path) return reply_code(fd, NO_SERVICE);
  size_t length = static_cast<size_t>(body - sub_path);
  if (leading_part_of(sub_path, length, "/lan")) return post_lan(fd, body, body_len);
  if (leading_part_of(sub_path, length, "/snmp")) return post_snmp(fd, body, body_len);
  if (leading_part_of(sub_path, length, "/wan")) return post_wan(fd, body, body_len);
  return reply_code(fd, NO_SERVICE);
}
