#include "agent/factory.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "agent/config.h"
#include "agent/server.h"
#include "platform/effects.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace {

constexpr size_t rom_value_limit = 511;
constexpr size_t opcode_text_limit = 4;
constexpr const char* reset_button_file = "/var/resetbuttontest";
constexpr const char* no_reset_marker = "/var/testprotect_noreset";
// Three seconds leave time for the reply to reach the production line.
constexpr const char* factory_reset_command = "(sleep 3; kill -15 -1; rm -rf /overlay/*; reboot) &";

// A hex digit of an escape: codes up to '@' count from '0', anything else
// (either case) from 'A'. Other characters give odd values, never a fault.
int nibble(unsigned char c) {
  return c <= 64 ? c - 48 : (c & ~0x20) - 55;
}

std::string cut(const char* text, size_t length, size_t limit) {
  return std::string(text, length < limit ? length : limit);
}

// Result objects carry a tab and a blank after the colon.
std::string result_json(const std::string& value) {
  return "{\"result\":\t \"" + json_escape(value) + "\"}";
}

void send_factory_reply(int fd, const std::string& json) {
  send_all(fd, factory_reply_header + json);
}

// The first "opcode" pair's value as a number: at most four characters,
// one quote removed at either end. -1 when there is no such pair.
int opcode_of(const std::vector<query_pair>& pairs) {
  for (const query_pair& pair : pairs) {
    if (pair.name != "opcode") continue;
    std::string text = pair.value.substr(0, opcode_text_limit);
    if (!text.empty() && text.front() == '"') text.erase(0, 1);
    if (!text.empty() && text.back() == '"') text.pop_back();
    return std::atoi(text.c_str());
  }
  return -1;
}

int factory_opmode(int sys_mode) {
  switch (sys_mode) {
    case 1:
      return 0;
    case 2:
      return 2;
    case 3:
      return 1;
    case 5:
      return 4;
    default:
      return 3;
  }
}

// The address as a number with its first octet most significant; 0 when the
// text is not an address.
uint32_t ipv4_number(const std::string& text) {
  unsigned char octets[4] = {0, 0, 0, 0};
  if (inet_pton(AF_INET, text.c_str(), octets) != 1) return 0;
  return uint32_t{octets[0]} << 24 | uint32_t{octets[1]} << 16 | uint32_t{octets[2]} << 8 |
         uint32_t{octets[3]};
}

std::string ipv4_text(uint32_t number) {
  char text[16];
  snprintf(text, sizeof text, "%u.%u.%u.%u", number >> 24, (number >> 16) & 0xff,
           (number >> 8) & 0xff, number & 0xff);
  return text;
}

std::string key_in_hex(const std::string& key) {
  std::string hex(2 * key.size() + 1, '\0');
  hex_encode(reinterpret_cast<const unsigned char*>(key.data()), key.size(), &hex[0]);
  hex.pop_back();
  return hex;
}

// The active WEP key: the key option holds the index of the key option
// that holds the text.
std::string wep_key(const std::string& iface) {
  int index = std::atoi(rom_cfg_get(iface + "key").c_str());
  std::string key = rom_cfg_get(iface + "key" + std::to_string(index));
  if (key.compare(0, 2, "s:") == 0) key.erase(0, 2);
  return key;
}

int wep_cipher(const std::string& key) {
  size_t n = key.size();
  return n == 13 || n == 26 ? 8 : 0;
}

struct psk_mode {
  const char* encryption;
  int authmode;
  int cipher;
};

constexpr psk_mode psk_modes[] = {
    {"psk+tkip", 5, 1},       {"psk+ccmp", 5, 3},       {"psk+tkip+ccmp", 5, 7},
    {"psk2+tkip", 6, 1},      {"psk2+ccmp", 6, 3},      {"psk2+tkip+ccmp", 6, 7},
    {"psk-mixed+tkip", 9, 1}, {"psk-mixed+ccmp", 9, 3}, {"psk-mixed+tkip+ccmp", 9, 7},
};

void append_band(std::string& json, const wlan_band& band, bool last) {
  appendf(json, "{\"pd_wlan_ssid_val\":\"%s\",\"pd_wlan_channel_val\":\"%s\",",
          json_escape(band.ssid).c_str(), json_escape(band.channel).c_str());
  appendf(json, "\"pd_wlan_authmode_val\":\"%d\",\"pd_wlan_cipher_val\":\"%d\",", band.authmode,
          band.cipher);
  appendf(json, "\"pd_wlan_pwd_val\":\"%s\"}%s", json_escape(band.password).c_str(),
          last ? "" : ",");
}

std::string reset_button_state() {
  std::string text;
  if (!fx().read_file(reset_button_file, text, 1) || text.empty() || text[0] == '\n') return "0";
  return text;
}

std::string answer(int opcode) {
  switch (opcode) {
    case 1:
      return product_info();
    case 2:
      fx().run(factory_reset_command);
      return result_json("0");
    case 3:
      fx().touch_file(no_reset_marker);
      return result_json(reset_button_state());
    default:
      return result_json("1");
  }
}

}  // namespace

