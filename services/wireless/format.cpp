// Texts of driver values for the live wireless views.
#include "services/wireless/format.h"

#include <cstdio>
#include <cstring>

#include "agent/config.h"
#include "agent/server.h"

std::string ssid_name(const char* ssid, size_t length) {
  std::string name(ssid, strnlen(ssid, length));
  if (looks_gb2312(name.data(), name.size())) {
    // Converted into a buffer of its own; a conversion that stopped early
    // still counts when it produced something.
    char utf8[128] = {};
    gb2312_to_utf8(name.data(), name.size(), utf8, sizeof utf8 - 1);
    if (*utf8) name = utf8;
  }
  name = utf8_cut(name, 34);
  return name.empty() ? "unknown" : name;
}

std::string ssid_text(const char* ssid, size_t length) {
  return xml_escape(ssid_name(ssid, length));
}

std::string channel_text(int channel) {
  return channel > 0 ? std::to_string(channel) : "unknown";
}

std::string freq_text(int mhz) {
  if (mhz <= 0) return "unknown";
  std::string text;
  appendf(text, "%.3f GHz", mhz / 1000.0);
  return text;
}

std::string level_text(int dbm) {
  return dbm != 0 ? std::to_string(dbm) + " dBm" : "unknown";
}

std::string rate_text(uint32_t kbps) {
  if (kbps == 0) return "unknown";
  std::string text;
  appendf(text, "%u.%u MBit/s", kbps / 1000, kbps % 1000 / 100);
  return text;
}

std::string assoc_rate_text(const wifi::Rate& rate) {
  if (rate.kbps == 0) return "unknown";
  std::string text = rate_text(rate.kbps);
  if (rate.mcs >= 0) appendf(text, ", MCS %d, %dMHz", rate.mcs, rate.is_40mhz ? 40 : 20);
  if (rate.is_short_gi) text += ", short GI";
  return text;
}

std::string mac_text(const uint8_t mac[6]) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string quality_text(int quality) {
  return quality >= 0 ? std::to_string(quality) : "unknown";
}

namespace {

struct flag_name {
  uint8_t flag;
  const char* text;
};

constexpr flag_name cipher_names[] = {
    {wifi::kCipherWep40, "WEP-40"}, {wifi::kCipherWep104, "WEP-104"},
    {wifi::kCipherTkip, "TKIP"},    {wifi::kCipherCcmp, "CCMP"},
    {wifi::kCipherWrap, "WRAP"},    {wifi::kCipherAesOcb, "AES-OCB"},
    {wifi::kCipherCkip, "CKIP"},
};
constexpr flag_name suite_names[] = {{wifi::kSuitePsk, "PSK"}, {wifi::kSuite8021x, "802.1X"}};

template <size_t N>
std::string flag_list(uint8_t flags, const flag_name (&names)[N], uint8_t none_flag,
                      const char* separator) {
  std::string text;
  for (const flag_name& name : names) {
    if (flags & name.flag) text += std::string(name.text) + separator;
  }
  if (flags == 0 || (flags & none_flag)) text += std::string("NONE") + separator;
  text.resize(text.size() - std::strlen(separator));
  return text;
}

std::string wep_text(const wifi::Crypto& crypto, int& code) {
  std::string ciphers = cipher_list_text(crypto.pair_ciphers);
  bool open = crypto.auth_algs & wifi::kAuthOpen;
  bool shared = crypto.auth_algs & wifi::kAuthShared;
  code = open && !shared ? 1 : 2;
  if (open && shared) return "WEP Open/Shared (" + ciphers + ")";
  if (open) return "WEP Open System (" + ciphers + ")";
  if (shared) return "WEP Shared Auth (" + ciphers + ")";
  code = 0;
  return "unknown";
}

std::string wpa_text(const wifi::Crypto& crypto, int& code) {
  static constexpr const char* prefixes[] = {"WPA", "WPA2", "mixed WPA/WPA2"};
  static constexpr int codes[] = {5, 8, 11};
  if (crypto.wpa_version == 0) {
    code = 1;
    return "wep";
  }
  std::string text = "unknown";
  code = 0;
  if (crypto.wpa_version <= 3) {
    text = std::string(prefixes[crypto.wpa_version - 1]) + " " +
           suite_list_text(crypto.auth_suites) + " (" +
           cipher_list_text(crypto.pair_ciphers | crypto.group_ciphers) + ")";
    code = codes[crypto.wpa_version - 1];
  }
  if (text.find("802.1X") != std::string::npos) code = 20;
  return text;
}

}  // namespace

