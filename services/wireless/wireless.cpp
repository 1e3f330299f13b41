// The "wireless" service: its sub-path tables, the board and radio
// predicates the wireless units share, and the radio configuration (GET and
// POST /config).
#include "services/wireless/wireless.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"
#include "services/common/uci_command.h"
#include "services/network/restart.h"

// ---- slots and predicates ----

char* iface_option_path(int slot, char* buffer, const char* option) {
  std::snprintf(buffer, iface_path_size, "wireless.@wifi-iface[%d].%s", slot, option);
  return buffer;
}

std::string iface_option_path(int slot, const char* option) {
  char path[iface_path_size];
  return iface_option_path(slot, path, option);
}

std::string iface_option(int slot, const char* option, size_t size) {
  return cfg_get_cut(iface_option_path(slot, option), size);
}

std::string radio_option_path(int radio, const char* option) {
  return std::string(radio == 0 ? "wireless.wifi0." : "wireless.wifi1.") + option;
}

namespace {

// A system option read as the board predicates read it (31 characters).
std::string board_option(const char* path) {
  char value[32];
  return cfg_get(path, value, sizeof value);
}

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

bool board_single5g() {
  return contains(board_option("system.@system[0].submode"), "SINGLE5G");
}

bool board_single24g() {
  std::string hardver = board_option("system.@system[0].hardver");
  return (contains(hardver, "9531") || contains(hardver, "9341")) &&
         !contains(board_option("system.@system[0].submode"), "DUAL");
}

int radio_switched_off(int slot) {
  if (cfg_flag("system.@system[0].touch_btn")) {
    std::string state;
    if (!fx().read_file("/tmp/led-switch", state, 255)) return 1;
    state = state.substr(0, state.find('\n'));
    return contains(state, "up") ? 0 : 1;
  }
  std::string disabled = cfg_get_cut(radio_option_path(radio_of_slot(slot), "disabled"), 64);
  return !disabled.empty() && disabled[0] == '1' ? 1 : 0;
}

int wireless_refuse(int fd) {
  uci_run("/sbin/uci revert system");
  uci_run("/sbin/uci revert wireless");
  uci_run("/sbin/uci revert network");
  uci_run("/sbin/uci revert dhcp");
  return reply_code(fd, FORMAT_ERROR);
}

// ---- GET /config ----

namespace {

// A radio option as the radio document shows it (31 characters).
std::string radio_value(int radio, const char* option, size_t size = 32) {
  return cfg_get_cut(radio_option_path(radio, option), size);
}

// The radio's address text, read once the file can be read and kept for the
// worker's life: the file's first line (31 characters at most, line feed
// kept) in upper case.
const char* radio_mac(int radio) {
  char* cached = worker().radio_mac[radio];
  if (*cached) return cached;
  std::string line;
  if (!fx().read_file(radio == 0 ? "/sys/class/net/wifi0/address" : "/sys/class/net/wifi1/address",
                      line, 31))
    return cached;
  size_t line_end = line.find('\n');
  if (line_end != std::string::npos) line.resize(line_end + 1);
  for (size_t i = 0; i < line.size(); ++i)
    cached[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
  cached[line.size()] = '\0';
  return cached;
}

std::string disable_text(int radio) {
  return radio_switched_off(main_slot(radio)) ? "1" : "0";
}

// The stored HT mode when coexistence is switched off, else "AUTO".
std::string htmode_text(int radio) {
  if (iface_option(main_slot(radio), "disablecoext", 4) != "1") return "AUTO";
  return radio_value(radio, "htmode");
}

// The radio stores dfs_off; the document shows its inverse in the first
// character and keeps the rest.
std::string dfs_text() {
  std::string value = radio_value(1, "dfs_off", 4);
  if (value.empty()) return "0";
  value[0] = value[0] == '1' ? '0' : '1';
  return value;
}

struct wds_field {
  const char* element;
  const char* option;
  const char* fallback;
  size_t size;  // read size (keys and comments are shown whole, up to 63)
  bool posted;  // set from the request (or reset to the fallback) in WDS mode
  bool capped;  // a longer request text is refused (max_key_length)
};
constexpr wds_field wds_fields[] = {
    {"WDSMODE", "nawds_mode", "0", 32, false, false},
    {"ENCMODE", "wdsenc", "0", 32, true, false},
    {"KEY1", "key1", "", 64, true, true},
    {"KEY2", "key2", "", 64, true, true},
    {"KEY3", "key3", "", 64, true, true},
    {"KEY4", "key4", "", 64, true, true},
    {"KEYIDX", "keyindex", "1", 32, true, false},
    {"COMMENT1", "comment1", "", 64, false, true},
    {"COMMENT2", "comment2", "", 64, false, true},
    {"COMMENT3", "comment3", "", 64, false, true},
    {"COMMENT4", "comment4", "", 64, false, true},
};
constexpr size_t wds_peer_count = 4;
// Longest WDS key or comment: what the documents show.
constexpr size_t max_key_length = 63;
constexpr size_t mac_text_length = 17;

std::string wds_block(int radio) {
  int slot = main_slot(radio);
  std::string block = "<WDS>";
  for (const wds_field& field : wds_fields) {
    std::string value = iface_option(slot, field.option, field.size);
    if (value.empty()) value = field.fallback;
    appendf(block, "<%s>%s</%s>", field.element, xml_escape(value).c_str(), field.element);
  }
  // Items of any other length than an address are skipped.
  std::string peers = iface_option(slot, "nawds_add_repeater", 128);
  size_t shown_peers = 0;
  for (size_t start = 0; start < peers.size() && shown_peers < wds_peer_count;) {
    size_t end = std::min(peers.find(' ', start), peers.size());
    if (end - start == mac_text_length) {
      ++shown_peers;
      appendf(block, "<MAC%zu>%s</MAC%zu>", shown_peers,
              xml_escape(peers.substr(start, end - start)).c_str(), shown_peers);
    }
    start = end + 1;
  }
  for (size_t n = shown_peers + 1; n <= wds_peer_count; ++n)
    appendf(block, "<MAC%zu></MAC%zu>", n, n);
  return block + "</WDS>";
}

std::string config_element(int radio, const std::string& onekey) {
  int slot = main_slot(radio);
  auto radio_text = [radio](const char* option) { return xml_escape(radio_value(radio, option)); };
  auto slot_text = [slot](const char* option) {
    return xml_escape(iface_option(slot, option, 32));
  };
  std::string element;
  appendf(element,
          "<CONFIG><BAND>%s</BAND><MAC>%s</MAC><DISABLE>%s</DISABLE><BASE><CHANNEL>%s</CHANNEL>"
          "<TXPOWER>%s</TXPOWER></BASE><ADVANCE><MODE>%s</MODE><HTMODE>%s</HTMODE>"
          "<COUNTRY>%s</COUNTRY><RSSI_THRES>%s</RSSI_THRES><AMPDU>%s</AMPDU>"
          "<ACKTIMEOUT>%s</ACKTIMEOUT><DISTANCE>%s</DISTANCE><BINTVAL>%s</BINTVAL>"
          "<SHORTGI>%s</SHORTGI><ISOLATE>%s</ISOLATE><FRAG>%s</FRAG><RTS>%s</RTS>"
          "<MAXSTA>%s</MAXSTA><LEDSTATUS>%s</LEDSTATUS><DFS_ENABLED>%s</DFS_ENABLED>"
          "<WDSONEKEY>%s</WDSONEKEY><CCA_STEP>%s</CCA_STEP></ADVANCE>%s</CONFIG>",
          radio == 0 ? "2G" : "5G", xml_escape(radio_mac(radio)).c_str(),
          disable_text(radio).c_str(), radio_text("channel").c_str(), radio_text("txpower").c_str(),
          radio_text("hwmode").c_str(), xml_escape(htmode_text(radio)).c_str(),
          radio_text("country").c_str(), radio_text("rssi_thres").c_str(),
          radio_text("AMPDU").c_str(), radio_text("acktimeout").c_str(),
          radio_text("distance").c_str(), slot_text("bintval").c_str(),
          slot_text("shortgi").c_str(), slot_text("isolate").c_str(), slot_text("frag").c_str(),
          slot_text("rts").c_str(), slot_text("maxsta").c_str(), radio_text("ledstatus").c_str(),
          radio == 0 ? "0" : xml_escape(dfs_text()).c_str(), xml_escape(onekey).c_str(),
          radio == 0 ? radio_text("cca_step").c_str() : "0", wds_block(radio).c_str());
  return element;
}

}  // namespace

// The 5G element is written on every board, the 2G one on all but the
// single-band 5G boards.
int get_radio_config(int fd, char* /*rest*/) {
  char onekey[4];
  cfg_get("system.@system[0].onekey_wds_enable", onekey, sizeof onekey);
  std::string onekey_text = *onekey ? onekey : "0";
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  if (!board_single5g()) doc += config_element(0, onekey_text);
  doc += config_element(1, onekey_text) + "</WIRELESS>";
  send_all(fd, doc);
  return 0;
}

// ---- POST /config ----

bool mac_text_valid(const char* text) {
  if (!text || std::strlen(text) != mac_text_length) return false;
  for (size_t i = 0; i < mac_text_length; ++i) {
    bool separator = i % 3 == 2;
    if (separator ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i])))
      return false;
  }
  return true;
}

