// Virtual access points of the wireless service (GET and POST /vap), the
// encryption code table and the live channel of a radio.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "platform/wifi/wifi.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"
#include "services/network/restart.h"
#include "services/wireless/wireless.h"

const enc_code enc_code_table[enc_code_count] = {
    {0, "none"},           {1, "wep-open"},        {2, "wep-shared"},
    {3, "psk+tkip"},       {4, "psk+ccmp"},        {5, "psk+tkip+ccmp"},
    {6, "psk2+tkip"},      {7, "psk2+ccmp"},       {8, "psk2+tkip+ccmp"},
    {9, "psk-mixed+tkip"}, {10, "psk-mixed+ccmp"}, {11, "psk-mixed+tkip+ccmp"},
    {20, "wpa"},
};

int enc_code_lookup(const char* name) {
  for (const enc_code& entry : enc_code_table) {
    if (name && std::strcmp(entry.name, name) == 0) return entry.code;
  }
  return -1;
}

const char* enc_code_name(int code) {
  for (const enc_code& entry : enc_code_table) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

void radio_live_channel(const char* ifname, char* buffer) {
  wifi::Backend* driver = wifi::backend(ifname);
  if (!driver) return;
  std::vector<wifi::Frequency> frequencies;
  if (!driver->freqlist(ifname, frequencies) || frequencies.empty()) return;
  int channel = -1;
  if (!driver->channel(ifname, channel)) channel = -1;
  std::snprintf(buffer, 32, "%d", channel);
}

// ---- GET /vap ----

namespace {

// The key option as upper-case hex pairs (keys travel hex-encoded).
std::string vap_key_hex(int slot) {
  std::string key = iface_option(slot, "key", 128);
  std::vector<char> hex(2 * key.size() + 1);
  hex_encode(reinterpret_cast<const unsigned char*>(key.data()), key.size(), hex.data());
  return hex.data();
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string key_option(int slot, int n) {
  return xml_escape(iface_option(slot, ("key" + std::to_string(n)).c_str(), 64));
}

// SECURITY goes by the encryption's name: the WEP kinds show the key index
// and four keys, the others the hex key and the first WEP key.
std::string security_text(int slot) {
  std::string encryption = iface_option(slot, "encryption", 64);
  int code = enc_code_lookup(encryption.c_str());
  std::string text;
  if (encryption == "none") {
    appendf(text, "<SECURITY><ENCRYPTION>0</ENCRYPTION><KEY>%s</KEY><KEY1>%s</KEY1></SECURITY>",
            vap_key_hex(slot).c_str(), key_option(slot, 1).c_str());
  } else if (starts_with(encryption, "wep")) {
    appendf(text,
            "<SECURITY><ENCRYPTION>%d</ENCRYPTION><KEY>%s</KEY><KEY1>%s</KEY1><KEY2>%s</KEY2>"
            "<KEY3>%s</KEY3><KEY4>%s</KEY4></SECURITY>",
            code, xml_escape(iface_option(slot, "key", 128)).c_str(), key_option(slot, 1).c_str(),
            key_option(slot, 2).c_str(), key_option(slot, 3).c_str(), key_option(slot, 4).c_str());
  } else if (starts_with(encryption, "psk") || starts_with(encryption, "wpa")) {
    appendf(text, "<SECURITY><ENCRYPTION>%d</ENCRYPTION><KEY>%s</KEY><KEY1>%s</KEY1></SECURITY>",
            code, vap_key_hex(slot).c_str(), key_option(slot, 1).c_str());
  }
  return text;
}

std::string option_or(int slot, const char* option, const std::string& fallback) {
  std::string value = iface_option(slot, option, 64);
  return xml_escape(value.empty() ? fallback : value);
}

std::string radius_text(int slot, const std::string& controller) {
  std::string text;
  appendf(text,
          "<EAP><AUTH_SECRET>%s</AUTH_SECRET><AUTH_PORT>%s</AUTH_PORT><AUTH_SERVER>%s</AUTH_SERVER>"
          "<USER>%s</USER><PASSWORD>%s</PASSWORD><EAP_TYPE></EAP_TYPE></EAP>",
          option_or(slot, "auth_secret", "please enter key").c_str(),
          option_or(slot, "auth_port", "1812").c_str(),
          option_or(slot, "auth_server", controller).c_str(),
          option_or(slot, "identity", "please enter user").c_str(),
          option_or(slot, "password", "please enter password").c_str());
  return text;
}

// Every address of the list, blank-terminated or last.
std::string acl_text(int slot) {
  std::string filter = iface_option(slot, "macfilter", 64);
  if (filter.empty()) return "<ACL><DISABLE>1</DISABLE></ACL>";
  std::string text = "<ACL><DISABLE>0</DISABLE><MODE>" + xml_escape(filter) + "</MODE>";
  std::string list = iface_option(slot, "maclist", 3072);
  for (size_t start = 0; start < list.size();) {
    size_t end = std::min(list.find(' ', start), list.size());
    if (end > start) text += "<MAC>" + xml_escape(list.substr(start, end - start)) + "</MAC>";
    start = end + 1;
  }
  return text + "</ACL>";
}

// Extra slots may hold their name in GB2312; it is shown in UTF-8 when it
// converts, as stored otherwise.
std::string ssid_text(int slot) {
  std::string ssid = iface_option(slot, "ssid", 256);
  if (is_main_slot(slot) || !looks_gb2312(ssid.data(), ssid.size())) return xml_escape(ssid);
  char utf8[1024] = {};
  if (gb2312_to_utf8(ssid.data(), ssid.size(), utf8, sizeof utf8 - 1) != 0) return xml_escape(ssid);
  return xml_escape(utf8);
}

struct bssid_view {
  std::string flag;
  std::string bssid;
};

// A parked BSSID (lock off) is kept in bssid_bak.
bssid_view bssid_text(int slot) {
  if (!is_main_slot(slot)) return {};
  std::string flag = iface_option(slot, "bssid_en", 8);
  if (flag.empty() || flag[0] == '0') return {"0", xml_escape(iface_option(slot, "bssid_bak", 64))};
  flag[0] = '1';
  return {xml_escape(flag), xml_escape(iface_option(slot, "bssid", 64))};
}

std::string vap_element(int slot, const std::string& channel, const std::string& controller) {
  auto option = [slot](const char* name, size_t size) {
    return xml_escape(iface_option(slot, name, size));
  };
  bssid_view bssid = bssid_text(slot);
  std::string mcast =
      is_main_slot(slot) && cfg_flag(iface_option_path(slot, "mcast_rate")) ? "1" : "";
  std::string element;
  appendf(element,
          "<VAP><ID>%s</ID><DISABLE>%s</DISABLE><SSID>%s</SSID><BSSID>%s</BSSID>"
          "<BSSID_EN>%s</BSSID_EN><CUR_CHANNEL>%s</CUR_CHANNEL><MODE>%s</MODE><HIDDEN>%s</HIDDEN>"
          "<WMM>%s</WMM><MAXASSOC>%s</MAXASSOC><WDS>%s</WDS><EXTAP>%s</EXTAP><FRAG>%s</FRAG>"
          "<RTS>%s</RTS><MCAST_RATE>%s</MCAST_RATE>%s%s</VAP>",
          option("id", 4).c_str(), option("disabled", 4).c_str(), ssid_text(slot).c_str(),
          bssid.bssid.c_str(), bssid.flag.c_str(), xml_escape(channel).c_str(),
          option("mode", 8).c_str(), option("hidden", 4).c_str(), option("wmm", 4).c_str(),
          option("maxsta", 4).c_str(), option("wds", 4).c_str(), option("extap", 4).c_str(),
          option("frag", 8).c_str(), option("rts", 8).c_str(), mcast.c_str(),
          (security_text(slot) + radius_text(slot, controller)).c_str(),
          is_main_slot(slot) ? acl_text(slot).c_str() : "");
  return element;
}

// The radio's channel as its driver reports it, else as stored.
std::string channel_text(int radio) {
  char channel[32] = "";
  radio_live_channel(radio == 0 ? "ath0" : "ath1", channel);
  if (*channel) return channel;
  return cfg_get_cut(radio_option_path(radio, "channel"), sizeof channel);
}

}  // namespace

int get_vap_config(int fd, char* rest) {
  std::string band = rest ? rest : "";
  int first = 0;
  int last = vap_slot_count - 1;
  if (band == "2g") {
    last = slots_per_radio - 1;
  } else if (band == "5g" || board_single5g()) {
    first = slots_per_radio;
  }
  char controller[32];
  cfg_get("dhcp.@snmpd[0].ac_addr", controller, sizeof controller);
  // Only the drivers of the radios shown are asked.
  std::string channels[2];
  for (int radio = radio_of_slot(first); radio <= radio_of_slot(last); ++radio)
    channels[radio] = channel_text(radio);

  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  for (int slot = first; slot <= last; ++slot)
    doc += vap_element(slot, channels[radio_of_slot(slot)], controller);
  doc += "</WIRELESS>";
  send_all(fd, doc);
  return 0;
}

// ---- POST /vap ----

namespace {

// The code of an ENCRYPTION text: a decimal number of the table, else -1.
int encryption_code(const char* text) {
  if (!text || !*text || std::strlen(text) > 3) return -1;
  for (const char* c = text; *c; ++c) {
    if (!std::isdigit(static_cast<unsigned char>(*c))) return -1;
  }
  int code = std::atoi(text);
  return enc_code_name(code) ? code : -1;
}

constexpr size_t psk_min = 8;
constexpr size_t psk_max = 63;

// A pre-shared key: an even number of hex digits decoding to 8-63 printable
// bytes. Empty when the text is not one.
std::string decoded_psk(const char* hex) {
  size_t length = hex ? std::strlen(hex) : 0;
  if (length % 2 != 0 || length / 2 < psk_min || length / 2 > psk_max) return {};
  std::string key;
  for (size_t i = 0; i < length; i += 2) {
    int high = hex_digit_value(hex[i]);
    int low = hex_digit_value(hex[i + 1]);
    if (high < 0 || low < 0) return {};
    int byte = high * 16 + low;
    if (byte < 0x20 || byte == 0x7f) return {};
    key.push_back(static_cast<char>(byte));
  }
  return key;
}

bool psk_code(int code) {
  return code >= 3 && code <= 11;
}

}  // namespace

int vap_security_valid(xml_node* security) {
  int code = encryption_code(child_text(security, "ENCRYPTION"));
  if (code < 0) return 1;
  if (psk_code(code) && decoded_psk(child_text(security, "KEY")).empty()) return 1;
  return 0;
}

namespace {

constexpr size_t wep_key_max = 63;

void plan_wep(change_plan& plan, xml_node* security, int slot) {
  const char* index = child_text(security, "KEY");
  bool index_valid = index && std::strlen(index) == 1 && index[0] >= '1' && index[0] <= '4';
  plan.set(iface_option_path(slot, "key"), index_valid ? index : "1");
  for (int n = 1; n <= 4; ++n) {
    std::string name = "key" + std::to_string(n);
    std::string element = "KEY" + std::to_string(n);
    const char* text = child_text(security, element.c_str());
    if (text && *text) plan.set(iface_option_path(slot, name.c_str()), utf8_cut(text, wep_key_max));
  }
}

// Code 20: an access point asks a RADIUS server; a station on a main slot
// logs in with 802.1X itself.
void plan_eap(change_plan& plan, xml_node* eap, int slot, const char* mode) {
  auto set = [&plan, slot](const char* option, const char* value) {
    plan.set(iface_option_path(slot, option), value);
  };
  auto set_from = [&set, eap](const char* option, const char* element) {
    if (const char* text = child_text(eap, element)) set(option, text);
  };
  if (!is_text(mode, "sta") || !is_main_slot(slot)) {
    set_from("auth_server", "AUTH_SERVER");
    set_from("auth_secret", "AUTH_SECRET");
    set_from("auth_port", "AUTH_PORT");
    for (const char* option : {"identity", "password", "auth", "eap_type"}) set(option, "");
    return;
  }
  set_from("identity", "USER");
  set_from("password", "PASSWORD");
  for (const char* option : {"auth_server", "auth_secret", "auth_port"}) set(option, "");
  set("auth", "MSCHAPV2");
  set("eap_type", "peap");
}

}  // namespace

int vap_security_store(change_plan& plan, xml_node* security, xml_node* eap, int slot,
                       const char* mode) {
  if (const char* key1 = child_text(security, "KEY1"))
    plan.set(iface_option_path(slot, "key1"), key1);
  int code = encryption_code(child_text(security, "ENCRYPTION"));
  if (code < 0) return 1;
  std::string encryption = iface_option_path(slot, "encryption");
  plan.set(encryption, enc_code_name(code));
  if (psk_code(code))
    plan.set(iface_option_path(slot, "key"), decoded_psk(child_text(security, "KEY")));
  if (code == 1 || code == 2) plan_wep(plan, security, slot);
  // Without EAP the stored RADIUS settings stay as they are.
  if (code == 20 && eap) plan_eap(plan, eap, slot, mode);
  return 0;
}

namespace {

constexpr size_t acl_max_entries = 113;
constexpr size_t ssid_max = 32;

// The slot whose id option equals the text, or -1.
int slot_of_id(const char* id) {
  for (int slot = 0; slot < vap_slot_count; ++slot) {
    if (iface_option(slot, "id", 4) == id) return slot;
  }
  return -1;
}

// Extra slots keep their name in GB2312 when it converts.
bool plan_ssid(change_plan& plan, const char* ssid, int slot) {
  std::string stored = ssid;
  if (!is_main_slot(slot)) {
    char gb2312[256] = {};
    if (utf8_to_gb2312(ssid, std::strlen(ssid), gb2312, sizeof gb2312 - 1) == 0) stored = gb2312;
  }
  // Longer names cannot be broadcast; the VAP would not start.
  if (stored.size() > ssid_max) return false;
  plan.set(iface_option_path(slot, "ssid"), stored);
  return true;
}

// The MAC filter is a setting of the radio's main VAP, written to all four.
bool plan_acl(change_plan& plan, xml_node* acl, int slot) {
  const char* disable = child_text(acl, "DISABLE");
  if (!disable) return true;
  int choice = std::atoi(disable);
  std::string filter;
  std::string list;
  if (choice == 0) {
    const char* mode = child_text(acl, "MODE");
    xml_node* mac = xml_child(acl, "MAC");
    if (!mode || !mac) return false;
    filter = mode;
    for (size_t count = 0; mac && count < acl_max_entries; mac = mac->next, ++count) {
      if (!mac_text_valid(mac->text)) return false;
      list += std::string(mac->text) + " ";
    }
  } else if (choice != 1) {
    return true;
  }
  for (int n = slot; n < slot + slots_per_radio; ++n) {
    plan.set(iface_option_path(n, "macfilter"), filter);
    plan.set(iface_option_path(n, "maclist"), list);
  }
  return true;
}

void plan_station_bssid(change_plan& plan, xml_node* vap, int slot) {
  std::string bssid = iface_option_path(slot, "bssid");
  std::string parked = iface_option_path(slot, "bssid_bak");
  std::string flag = iface_option_path(slot, "bssid_en");
  plan.set(bssid, "");
  plan.set(parked, "");
  plan.set(flag, "");
  const char* enabled = child_text(vap, "BSSID_EN");
  const char* address = child_text(vap, "BSSID");
  if (!enabled || !address) return;
  bool locked = is_text(enabled, "1");
  plan.set(locked ? bssid : parked, address);
  plan.set(locked ? parked : bssid, "");
  plan.set(flag, enabled);
}

// In the wireless-WAN mode a station VAP is the WAN, and every other VAP
// belongs to the LAN.
void plan_station_wan(change_plan& plan, int slot) {
  for (int n = 0; n < vap_slot_count; ++n) plan.set(iface_option_path(n, "network"), "lan");
  plan.set(iface_option_path(slot, "network"), "wan");
  plan.set("network.wan.ifname", slot == 0 ? "ath0" : "ath1");
}

void plan_wds_flags(change_plan& plan, xml_node* vap, int slot, int sys_mode) {
  std::string wds = iface_option_path(slot, "wds");
  std::string extap = iface_option_path(slot, "extap");
  if (sys_mode == 5) return;
  if (sys_mode != 3) {
    plan.set(extap, "1");
    plan.set(wds, "1");
    return;
  }
  const char* text = child_text(vap, "WDS");
  bool on = text && text[0] == '1';
  plan.set(wds, on ? "1" : "0");
  plan.set(extap, on ? "0" : "1");
}

struct vap_request_context {
  bool touch_button;
  int sys_mode;
};

bool plan_vap(change_plan& plan, xml_node* vap, const vap_request_context& context) {
  const char* id = child_text(vap, "ID");
  const char* ssid = child_text(vap, "SSID");
  const char* mode = child_text(vap, "MODE");
  xml_node* security = xml_child(vap, "SECURITY");
  if (!id || !ssid || !mode || !security) return false;
  int slot = slot_of_id(id);
  bool station = is_text(mode, "sta");
  if (slot < 0 || (!station && !is_text(mode, "ap")) || vap_security_valid(security) != 0)
    return false;
  // As the WAN only a main VAP's own interface can carry a station.
  bool station_wan = station && context.sys_mode == 2;
  if (station_wan && !is_main_slot(slot)) return false;
  auto set = [&plan, slot](const char* option, const std::string& value) {
    plan.set(iface_option_path(slot, option), value);
  };
  auto text_or = [vap](const char* element, const char* fallback) {
    const char* text = child_text(vap, element);
    return std::string(text ? text : fallback);
  };

  if (!plan_ssid(plan, ssid, slot)) return false;
  set("mode", mode);
  if (station_wan) plan_station_wan(plan, slot);
  vap_security_store(plan, security, xml_child(vap, "EAP"), slot, mode);
  xml_node* acl = xml_child(vap, "ACL");
  if (is_main_slot(slot) && acl && !plan_acl(plan, acl, slot)) return false;
  set("rts", text_or("RTS", ""));
  set("frag", text_or("FRAG", ""));
  set("maxsta", text_or("MAXASSOC", ""));
  if (station) plan_station_bssid(plan, vap, slot);
  plan_wds_flags(plan, vap, slot, context.sys_mode);
  set("hidden", text_or("HIDDEN", "0"));
  // A radio switched off by its button keeps its VAPs' state.
  const char* disable = child_text(vap, "DISABLE");
  if (!disable) {
    set("disabled", "0");
  } else if (!context.touch_button || !radio_switched_off(slot)) {
    set("disabled", disable);
  }
  set("wmm", text_or("WMM", "0"));
  const char* mcast = child_text(vap, "MCAST_RATE");
  set("mcast_rate", mcast && *mcast && !is_text(mcast, "0") ? "54000" : "");
  return true;
}

}  // namespace

int set_vap_config(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  xml_node* vap = request.ok() ? xml_child(request.root(), "VAP") : nullptr;
  if (!vap) return reply_code(fd, FORMAT_ERROR);
  vap_request_context context{cfg_flag("system.@system[0].touch_btn"), operating_mode()};
  change_plan plan;
  for (; vap; vap = vap->next) {
    if (!plan_vap(plan, vap, context)) return wireless_refuse(fd);
  }
  if (!plan.values_storable()) return wireless_refuse(fd);
  plan.apply();
  for (const char* package : {"system", "wireless", "network", "dhcp"}) cfg_commit(package);
  if (wireless_restart_owed(request.root())) wireless_restart();
  return 0;
}
