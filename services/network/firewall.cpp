// The "firewall" service: the LAN-to-WAN access filter (by IP or IP range,
// port, MAC, URL text, or combined IP/port/protocol entries), port forwarding
// and the DMZ host, kept as the agent's own sections at the end of the
// firewall package's lists, and URL lines in /etc/firewall.user.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

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

constexpr const char* user_script = "/etc/firewall.user";
constexpr const char* lan_address_reader =
    "ifconfig br-lan | grep -i \"addr:\" | cut -f2 -d: | cut -f1 -d \" \"";

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// ---- GET ----

// One agent filter rule as document text; empty for a rule with no item.
std::string filter_item(const std::string& rule) {
  std::string src_ip = stored_text(rule + ".src_ip", 64);
  std::string dest_port = stored_text(rule + ".dest_port", 64);
  std::string src_mac = stored_text(rule + ".src_mac", 64);
  std::string extra = utf8_cut(cfg_get(rule + ".extra"), 127);
  std::string item;
  if (!src_ip.empty()) appendf(item, "<IP>%s</IP>", src_ip.c_str());
  if (!dest_port.empty()) appendf(item, "<PORT>%s</PORT>", dest_port.c_str());
  if (!src_mac.empty()) appendf(item, "<MAC>%s</MAC>", src_mac.c_str());
  std::string range;
  size_t at = extra.find("--src-range");
  if (at != std::string::npos) range = extra.substr(at + std::strlen("--src-range"), 63);
  if (!range.empty()) appendf(item, "<IP>%s</IP>", xml_escape(range).c_str());
  if ((range.empty() && src_ip.empty()) || dest_port.empty()) return item;
  std::string proto = stored_text(rule + ".proto", 64);
  std::string combined;
  appendf(combined, "<IPCOM>%s<PROTO>%s</PROTO></IPCOM>", item.c_str(),
          proto.empty() ? "tcp+udp" : proto.c_str());
  return combined;
}

void append_forwards(std::string& doc) {
  for (int n = 0; cfg_get(section_path("firewall", "redirect", n)) == "redirect"; ++n) {
    std::string redirect = section_path("firewall", "redirect", n);
    std::string name = utf8_cut(cfg_get(redirect + ".name"), 63);
    if (name == "PORT-FWD-DNAT-WAN")
      appendf(doc,
              "<PORT_FORWARD><SRC_PORT>%s</SRC_PORT><DEST_IP>%s</DEST_IP><DEST_PORT>%s</DEST_PORT>"
              "</PORT_FORWARD>",
              stored_text(redirect + ".src_dport", 32).c_str(),
              stored_text(redirect + ".dest_ip", 64).c_str(),
              stored_text(redirect + ".dest_port").c_str());
    if (name == "PORT-FWD-DMZ")
      appendf(doc, "<DMZ><IP>%s</IP></DMZ>", stored_text(redirect + ".dest_ip", 64).c_str());
  }
}

int get_firewall(int fd) {
  std::string doc = xml_declaration;
  appendf(doc, "<FIREWALL><FILTER><MODE>%s</MODE>",
          stored_text("firewall.@mode[0].mode", 64).c_str());
  for (int n = 0; cfg_get(section_path("firewall", "rule", n)) == "rule"; ++n) {
    std::string rule = section_path("firewall", "rule", n);
    if (cfg_get(rule + ".name").empty()) doc += filter_item(rule);
  }
  for (int n = 0; cfg_get(section_path("firewall", "url", n)) == "url"; ++n)
    appendf(doc, "<URL>%s</URL>",
            stored_text(section_path("firewall", "url", n) + ".url", 256).c_str());
  doc += "</FILTER>";
  append_forwards(doc);
  doc += "</FIREWALL>";
  send_all(fd, doc);
  return 0;
}

// ---- POST checks ----

// The filter's texts become words of firewall options (src_ip, dest_port,
// src_mac and proto are lists of blank-separated words, and a range goes to
// iptables word by word), so each must have its one shape.

// A port, or a range of ports such as "8000-8010".
bool port_valid(const char* text) {
  return text && port_or_range(text);
}

// An address, or a range: two addresses joined by one '-'.
bool filter_ip_valid(std::string_view text) {
  return ipv4_address(text) || ipv4_range(text);
}

bool filter_proto_valid(std::string_view text) {
  return text == "tcp+udp" || protocol_word(text);
}

// True when every child called name has a text of the shape valid accepts.
bool children_valid(xml_node* parent, const char* name, bool (*valid)(std::string_view)) {
  for (xml_node* child = xml_child(parent, name); child; child = child->next) {
    if (!valid(child->text)) return false;
  }
  return true;
}

bool combined_entries_valid(xml_node* filter) {
  for (xml_node* combined = xml_child(filter, "IPCOM"); combined; combined = combined->next) {
    if (!children_valid(combined, "IP", filter_ip_valid) ||
        !children_valid(combined, "PORT", port_or_range) ||
        !children_valid(combined, "PROTO", filter_proto_valid))
      return false;
  }
  return true;
}