std::string query_decode(const std::string& raw) {
  std::string plus_done = raw;
  for (char& c : plus_done)
    if (c == '+') c = ' ';
  std::string decoded;
  for (size_t i = 0; i < plus_done.size(); ++i) {
    if (plus_done[i] != '%') {
      decoded += plus_done[i];
      continue;
    }
    if (i + 2 >= plus_done.size()) break;  // an incomplete escape is dropped
    int high = nibble(static_cast<unsigned char>(plus_done[i + 1]));
    int low = nibble(static_cast<unsigned char>(plus_done[i + 2]));
    decoded += static_cast<char>((high * 16 + low) & 0xff);
    i += 2;
  }
  return decoded.substr(0, decoded.find('\0'));
}

std::vector<query_pair> query_parse(const char* text) {
  std::vector<query_pair> pairs;
  const char* rest = text;
  while (*rest && pairs.size() < query_pair_limit) {
    const char* equals = std::strchr(rest, '=');
    if (!equals) break;
    std::string name = cut(rest, static_cast<size_t>(equals - rest), query_name_limit);
    const char* value = equals + 1;
    const char* amp = std::strchr(value, '&');
    size_t value_len = amp ? static_cast<size_t>(amp - value) : std::strlen(value);
    pairs.push_back({query_decode(name), query_decode(cut(value, value_len, query_value_limit))});
    if (!amp) break;
    rest = amp + 1;
  }
  return pairs;
}

std::string json_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string rom_cfg_get(const std::string& path) {
  std::string out =
      fx().capture("uci -q -c " + std::string(paths::rom_confdir) + " get " + uci_path_word(path));
  size_t line_end = out.find('\n');
  std::string line = line_end == std::string::npos ? out : out.substr(0, line_end + 1);
  if (line.size() > rom_value_limit) line.resize(rom_value_limit);
  if (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

wlan_band wlan_factory_info(int vap) {
  std::string iface = "wireless.@wifi-iface[" + std::to_string(vap) + "].";
  wlan_band band;
  band.ssid = rom_cfg_get(iface + "ssid");
  band.channel = rom_cfg_get("wireless.wifi" + std::to_string(vap / 4) + ".channel");
  std::string encryption = rom_cfg_get(iface + "encryption");
  band.authmode = 1;
  band.cipher = 9;
  if (encryption == "wep-open" || encryption == "wep-shared") {
    band.authmode = encryption == "wep-open" ? 1 : 2;
    band.password = wep_key(iface);
    band.cipher = wep_cipher(band.password);
    return band;
  }
  for (const psk_mode& mode : psk_modes) {
    if (encryption != mode.encryption) continue;
    band.authmode = mode.authmode;
    band.cipher = mode.cipher;
    band.password = key_in_hex(rom_cfg_get(iface + "key"));
  }
  return band;
}

std::string product_info() {
  std::string json;
  char version[128];
  cfg_get("system.@system[0].version", version, sizeof version);
  appendf(json, "{\"pd_sw_ver_val\":\"%s\",", json_escape(version).c_str());

  iface_record eth0{};
  iface_info("eth0", &eth0);
  appendf(json, "\"pd_mac_val\":\"%s\",", json_escape(eth0.hwaddr).c_str());

  int sys_mode = std::atoi(rom_cfg_get("system.@system[0].sys_mode").c_str());
  appendf(json, "\"pd_opmode_val\":\"%d\",", factory_opmode(sys_mode));

  std::string lan_ip = rom_cfg_get("network.lan.ipaddr");
  uint32_t start = (ipv4_number(lan_ip) & 0xffffff00u) +
                   static_cast<uint32_t>(std::atoi(rom_cfg_get("dhcp.lan.start").c_str()));
  uint32_t end =
      start + static_cast<uint32_t>(std::atoi(rom_cfg_get("dhcp.lan.limit").c_str())) - 1;
  appendf(json,
          "\"pd_ip_val\":\"%s\",\"pd_dhcpserver_ipstart_val\":\"%s\","
          "\"pd_dhcpserver_ipend_val\":\"%s\",",
          json_escape(lan_ip).c_str(), ipv4_text(start).c_str(), ipv4_text(end).c_str());

  std::string hardver = rom_cfg_get("system.@system[0].hardver");
  std::string submode = rom_cfg_get("system.@system[0].submode");
  bool family_single =
      (hardver.find("9531") != std::string::npos || hardver.find("9341") != std::string::npos) &&
      submode.find("DUAL") == std::string::npos;
  bool single_5g = !family_single && submode.find("SINGLE5G") != std::string::npos;
  int count = family_single || single_5g ? 1 : 2;

  json += "\"ItemList\":{\"wlandata\":[";
  append_band(json, wlan_factory_info(single_5g ? 4 : 0), false);
  append_band(json, count == 2 ? wlan_factory_info(4) : wlan_band{}, true);
  appendf(json, "],\"count\":\"%d\"}}", count);
  return json;
}

int factory_request(int fd, char* query) {
  try {
    int opcode = opcode_of(query_parse(query));
    send_factory_reply(fd, answer(opcode));
  } catch (const std::bad_alloc&) {
    static const char out_of_memory[] = "Content-type: text/html\n\n{\"result\":\t \"2\"}";
    send_all(fd, out_of_memory, sizeof out_of_memory - 1);
  }
  return 0;
}
