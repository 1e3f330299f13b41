// The "mgt" service: remote-management port, WAN MAC clone, samba name,
// bandwidth control (QoS), the automatic reboot, the WAN ping answer, UPnP
// and IGMP proxy, and the VPN pass-through switches.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "platform/shell.h"
#include "services/common/request_body.h"
#include "services/common/sections.h"
#include "services/common/uci_command.h"
#include "services/common/value_shapes.h"
#include "services/network/restart.h"

namespace {

constexpr const char* root_crontab = "/etc/crontabs/root";
// The management forward is the first redirect of the firewall package.
constexpr const char* management_redirect = "firewall.@redirect[0]";

// ---- GET ----

std::string qos_rule(int index) {
  std::string rule = section_path("network", "qos", index);
  std::string text = "<QOS_RULE>";
  if (cfg_get(rule + ".type") != "ip")
    appendf(text, "<TYPE>mac</TYPE><MAC>%s</MAC><RATE><UP>%s</UP><DOWN>%s</DOWN></RATE>",
            stored_text(rule + ".mac").c_str(), stored_text(rule + ".up_limit").c_str(),
            stored_text(rule + ".down_limit").c_str());
  else
    appendf(text,
            "<TYPE>ip</TYPE><IP><SHARE>%s</SHARE><START>%s</START><END>%s</END></IP>"
            "<RATE><UP>%s</UP><DOWN>%s</DOWN></RATE><NOTE>%s</NOTE>",
            stored_text(rule + ".share").c_str(), stored_text(rule + ".start").c_str(),
            stored_text(rule + ".end").c_str(), stored_text(rule + ".up_limit").c_str(),
            stored_text(rule + ".down_limit").c_str(), stored_text(rule + ".note").c_str());
  return text + "</QOS_RULE>";
}

std::string qos_text() {
  std::string text;
  appendf(text, "<QOS><DISABLE>%s</DISABLE><RATE_LIMIT><UP>%s</UP><DOWN>%s</DOWN></RATE_LIMIT>",
          stored_text("network.qos.disable").c_str(), stored_text("network.qos.up_rate").c_str(),
          stored_text("network.qos.down_rate").c_str());
  // The stored count is walked only as far as rules exist.
  int count = std::atoi(cfg_get(std::string("network.qos.rule_num")).c_str());
  int existing = section_count("network", "qos");
  for (int j = 0; j < count && j < existing; ++j) text += qos_rule(j);
  return text + "</QOS>";
}

// "0" when a blocking rule is on (its enabled value starts with "1").
const char* pass_through(const char* rule_enabled) {
  return cfg_get(std::string(rule_enabled)).rfind('1', 0) == 0 ? "0" : "1";
}

const char* script_enabled(const char* link) {
  return fx().exists(link) ? "1" : "0";
}

int get_mgt(int fd) {
  std::string doc = xml_declaration;
  appendf(doc,
          "<MGT><MGT_PORT>%s</MGT_PORT><MAC_CLONE>%s</MAC_CLONE><SMB_NAME>%s</SMB_NAME>%s"
          "<AUTO_REBOOT><DISABLE>%s</DISABLE><TIME>%s</TIME></AUTO_REBOOT>"
          "<WAN><PING>%s</PING><UPNP>%s</UPNP><IGMP>%s</IGMP></WAN>"
          "<VPN><IPSEC>%s</IPSEC><PPTP>%s</PPTP><L2TP>%s</L2TP></VPN></MGT>",
          stored_text("network.mgt.mgt_port").c_str(), stored_text("network.mgt.mac_clone").c_str(),
          stored_text("samba.@samba[0].name").c_str(), qos_text().c_str(),
          cfg_get(std::string("system.@system[0].autorebootenabled")) == "1" ? "0" : "1",
          stored_text("system.@system[0].autoreboottime").c_str(),
          stored_text("firewall.@rule[1].enabled").c_str(),
          script_enabled("/etc/rc.d/S95miniupnpd"), script_enabled("/etc/rc.d/S99mcproxy"),
          pass_through("firewall.@rule[7].enabled"), pass_through("firewall.@rule[6].enabled"),
          pass_through("firewall.@rule[5].enabled"));
  send_all(fd, doc);
  return 0;
}

// ---- POST checks ----

bool all_digits(const char* text, size_t min, size_t max) {
  size_t length = std::strlen(text);
  if (length < min || length > max) return false;
  for (size_t i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// A reboot time the crontab line can hold: the hour of a daily reboot (0 to
// 23) or "day" and a number of days (1 to 99) between reboots.
bool reboot_time_valid(const char* time) {
  if (!time) return false;
  if (std::strncmp(time, "day", 3) == 0)
    return all_digits(time + 3, 1, 2) && std::atoi(time + 3) >= 1;
  return all_digits(time, 1, 2) && std::atoi(time) <= 23;
}

// AUTO_REBOOT needs DISABLE; a TIME must be valid whenever it is given (it
// is stored either way), and switching the reboot on needs one.
bool auto_reboot_valid(xml_node* auto_reboot) {
  if (!auto_reboot) return true;
  const char* disable = child_text(auto_reboot, "DISABLE");
  if (!disable) return false;
  const char* time = child_text(auto_reboot, "TIME");
  if (time) return reboot_time_valid(time);
  return std::atoi(disable) != 0;
}

// The management port goes to the firewall's redirect; empty switches the
// forward off.
bool management_port_valid(const char* port) {
  return !port || !*port || port_number(port);
}

// A rate the QoS script hands to the traffic shaper: a number.
bool rate_valid(const char* rate) {
  return !rate || decimal_number(rate);
}

bool rates_valid(xml_node* rates) {
  return rate_valid(child_text(rates, "UP")) && rate_valid(child_text(rates, "DOWN"));
}

// The QoS script builds shaper and filter commands from the rates, the
// addresses and the MAC of each rule, so each must be one word of its shape.
// NOTE is a description and stays free text.
bool qos_values_valid(xml_node* qos) {
  if (!rates_valid(xml_child(qos, "RATE_LIMIT"))) return false;
  for (xml_node* rule = xml_child(qos, "QOS_RULE"); rule; rule = rule->next) {
    xml_node* ip = xml_child(rule, "IP");
    const char* start = child_text(ip, "START");
    const char* end = child_text(ip, "END");
    const char* mac = child_text(rule, "MAC");
    if ((start && !ipv4_address(start)) || (end && !ipv4_address(end)) ||
        (mac && !mac_address(mac)) || !rates_valid(xml_child(rule, "RATE")))
      return false;
  }
  return true;
}

bool request_valid(xml_node* root) {
  return auto_reboot_valid(xml_child(root, "AUTO_REBOOT")) &&
         management_port_valid(child_text(root, "MGT_PORT")) &&
         qos_values_valid(xml_child(root, "QOS")) && all_texts_stageable(root);
}

bool qos_rule_complete(xml_node* rule) {
  const char* type = child_text(rule, "TYPE");
  xml_node* rate = xml_child(rule, "RATE");
  bool rate_complete = xml_child(rate, "UP") && xml_child(rate, "DOWN");
  if (is_text(type, "ip")) {
    xml_node* ip = xml_child(rule, "IP");
    return rate_complete && xml_child(ip, "SHARE") && xml_child(ip, "START") &&
           xml_child(ip, "END");
  }
  return is_text(type, "mac") && rate_complete && xml_child(rule, "MAC");
}

bool qos_rules_complete(xml_node* qos) {
  for (xml_node* rule = xml_child(qos, "QOS_RULE"); rule; rule = rule->next) {
    if (!qos_rule_complete(rule)) return false;
  }
  return true;
}

// ---- POST application ----

void apply_management_port(const char* port) {
  cfg_set("network.mgt.mgt_port", port);
  // On a store without the management forward the first redirect may be one
  // of the firewall service's forwards, which must not be changed here.
  if (cfg_get(std::string(management_redirect) + ".name").find("PORT-FWD") != std::string::npos)
    return;
  if (*port) cfg_set("firewall.@redirect[0].src_dport", port);
  cfg_set("firewall.@redirect[0].enabled", *port ? "1" : "0");
}

// Removes the rule sections. The settings section "qos" may itself have
// the type qos on some stores; it is never removed.
void remove_qos_rules() {
  delete_last_sections(
      "network", "qos", "uci delete network.@qos[-1]",
      [](const std::string& section) { return cfg_section_name(section) != "qos"; });
}

void add_qos_rule(xml_node* rule) {
  xml_node* rate = xml_child(rule, "RATE");
  uci_run("/sbin/uci add network qos");
  if (is_text(child_text(rule, "TYPE"), "ip")) {
    xml_node* ip = xml_child(rule, "IP");
    uci_run("/sbin/uci set network.@qos[-1].type=ip");
    uci_run(child_text(ip, "SHARE")[0] == '1' ? "/sbin/uci set network.@qos[-1].share=1"
                                              : "/sbin/uci set network.@qos[-1].share=0");
    uci_set_word("network.@qos[-1].start", child_text(ip, "START"));
    uci_set_word("network.@qos[-1].end", child_text(ip, "END"));
    uci_set_word("network.@qos[-1].up_limit", child_text(rate, "UP"));
    uci_set_word("network.@qos[-1].down_limit", child_text(rate, "DOWN"));
    uci_set_word("network.@qos[-1].note", child_text(rule, "NOTE"));
    return;
  }
  uci_run("/sbin/uci set network.@qos[-1].type=mac");
  uci_set_word("network.@qos[-1].mac", child_text(rule, "MAC"));
  uci_set_word("network.@qos[-1].up_limit", child_text(rate, "UP"));
  uci_set_word("network.@qos[-1].down_limit", child_text(rate, "DOWN"));
}

// The rules are replaced only when every new one is complete, so a
// malformed request keeps the user's rules and their count.
void apply_qos(xml_node* qos) {
  if (const char* disable = child_text(qos, "DISABLE")) cfg_set("network.qos.disable", disable);
  xml_node* limit = xml_child(qos, "RATE_LIMIT");
  const char* up = child_text(limit, "UP");
  const char* down = child_text(limit, "DOWN");
  if (!up || !down) return;
  cfg_set("network.qos.up_rate", up);
  cfg_set("network.qos.down_rate", down);
  if (!qos_rules_complete(qos)) return;
  remove_qos_rules();
  int count = 0;
  for (xml_node* rule = xml_child(qos, "QOS_RULE"); rule; rule = rule->next, ++count)
    add_qos_rule(rule);
  uci_run("/sbin/uci set network.qos.rule_num=" + std::to_string(count));
}

// The crontab line of a valid reboot time: "dayN" reboots at midnight every
// N days, an hour reboots every day at that hour.
std::string reboot_line(const char* time) {
  if (std::strncmp(time, "day", 3) == 0)
    return std::string("0 0 */") + (time + 3) + " * * reboot\n";
  return std::string("0 ") + time + " * * * reboot\n";
}

void apply_auto_reboot(xml_node* auto_reboot) {
  const char* time = child_text(auto_reboot, "TIME");
  if (time) cfg_set("system.@system[0].autoreboottime", time);
  if (std::atoi(child_text(auto_reboot, "DISABLE")) != 0) {
    cfg_set("system.@system[0].autorebootenabled", "0");
    fx().run("crontab -r");
  } else {
    cfg_set("system.@system[0].autorebootenabled", "1");
    fx().write_file(root_crontab, reboot_line(time));
  }
  cfg_commit("system");
  fx().run("/etc/init.d/cron restart");
}

void switch_script(const char* script, const char* text) {
  bool on = is_text(text, "1");
  fx().run(std::string("/etc/init.d/") + script + (on ? " enable" : " disable"));
  fx().run(std::string("/etc/init.d/") + script + (on ? " restart" : " stop"));
}

void apply_wan(xml_node* wan) {
  if (const char* igmp = child_text(wan, "IGMP")) switch_script("mcproxy", igmp);
  if (const char* upnp = child_text(wan, "UPNP")) switch_script("miniupnpd", upnp);
  if (const char* ping = child_text(wan, "PING")) cfg_set("firewall.@rule[1].enabled", ping);
}

void apply_vpn(xml_node* vpn) {
  static const char* const switches[][2] = {{"L2TP", "firewall.@rule[5].enabled"},
                                            {"PPTP", "firewall.@rule[6].enabled"},
                                            {"IPSEC", "firewall.@rule[7].enabled"}};
  for (const auto& [element, rule] : switches) {
    // The rules block the protocol, so allowing pass-through turns them off.
    if (const char* text = child_text(vpn, element)) cfg_set(rule, is_text(text, "1") ? "0" : "1");
  }
}

int post_mgt(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* root = request.root();
  if (!request_valid(root)) return reply_code(fd, FORMAT_ERROR);
  xml_node* auto_reboot = xml_child(root, "AUTO_REBOOT");

  if (const char* port = child_text(root, "MGT_PORT")) apply_management_port(port);
  if (const char* mac = child_text(root, "MAC_CLONE")) {
    cfg_set("network.mgt.mac_clone", mac);
    cfg_set("network.wan.macaddr", mac);
  }
  const char* samba_name = child_text(root, "SMB_NAME");
  if (samba_name) cfg_set("samba.@samba[0].name", samba_name);
  if (xml_node* qos = xml_child(root, "QOS")) apply_qos(qos);
  if (auto_reboot) apply_auto_reboot(auto_reboot);
  if (xml_node* wan = xml_child(root, "WAN")) apply_wan(wan);
  if (xml_node* vpn = xml_child(root, "VPN")) apply_vpn(vpn);
  cfg_commit("network");
  cfg_commit("firewall");
  if (samba_name) cfg_commit("samba");
  fx().run("/etc/init.d/network restart");
  firewall_cycle();
  return 0;
}

}  // namespace

int mgt_get(int fd, char* /*sub_path*/, size_t /*sub_path_len*/, char* rest) {
  if (rest) return reply_code(fd, NO_SERVICE);
  return get_mgt(fd);
}

int mgt_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  return post_mgt(fd, body, body_len);
}
