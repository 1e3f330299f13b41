// The "vlan" service: user VLANs, each a switch VLAN section on "switch0"
// (VLAN id, front ports as untagged members), a bridge interface
// "network.vlanN" and the wireless interfaces bridged into it. POST only
// stages and commits; it restarts nothing.
#include "services/network/vlan.h"

#include <bitset>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/startup.h"
#include "platform/effects.h"
#include "services/common/request_body.h"
#include "services/common/sections.h"
#include "services/common/uci_command.h"
#include "services/wireless/wireless.h"
#include "xml/xml.h"

namespace {

constexpr const char* last_switch_vlan = "network.@switch_vlan[-1]";
constexpr int lowest_user_vid = 3;
constexpr int highest_vid = 4094;

struct vlan_board {
  bool family;
  bool kv;  // family board with "KV": its switch sections carry no ports
  bool mt;  // family board with "MT": the trunk is port 4, numbering starts at 1
  bool kv_7100_8100;
};

vlan_board current_board() {
  std::string hardver = board_hardver();
  board_variant variant = board_variant_of(hardver);
  return {board_family(hardver), variant == board_variant::kv, variant == board_variant::mt,
          board_kv_7100_8100(hardver)};
}

// Boards whose first two switch sections are the built-in LAN and WAN maps,
// to be kept when user VLANs go. On the other family boards every switch
// section is a user VLAN.
bool keeps_builtin_maps(const vlan_board& board) {
  return !board.family || board.kv_7100_8100;
}

std::string switch_section(int index) {
  return section_path("network", "switch_vlan", index);
}

// atoi without its undefined overflow: out-of-range numbers clamp.
int number_of(const char* text) {
  long value = std::strtol(text ? text : "", nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int vid_of(const std::string& section) {
  return number_of(cfg_get_cut(section + ".vid", 8).c_str());
}

// Sets the ports of a built-in map (0: LAN, 1: WAN). A section that is
// missing or holds a user VLAN (vid 3 and up) is left alone.
void set_builtin_ports(int index, const std::string& map) {
  std::string section = switch_section(index);
  if (cfg_get(section) != "switch_vlan" || vid_of(section) >= lowest_user_vid) return;
  uci_run("uci set " + section + ".ports='" + map + "'");
}

// ---- GET ----

// The member ports of a port map: the text before "1t", from its first
// blank on, one digit every two characters. A trunk marker such as "4t" is
// no member and is skipped.
std::string port_list(const std::string& map) {
  std::string text = map.substr(0, map.find("1t"));
  size_t blank = text.find(' ');
  if (blank == std::string::npos) return "";
  std::string members;
  for (size_t i = blank + 1; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
       i += 2) {
    if (i + 1 < text.size() && text[i + 1] == 't') {
      ++i;
      continue;
    }
    appendf(members, "<NUM>%c</NUM>", text[i]);
  }
  return members.empty() ? "" : "<PORT>" + members + "</PORT>";
}

std::string ssid_list(int vid) {
  std::string network = "vlan" + std::to_string(vid);
  std::string ids;
  for (int slot = 0; slot < vap_slot_count; ++slot) {
    if (iface_option(slot, "network", 32) == network)
      appendf(ids, "<ID>%s</ID>", xml_escape(iface_option(slot, "id", 4)).c_str());
  }
  return ids.empty() ? "" : "<SSID>" + ids + "</SSID>";
}

// ---- POST ----

// Front ports given to user VLANs by one request, by port number.
struct port_table {
  bool used[8] = {};
};

// Checks every VLAN element, in document order, before anything changes.
// Returns the refusal message, or null when the request is good.
const char* vlan_fault(xml_node* root, bool family, port_table& ports) {
  std::bitset<highest_vid + 1> vid_seen;
  for (xml_node* vlan = xml_child(root, "VLAN"); vlan; vlan = vlan->next) {
    const char* vid_text = child_text(vlan, "VID");
    int vid = vid_text ? number_of(vid_text) : 0;
    if (vid < lowest_user_vid || vid > highest_vid || vid_seen[vid]) return "Invalid vlan id";
    vid_seen[vid] = true;
    xml_node* port = xml_child(vlan, "PORT");
    xml_node* ssid = xml_child(vlan, "SSID");
    if (!port && !ssid) return "Invalid port ssid";
    if (!xml_child(port, "NUM") && !xml_child(ssid, "ID")) return "Invalid num id";
    for (xml_node* num = xml_child(port, "NUM"); num; num = num->next) {
      int n = number_of(num->text);
      if (family ? (n < 0 || n > 3) : (n < 2 || n > 5)) return "Invalid port num";
      if (ports.used[n]) return "Double port num";
      ports.used[n] = true;
    }
  }
  return nullptr;
}

// Removes the user VLANs from the end of the list and moves every VAP bound
// to one back to the LAN. Every VLAN is read before the first delete, so the
// deletes go out together in the request's one store batch.
void remove_user_vlans(const vlan_board& board) {
  std::vector<int> vids;  // from the last section back
  for (int index = section_count("network", "switch_vlan") - 1; index >= 0; --index) {
    int vid = vid_of(switch_section(index));
    if (keeps_builtin_maps(board) && vid < lowest_user_vid) break;
    vids.push_back(vid);
  }
  for (int vid : vids) {
    uci_run(std::string("uci delete ") + last_switch_vlan);
    uci_run("uci delete network.vlan" + std::to_string(vid));
  }
  for (int slot = 0; slot < vap_slot_count; ++slot) {
    if (iface_option(slot, "network", 32).find("vlan") != std::string::npos)
      cfg_set(iface_option_path(slot, "network"), "lan");
  }
}

// The map of a user VLAN's switch section; empty for none (KV boards).
// Built from the validated numbers, never from the request's text.
std::string user_port_map(xml_node* vlan, const vlan_board& board) {
  if (board.kv_7100_8100) return "0t 3t";
  if (board.kv) return "";
  std::string map = "0t ";
  for (xml_node* num = xml_child(xml_child(vlan, "PORT"), "NUM"); num; num = num->next)
    appendf(map, "%d ", number_of(num->text));
  return map + (board.mt ? "4t" : "1t");
}

// Binds each VAP named by an ID to the VLAN; IDs that match none are ignored.
void bind_vaps(xml_node* vlan, int vid) {
  for (xml_node* id = xml_child(xml_child(vlan, "SSID"), "ID"); id; id = id->next) {
    for (int slot = 0; slot < vap_slot_count; ++slot) {
      if (iface_option(slot, "id", 8) != id->text) continue;
      cfg_set(iface_option_path(slot, "network"), "vlan" + std::to_string(vid));
      break;
    }
  }
}

void create_vlan(xml_node* vlan, int index, const vlan_board& board) {
  int vid = number_of(child_text(vlan, "VID"));
  std::string number = std::to_string(vid);
  uci_run("uci add network switch_vlan");
  uci_run("uci set network.@switch_vlan[-1].device=switch0");
  uci_run("uci set network.@switch_vlan[-1].vlan=" + std::to_string(index));
  uci_run("uci set network.@switch_vlan[-1].vid=" + number);
  std::string map = user_port_map(vlan, board);
  if (!map.empty()) uci_run("uci set network.@switch_vlan[-1].ports='" + map + "'");
  std::string interface = "network.vlan" + number;
  uci_run("uci set " + interface + "=interface");
  uci_run("uci set " + interface + ".type=bridge");
  uci_run("uci set " + interface + ".proto=none");
  const char* ethernet = board.family && !board.kv ? "eth1." : "eth0.";
  uci_run("uci set " + interface + ".ifname=" + ethernet + number);
  bind_vaps(vlan, vid);
}

// The built-in LAN and WAN maps after the user VLANs took their ports.
void write_builtin_maps(const vlan_board& board, const port_table& ports) {
  if (board.kv_7100_8100) {
    set_builtin_ports(1, "0t 3");
    set_builtin_ports(0, "0t 2");
    return;
  }
  if (board.family) return;
  set_builtin_ports(1, ports.used[5] ? "0t" : "0t 5");
  std::string lan = "0t ";
  for (int port = 2; port <= 4; ++port) {
    if (!ports.used[port]) appendf(lan, "%d ", port);
  }
  set_builtin_ports(0, lan + "1");
}

}  // namespace

void clear_extra_vlans() {
  vlan_board board = current_board();
  int first = keeps_builtin_maps(board) ? 2 : 0;
  std::string section = switch_section(first);
  // Read first, then delete: each deletion moves the next section into the
  // same place.
  std::vector<std::string> vids;
  int count = section_count("network", "switch_vlan");
  for (int index = first; index < count; ++index) {
    std::string vid = cfg_get_cut(switch_section(index) + ".vid", 16);
    if (vid.empty()) break;
    vids.push_back(vid);
  }
  for (const std::string& vid : vids) {
    uci_run("uci delete " + section);
    uci_run("uci delete network.vlan" + std::to_string(number_of(vid.c_str())));
  }
  // The removed VLANs' ports would otherwise belong to no VLAN at all.
  if (!vids.empty() && !board.family) {
    set_builtin_ports(0, "0t 1 2 3 4");
    set_builtin_ports(1, "0t 5");
  }
}

int vlan_get(int fd, char* /*sub_path*/, size_t /*sub_path_len*/, char* /*rest*/) {
  bool ports_shown = board_variant_of(board_hardver()) != board_variant::kv;
  std::string doc = xml_declaration;
  doc += "<VLAN_CONFIG>";
  for (int n = 0; cfg_get_cut(switch_section(n) + ".device", 128) == "switch0"; ++n) {
    std::string vid = cfg_get_cut(switch_section(n) + ".vid", 8);
    if (number_of(vid.c_str()) < lowest_user_vid) continue;
    appendf(doc, "<VLAN><VID>%s</VID>", xml_escape(vid).c_str());
    if (ports_shown) {
      std::string ports = port_list(cfg_get_cut(switch_section(n) + ".ports", 128));
      std::printf("return len:%d\n", static_cast<int>(ports.size()));
      doc += ports;
    }
    doc += ssid_list(number_of(vid.c_str()));
    doc += "</VLAN>";
  }
  doc += "</VLAN_CONFIG>";
  send_all(fd, doc);
  return 0;
}

int vlan_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  vlan_board board = current_board();
  port_table ports;
  if (const char* fault = vlan_fault(request.root(), board.family, ports))
    return reply_result(fd, FORMAT_ERROR, fault);

  remove_user_vlans(board);
  int index = board.mt ? 1 : 3;
  for (xml_node* vlan = xml_child(request.root(), "VLAN"); vlan; vlan = vlan->next)
    create_vlan(vlan, index++, board);
  write_builtin_maps(board, ports);
  cfg_commit("network");
  cfg_commit("wireless");
  return 0;
}