namespace {

int wds_default_caps(const char* htmode, const char* mode, int radio) {
  if (!htmode || !mode) return 4;
  if (radio == 0) {
    if (std::strstr(mode, "ac")) return 4;
    return std::strstr(htmode, "HT40") ? 6 : 5;
  }
  if (std::strstr(htmode, "HT80")) return 132;
  return std::strstr(htmode, "HT40") ? 68 : 36;
}

// WDS peers, keys and comments of the radio's main VAP. They are only
// written in WDS mode (sys_mode 5); otherwise the radio's WDS is switched off.
bool plan_wds(change_plan& plan, xml_node* wds, int radio, int caps) {
  int slot = main_slot(radio);
  auto path = [slot](const char* option) { return iface_option_path(slot, option); };
  if (!wds || operating_mode() != 5) {
    plan.set(path("nawds_mode"), "0");
    return true;
  }
  plan.set(path("nawds_mode"), "1");
  plan.set(path("mode"), "ap");
  for (const wds_field& field : wds_fields) {
    if (!field.posted) continue;
    const char* text = child_text(wds, field.element);
    // Keys longer than the documents show would not survive a round trip;
    // ENCMODE and KEYIDX are stored as given.
    if (text && field.capped && std::strlen(text) > max_key_length) return false;
    plan.set(path(field.option), text ? text : field.fallback);
  }
  plan.set(path("nawds_defcaps"), std::to_string(caps));
  plan.set(path("nawds_override"), "0");
  plan.remove(path("nawds_add_repeater"));
  for (int n = 1; n <= 4; ++n) plan.set(path(("comment" + std::to_string(n)).c_str()), "");
  int added = 0;
  for (int n = 1; n <= 4; ++n) {
    std::string suffix = std::to_string(n);
    const char* mac = child_text(wds, ("MAC" + suffix).c_str());
    if (mac && *mac) {
      if (!mac_text_valid(mac)) return false;
      plan.add_list(path("nawds_add_repeater"), mac);
      ++added;
    }
    const char* comment = child_text(wds, ("COMMENT" + suffix).c_str());
    if (!comment) continue;
    if (std::strlen(comment) > max_key_length) return false;
    if (mac && *mac) plan.set(path(("comment" + std::to_string(added)).c_str()), comment);
  }
  return true;
}

// The radio options set from ADVANCE elements of the same meaning, in order.
constexpr const char* advance_radio_options[][2] = {
    {"MODE", "hwmode"},         {"COUNTRY", "country"},       {"RSSI_THRES", "rssi_thres"},
    {"AMPDU", "AMPDU"},         {"ACKTIMEOUT", "acktimeout"}, {"DISTANCE", "distance"},
    {"LEDSTATUS", "ledstatus"},
};
// The per-VAP options set on every slot of the radio, in order.
constexpr const char* advance_slot_options[][2] = {
    {"BINTVAL", "bintval"}, {"SHORTGI", "shortgi"}, {"ISOLATE", "isolate"},
    {"FRAG", "frag"},       {"RTS", "rts"},         {"MAXSTA", "maxsta"},
};

// Plans the changes of one CONFIG element; false when it is refused.
bool plan_config(change_plan& plan, xml_node* config) {
  const char* band = child_text(config, "BAND");
  xml_node* base = xml_child(config, "BASE");
  if (!band || !base || (!is_text(band, "2G") && !is_text(band, "5G"))) return false;
  const char* channel = child_text(base, "CHANNEL");
  const char* txpower = child_text(base, "TXPOWER");
  if (!channel || !txpower) return false;
  int radio = is_text(band, "2G") ? 0 : 1;
  auto radio_path = [radio](const char* option) { return radio_option_path(radio, option); };
  xml_node* advance = xml_child(config, "ADVANCE");
  auto advance_text = [advance](const char* name) { return child_text(advance, name); };
  const char* mode = advance_text("MODE");
  const char* htmode = advance_text("HTMODE");
  int caps = advance ? wds_default_caps(htmode, mode, radio) : 0;

  // An earlier CONFIG of the request may have changed cca_step already.
  const char* cca = advance_text("CCA_STEP");
  if (radio == 0 && cca && !plan.get("wireless.wifi0.cca_step").empty())
    plan.set("wireless.wifi0.cca_step", cca);
  if (!plan_wds(plan, xml_child(config, "WDS"), radio, caps)) return false;
  bool wmm = is_text(mode, "11ng") || is_text(mode, "11na") || is_text(mode, "11ac");
  plan.set(radio_path("channel"), channel);
  plan.set(radio_path("txpower"), txpower);

  // Without HTMODE the HT mode and coexistence stay as they are.
  const char* coexistence = nullptr;
  if (is_text(htmode, "AUTO")) {
    bool ht40 = radio == 0 ||
                cfg_get(std::string("system.@system[0].hardver")).find("9344") != std::string::npos;
    plan.set(radio_path("htmode"), ht40 ? "HT40" : "HT80");
    coexistence = "0";
  } else if (htmode) {
    plan.set(radio_path("htmode"), htmode);
    coexistence = "1";
  }
  for (const auto& row : advance_radio_options) {
    if (const char* text = advance_text(row[0])) plan.set(radio_path(row[1]), text);
  }
  if (const char* dfs = advance_text("DFS_ENABLED"))
    plan.set(radio_path("dfs_off"), dfs[0] == '1' ? "0" : "1");
  const char* onekey = advance_text("WDSONEKEY");
  if (onekey && (radio == 0 ? board_single24g() : board_single5g()))
    plan.run(onekey[0] == '1' ? "uci set system.@system[0].onekey_wds_enable=1"
                              : "uci set system.@system[0].onekey_wds_enable=0");

  for (int slot = main_slot(radio); slot < main_slot(radio) + slots_per_radio; ++slot) {
    if (coexistence) plan.set(iface_option_path(slot, "disablecoext"), coexistence);
    for (const auto& row : advance_slot_options) {
      if (const char* text = advance_text(row[0])) plan.set(iface_option_path(slot, row[1]), text);
    }
    plan.set(iface_option_path(slot, "wmm"), wmm ? "1" : "0");
  }
  return true;
}

}  // namespace