bool filter_valid(xml_node* filter) {
  const char* mode = child_text(filter, "MODE");
  if (!mode || (std::strcmp(mode, "disable") != 0 && std::strcmp(mode, "allow") != 0)) return false;
  if (!children_valid(filter, "IP", filter_ip_valid) ||
      !children_valid(filter, "PORT", port_or_range) ||
      !children_valid(filter, "MAC", mac_address) || !combined_entries_valid(filter))
    return false;
  // A URL becomes one line of a shell script that the firewall runs at every
  // start, so it must not be able to end that line.
  for (xml_node* url = xml_child(filter, "URL"); url; url = url->next) {
    if (std::strpbrk(url->text, "\r\n")) return false;
  }
  return true;
}

bool forwards_valid(xml_node* root) {
  for (xml_node* forward = xml_child(root, "PORT_FORWARD"); forward; forward = forward->next) {
    if (!port_valid(child_text(forward, "SRC_PORT")) ||
        !port_valid(child_text(forward, "DEST_PORT")) ||
        !valid_address(child_text(forward, "DEST_IP")))
      return false;
  }
  return true;
}

bool request_valid(xml_node* root) {
  xml_node* dmz = xml_child(root, "DMZ");
  const char* dmz_ip = child_text(dmz, "IP");
  if (dmz_ip && !valid_address(dmz_ip)) return false;
  xml_node* filter = xml_child(root, "FILTER");
  if (filter && !filter_valid(filter)) return false;
  return forwards_valid(root) && all_texts_stageable(root);
}

// ---- POST removal ----

void remove_agent_redirects() {
  bool old_flow = false;  // the walk stopped at a redirect without a name
  delete_last_sections("firewall", "redirect", "/sbin/uci del firewall.@redirect[-1]",
                       [&old_flow](const std::string& section) {
                         std::string name = cfg_get(section + ".name");
                         old_flow = name.empty();
                         return contains(name, "PORT-FWD");
                       });
  // The deletes go first, as one batch; then the old firewall's marker.
  if (old_flow)
    fx().run("echo This is fw old flow,need restore default setting > /var/run/firewall");
}

void remove_agent_configuration() {
  remove_agent_redirects();
  delete_last_sections("firewall", "url", "/sbin/uci del firewall.@url[-1]",
                       [](const std::string&) { return true; });
  delete_last_sections(
      "firewall", "rule", "/sbin/uci del firewall.@rule[-1]",
      [](const std::string& section) { return cfg_get(section + ".name").empty(); });
  fx().write_file(user_script, "");
  cfg_set("firewall.@mode[0].mode", "");
}

// ---- POST application ----

void add_dmz(xml_node* root) {
  const char* ip = child_text(xml_child(root, "DMZ"), "IP");
  if (!valid_address(ip)) return;
  uci_run("/sbin/uci add firewall redirect");
  uci_run("/sbin/uci set firewall.@redirect[-1].src=wan");
  uci_run("/sbin/uci set firewall.@redirect[-1].proto=all");
  uci_run("/sbin/uci set firewall.@redirect[-1].name=PORT-FWD-DMZ");
  uci_set_word("firewall.@redirect[-1].dest_ip", ip);
}