std::string cipher_list_text(uint8_t ciphers) {
  return flag_list(ciphers, cipher_names, wifi::kCipherNone, ", ");
}

std::string suite_list_text(uint8_t suites) {
  return flag_list(suites, suite_names, wifi::kSuiteNone, "/");
}

std::string crypto_text(const wifi::Crypto* crypto, int& code) {
  code = 0;
  if (!crypto) return "unknown";
  if (!crypto->enabled) return "none";
  if (crypto->wpa_version == 0 && crypto->auth_algs != 0) return wep_text(*crypto, code);
  return wpa_text(*crypto, code);
}

int scan_signal_dbm(uint8_t signal) {
  int level = signal - 256;
  if (level >= -135) return level;
  return -10 * (level + 135) / 121 - 20;
}

namespace {

struct channel_row {
  int mhz;
  int channel;
};

// The 2.4 GHz table in lookup order; its first row is the answer when
// nothing matches.
int channel_24g(int mhz) {
  if (mhz >= 2312 && mhz <= 2402 && (mhz - 2312) % 5 == 0) return 32 + (mhz - 2312) / 5;
  if (mhz == 2407) return 0;
  if (mhz >= 2412 && mhz <= 2482 && (mhz - 2407) % 5 == 0) return (mhz - 2407) / 5;
  if (mhz == 2487) return 218;
  if (mhz == 2497) return 219;
  if (mhz >= 2532 && mhz <= 2732 && (mhz - 2532) % 20 == 0) return 16 + (mhz - 2532) / 20;
  return 32;
}

bool in_steps(int mhz, int first, int last, int step) {
  return mhz >= first && mhz <= last && (mhz - first) % step == 0;
}

// Every row of the 5 GHz table gives (f - 5000) / 5; its first row gives 4.
int channel_5g(int mhz) {
  bool listed = in_steps(mhz, 5020, 5740, 20) || mhz == 5170 || mhz == 5390 ||
                in_steps(mhz, 5745, 5865, 20) || in_steps(mhz, 5760, 5880, 20) || mhz == 5875 ||
                mhz == 5895 || mhz == 5905 || mhz == 5900 || in_steps(mhz, 5920, 6100, 20);
  return listed ? (mhz - 5000) / 5 : 4;
}

}  // namespace

int freq_to_channel(int mhz) {
  return mhz <= 4000 ? channel_24g(mhz) : channel_5g(mhz);
}

std::string scan_ap_element(const char* band, const wifi::ScanEntry& entry) {
  int code = 0;
  std::string encryption = crypto_text(&entry.crypto, code);
  std::string element;
  appendf(element,
          "<AP><BAND>%s</BAND><SSID>%s</SSID><BSSID>%s</BSSID><SIGNAL>%s</SIGNAL>"
          "<QUALITY>%s/%s</QUALITY><ENCRYPTION>%s</ENCRYPTION><ENC_CODE>%d</ENC_CODE>"
          "<CHANNEL>%s</CHANNEL></AP>",
          band, ssid_text(entry.ssid, sizeof entry.ssid).c_str(), mac_text(entry.mac).c_str(),
          level_text(scan_signal_dbm(entry.signal)).c_str(), quality_text(entry.quality).c_str(),
          quality_text(entry.quality_max).c_str(), encryption.c_str(), code,
          channel_text(entry.channel).c_str());
  return element;
}