bool wireless_restart_owed(xml_node* root) {
  return !is_text(child_text(root, "ACTIVE"), "1") && worker().mode_switch_state == 0;
}

void wireless_restart() {
  fx().run("/sbin/wifi restart");
  fx().run("/etc/init.d/dnsmasq restart");
}

int set_radio_config(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  xml_node* config = request.ok() ? xml_child(request.root(), "CONFIG") : nullptr;
  if (!config) return reply_code(fd, FORMAT_ERROR);
  change_plan plan;
  for (; config; config = config->next) {
    if (!plan_config(plan, config)) return wireless_refuse(fd);
  }
  if (!plan.values_storable()) return wireless_refuse(fd);
  plan.apply();
  cfg_commit("wireless");
  cfg_commit("system");
  if (wireless_restart_owed(request.root())) wireless_restart();
  return 0;
}

// ---- routing ----

const wireless_get_route wireless_get_routes[] = {
    {"/config", get_radio_config},
    {"/vap", get_vap_config},
    {"/associate", get_assoc_list},
    {"/scan", get_scan},
    {"/analysis", get_analysis},
    {"/channel", get_channel_list},
    {"/txpower", get_txpower_list},
    {"/stainfo?active=1", get_sta_link_status},
    {"/nonstainfo?active=1", get_ap_link_status},
    {"/stainfo", get_sta_link_status},
    {"/followsig", follow_signal},
    {nullptr, nullptr},
};

const wireless_post_route wireless_post_routes[] = {
    {"/vap", set_vap_config},
    {"/config", set_radio_config},
    {nullptr, nullptr},
};

// A missing sub-path means "/config".
int wireless_get(int fd, char* sub_path, size_t sub_path_len, char* rest) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string("/config");
  for (const wireless_get_route* route = wireless_get_routes; route->sub_path; ++route) {
    if (path != route->sub_path) continue;
    if (!route->handler) break;
    return route->handler(fd, rest);
  }
  return reply_code(fd, NO_SERVICE);
}

int wireless_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (!sub_path) return reply_code(fd, NO_SERVICE);
  size_t length = static_cast<size_t>(body - sub_path);
  for (const wireless_post_route* route = wireless_post_routes; route->sub_path; ++route) {
    if (leading_part_of(sub_path, length, route->sub_path))
      return route->handler(fd, body, body_len);
  }
  return reply_code(fd, NO_SERVICE);
}