// First line of a reader's output without its line feed and surrounding
// blanks, so that an interface without an address reads as empty.
std::string trimmed(std::string text) {
  text = text.substr(0, text.find('\n'));
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

struct live_addresses {
  std::string wan;
  std::string lan;
  std::string enabled;
};

live_addresses read_live_addresses() {
  char wan[32] = "";
  read_wan_ipaddr(wan, sizeof wan);
  live_addresses live{trimmed(wan), trimmed(fx().capture(lan_address_reader, 31)), "0"};
  if (!live.wan.empty() && !live.lan.empty()) live.enabled = "1";
  return live;
}

void add_forward_part(xml_node* forward, const char* role, const char* name,
                      const std::string& src_dip, const std::string& enabled) {
  uci_run("/sbin/uci add firewall redirect");
  uci_run(std::string("/sbin/uci set firewall.@redirect[-1].target=") +
          (std::strcmp(role, "snat") == 0 ? "SNAT" : "DNAT"));
  uci_run("/sbin/uci set firewall.@redirect[-1].proto='tcp udp'");
  if (std::strcmp(role, "snat") == 0)
    uci_run("/sbin/uci set firewall.@redirect[-1].dest=lan");
  else
    uci_run(std::string("/sbin/uci set firewall.@redirect[-1].src=") + role);
  uci_run(std::string("/sbin/uci set firewall.@redirect[-1].name=") + name);
  uci_set_word("firewall.@redirect[-1].dest_ip", child_text(forward, "DEST_IP"));
  uci_set_word("firewall.@redirect[-1].dest_port", child_text(forward, "DEST_PORT"));
  if (std::strcmp(role, "snat") != 0)
    uci_set_word("firewall.@redirect[-1].src_dport", child_text(forward, "SRC_PORT"));
  uci_set_word("firewall.@redirect[-1].src_dip", src_dip);
  uci_set_word("firewall.@redirect[-1].enabled", enabled);
}

void add_forwards(xml_node* root, const live_addresses& live) {
  for (xml_node* forward = xml_child(root, "PORT_FORWARD"); forward; forward = forward->next) {
    add_forward_part(forward, "snat", "PORT-FWD-SNAT", live.lan, live.enabled);
    add_forward_part(forward, "lan", "PORT-FWD-DNAT-LAN", live.wan, live.enabled);
    add_forward_part(forward, "wan", "PORT-FWD-DNAT-WAN", live.wan, live.enabled);
  }
}

struct filter_target {
  const char* command;  // sets the last rule's target
  const char* word;     // target of the URL lines
};

void new_rule() {
  uci_run("/sbin/uci add firewall rule");
  uci_run("/sbin/uci set  firewall.@rule[-1].src=lan");
  uci_run("/sbin/uci set  firewall.@rule[-1].dest=wan");
}

// An IP text with "-" is a range (checked: two addresses), matched through
// the iprange module.
void set_rule_ip(const char* ip) {
  if (std::strchr(ip, '-'))
    uci_run(std::string("/sbin/uci set firewall.@rule[-1].extra=\"-m iprange --src-range ") +
            shell_dquote_escape(ip) + "\"");
  else
    uci_set_word("firewall.@rule[-1].src_ip", ip);
}

void add_single_rules(xml_node* filter, const char* element, const char* option,
                      const filter_target& target) {
  for (xml_node* entry = xml_child(filter, element); entry; entry = entry->next) {
    new_rule();
    if (option)
      uci_set_word(option, entry->text);
    else
      set_rule_ip(entry->text);
    uci_run(target.command);
  }
}

// The line that makes the firewall match a URL text. The text stays inside
// double quotes when the script runs, so it is escaped for them.
std::string url_line(const char* url, const filter_target& target) {
  return "iptables -I FORWARD -p all -m string --string \"" + shell_dquote_escape(url) +
         "\" --algo kmp -j " + target.word + "\n";
}

void add_urls(xml_node* filter, const filter_target& target) {
  std::string script;
  for (xml_node* url = xml_child(filter, "URL"); url; url = url->next) {
    uci_run("/sbin/uci add firewall url");
    uci_set_word("firewall.@url[-1].url", url->text);
    script += url_line(url->text, target);
  }
  if (!script.empty()) fx().write_file(user_script, script);
}

void add_combined_rules(xml_node* filter, const filter_target& target) {
  for (xml_node* combined = xml_child(filter, "IPCOM"); combined; combined = combined->next) {
    new_rule();
    for (xml_node* ip = xml_child(combined, "IP"); ip; ip = ip->next) set_rule_ip(ip->text);
    for (xml_node* port = xml_child(combined, "PORT"); port; port = port->next)
      uci_set_word("firewall.@rule[-1].dest_port", port->text);
    for (xml_node* proto = xml_child(combined, "PROTO"); proto; proto = proto->next) {
      if (std::strcmp(proto->text, "tcp+udp") != 0)
        uci_set_word("firewall.@rule[-1].proto", proto->text);
    }
    uci_run(target.command);
  }
}

void apply_filter(xml_node* filter) {
  const char* mode = child_text(filter, "MODE");
  cfg_set("firewall.@mode[0].mode", mode);
  bool allow = std::strcmp(mode, "disable") != 0;
  filter_target target =
      allow ? filter_target{"/sbin/uci set  firewall.@rule[-1].target=ACCEPT", "ACCEPT"}
            : filter_target{"/sbin/uci set  firewall.@rule[-1].target=REJECT", "REJECT"};
  add_single_rules(filter, "IP", nullptr, target);
  add_single_rules(filter, "PORT", "firewall.@rule[-1].dest_port", target);
  add_single_rules(filter, "MAC", "firewall.@rule[-1].src_mac", target);
  add_urls(filter, target);
  add_combined_rules(filter, target);
  if (!allow) return;
  new_rule();
  uci_run("/sbin/uci set firewall.@rule[-1].target=REJECT");
}

int post_firewall(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  if (!request.ok() || !request_valid(request.root())) return reply_code(fd, FORMAT_ERROR);
  xml_node* root = request.root();
  remove_agent_configuration();
  add_dmz(root);
  add_forwards(root, read_live_addresses());
  if (xml_node* filter = xml_child(root, "FILTER")) apply_filter(filter);
  cfg_commit("firewall");
  firewall_cycle();
  return 0;
}

}  // namespace

int firewall_get(int fd, char* /*sub_path*/, size_t /*sub_path_len*/, char* /*rest*/) {
  return get_firewall(fd);
}

int firewall_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  return post_firewall(fd, body, body_len);
}
