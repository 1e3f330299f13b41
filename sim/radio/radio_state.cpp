#include "sim/radio/radio_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/hex.h"

namespace simradio {

using namespace wifi;

namespace {

struct Field {
  std::string key;
  std::string value;
};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Calls take(line) for every line that is neither empty nor a comment.
template <typename Take>
void for_each_line(const std::string& text, Take take) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos && line[first] != '#') take(line);
  }
}

std::vector<std::string> split_words(const std::string& text, const char* separators) {
  std::vector<std::string> words;
  size_t pos = 0;
  while ((pos = text.find_first_not_of(separators, pos)) != std::string::npos) {
    size_t end = text.find_first_of(separators, pos);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

// The "key=value" words of a record line. A "ssid=" word takes the rest of
// the line, blanks included, since network names may hold them.
std::vector<Field> split_fields(const std::string& line) {
  std::vector<Field> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    size_t end = pos;
    while (end < line.size() && !is_blank(line[end])) ++end;
    if (line.compare(pos, 5, "ssid=") == 0) {
      end = line.size();
      if (end > pos && line[end - 1] == '\r') --end;
    }
    std::string word = line.substr(pos, end - pos);
    size_t eq = word.find('=');
    if (eq == std::string::npos) {
      fields.push_back({word, ""});
    } else {
      fields.push_back({word.substr(0, eq), word.substr(eq + 1)});
    }
    pos = end;
  }
  return fields;
}

bool to_long(const std::string& text, long min, long max, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno || *end || value < min || value > max) return false;
  out = value;
  return true;
}

template <typename T>
bool to_number(const std::string& text, long min, long max, T& out) {
  long value;
  if (!to_long(text, min, max, value)) return false;
  out = static_cast<T>(value);
  return true;
}

bool to_flag(const std::string& text, bool& out) {
  if (text != "0" && text != "1") return false;
  out = text == "1";
  return true;
}

bool parse_mac(const std::string& text, uint8_t mac[6]) {
  if (text.size() != 17) return false;
  for (int i = 0; i < 6; ++i) {
    int high = hex_digit_value(text[i * 3]);
    int low = hex_digit_value(text[i * 3 + 1]);
    if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) return false;
    mac[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

struct FlagName {
  const char* name;
  uint8_t flag;
};

const FlagName kCipherNames[] = {
    {"none", kCipherNone},      {"wep40", kCipherWep40}, {"tkip", kCipherTkip},
    {"wrap", kCipherWrap},      {"ccmp", kCipherCcmp},   {"wep104", kCipherWep104},
    {"aes-ocb", kCipherAesOcb}, {"ckip", kCipherCkip},
};
const FlagName kSuiteNames[] = {{"none", kSuiteNone}, {"802.1x", kSuite8021x}, {"psk", kSuitePsk}};
const FlagName kAlgNames[] = {{"open", kAuthOpen}, {"shared", kAuthShared}};

// A comma-separated list of flag names, ORed together.
template <size_t N>
bool to_flags(const std::string& text, const FlagName (&names)[N], uint8_t& out) {
  uint8_t flags = 0;
  for (const std::string& word : split_words(text, ",")) {
    bool known = false;
    for (const FlagName& entry : names) {
      if (word == entry.name) {
        flags |= entry.flag;
        known = true;
      }
    }
    if (!known) return false;
  }
  out = flags;
  return true;
}

bool apply_rate_field(const std::string& key, const std::string& value, Rate& rate) {
  if (key == "rate") return to_number(value, 0, 4000000, rate.kbps);
  if (key == "mcs") return to_number(value, -1, 76, rate.mcs);
  if (key == "40mhz") return to_flag(value, rate.is_40mhz);
  if (key == "short_gi") return to_flag(value, rate.is_short_gi);
  return true;
}

bool apply_station_field(const Field& f, Station& s, bool& has_mac) {
  if (f.key == "mac") return has_mac = parse_mac(f.value, s.mac);
  if (f.key == "signal") return to_number(f.value, -128, 127, s.signal);
  if (f.key == "noise") return to_number(f.value, -128, 127, s.noise);
  if (f.key == "inactive") return to_number(f.value, 0, 0x7fffffff, s.inactive);
  if (f.key == "rx_packets") return to_number(f.value, 0, 0x7fffffff, s.rx_packets);
  if (f.key == "tx_packets") return to_number(f.value, 0, 0x7fffffff, s.tx_packets);
  if (f.key.compare(0, 3, "rx_") == 0) return apply_rate_field(f.key.substr(3), f.value, s.rx_rate);
  if (f.key.compare(0, 3, "tx_") == 0) return apply_rate_field(f.key.substr(3), f.value, s.tx_rate);
  return true;  // keys only the command stand-ins use
}

bool parse_quality(const std::string& text, ScanEntry& e) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) return to_number(text, 0, 255, e.quality);
  return to_number(text.substr(0, slash), 0, 255, e.quality) &&
         to_number(text.substr(slash + 1), 0, 255, e.quality_max);
}

bool parse_signal_dbm(const std::string& text, ScanEntry& e) {
  long dbm;
  if (!to_long(text, -135, -1, dbm)) return false;
  e.signal = static_cast<uint8_t>(dbm + 256);
  return true;
}

bool parse_crypto_kind(const std::string& text, Crypto& c) {
  c = Crypto();
  if (text == "none") return true;
  c.enabled = true;
  if (text == "wep") {
    c.auth_algs = kAuthOpen;
    c.pair_ciphers = c.group_ciphers = kCipherWep40;
    return true;
  }
  c.auth_suites = kSuitePsk;
  if (text == "wpa") c.wpa_version = 1;
  if (text == "wpa2") c.wpa_version = 2;
  if (text == "wpa+wpa2") c.wpa_version = 3;
  c.pair_ciphers = c.group_ciphers = c.wpa_version == 1 ? kCipherTkip : kCipherCcmp;
  return c.wpa_version != 0;
}

// WEP authentication algorithms by name, or as the driver's raw bits.
bool parse_algs(const std::string& text, uint8_t& out) {
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') return to_number(text, 0, 255, out);
  return to_flags(text, kAlgNames, out);
}

// Hex pairs, blanks not allowed; false for anything else.
bool parse_hex(const std::string& text, std::string& out) {
  if (text.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = hex_digit_value(text[i]);
    int low = hex_digit_value(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The raw forms (signal_byte, wpa, numeric algs, ie) write driver values the
// named forms cannot express.
bool apply_scan_field(const Field& f, ScanLine& line, bool& has_mac, bool& has_group) {
  ScanEntry& e = line.entry;
  if (f.key == "ie") return line.raw_ies = parse_hex(f.value, line.ies);
  if (f.key == "bssid") return has_mac = parse_mac(f.value, e.mac);
  if (f.key == "channel") return to_number(f.value, 0, 255, e.channel);
  if (f.key == "signal") return parse_signal_dbm(f.value, e);
  if (f.key == "signal_byte") return to_number(f.value, 0, 255, e.signal);
  if (f.key == "quality") return parse_quality(f.value, e);
  if (f.key == "crypto") return parse_crypto_kind(f.value, e.crypto);
  if (f.key == "wpa") return to_number(f.value, 0, 255, e.crypto.wpa_version);
  if (f.key == "auth") return to_flags(f.value, kSuiteNames, e.crypto.auth_suites);
  if (f.key == "algs") return parse_algs(f.value, e.crypto.auth_algs);
  if (f.key == "group") return has_group = to_flags(f.value, kCipherNames, e.crypto.group_ciphers);
  if (f.key == "pair") return to_flags(f.value, kCipherNames, e.crypto.pair_ciphers);
  if (f.key == "ssid") {
    std::strncpy(e.ssid, f.value.c_str(), sizeof e.ssid - 1);
    return true;
  }
  return true;
}

// Fields are applied in line order, so "crypto=" has to come before the
// fields that refine it; the group ciphers follow the pairwise ones unless
// given.
// Raw elements stand for the WPA fields: the network's crypto is what they
// say, as a reader of them finds it.
bool parse_scan_line(const std::string& text, ScanLine& line) {
  bool has_mac = false;
  bool has_group = false;
  for (const Field& f : split_fields(text)) {
    if (!apply_scan_field(f, line, has_mac, has_group)) return false;
    line.has_quality |= f.key == "quality" || f.key.compare(0, 6, "signal") == 0;
    line.has_crypto |= f.key == "crypto" || f.key == "ie";
  }
  Crypto& c = line.entry.crypto;
  if (!has_group && c.wpa_version != 0) c.group_ciphers = c.pair_ciphers;
  if (line.raw_ies) {
    c.wpa_version = c.group_ciphers = c.pair_ciphers = c.auth_suites = 0;
    parse_information_elements(reinterpret_cast<const uint8_t*>(line.ies.data()), line.ies.size(),
                               c);
  }
  return has_mac;
}

bool is_plain_name(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

}  // namespace

std::vector<Station> parse_stations(const std::string& text) {
  std::vector<Station> stations;
  for_each_line(text, [&](const std::string& line) {
    Station s;
    bool has_mac = false;
    for (const Field& f : split_fields(line)) {
      if (!apply_station_field(f, s, has_mac)) return;
    }
    if (has_mac) stations.push_back(s);
  });
  return stations;
}

std::vector<ScanLine> parse_scan(const std::string& text) {
  std::vector<ScanLine> lines;
  for_each_line(text, [&](const std::string& line) {
    ScanLine parsed;
    if (parse_scan_line(line, parsed)) lines.push_back(parsed);
  });
  return lines;
}

std::vector<Frequency> parse_freqlist(const std::string& text) {
  std::vector<Frequency> list;
  for_each_line(text, [&](const std::string& line) {
    std::vector<std::string> words = split_words(line, " \t\r");
    Frequency f;
    if (words.size() < 2 || words.size() > 3) return;
    if (!to_number(words[0], 0, 255, f.channel) || !to_number(words[1], 1, 100000, f.mhz)) return;
    if (words.size() == 3 && words[2] != "restricted") return;
    f.restricted = words.size() == 3;
    list.push_back(f);
  });
  return list;
}

std::vector<int> parse_txpowerlist(const std::string& text) {
  std::vector<int> list;
  for_each_line(text, [&](const std::string& line) {
    std::vector<std::string> words = split_words(line, " \t\r");
    int dbm;
    if (words.size() == 1 && to_number(words[0], 0, 255, dbm)) list.push_back(dbm);
  });
  return list;
}

bool parse_info_value(const std::string& text, const std::string& key, std::string& out) {
  bool found = false;
  for_each_line(text, [&](const std::string& line) {
    size_t start = line.find_first_not_of(" \t");
    if (found || line.compare(start, key.size(), key) != 0) return;
    if (line.size() <= start + key.size() || line[start + key.size()] != '=') return;
    out = line.substr(start + key.size() + 1);
    while (!out.empty() && is_blank(out.back())) out.pop_back();
    found = true;
  });
  return found;
}

bool SystemFiles::read(const std::string& path, std::string& out) {
  out.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) out.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return n == 0;
}

bool SystemFiles::exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

bool RadioState::is_wireless(const std::string& ifname) {
  return is_plain_name(ifname) && files_.exists(root_ + "/" + ifname + "/info");
}

bool RadioState::interface_exists(const std::string& ifname) {
  return is_plain_name(ifname) && files_.exists("/sys/class/net/" + ifname);
}

bool RadioState::read_state(const std::string& ifname, const std::string& file, std::string& out) {
  if (!is_plain_name(ifname)) return false;
  if (files_.read(root_ + "/" + ifname + "/" + file, out)) return true;
  std::string radio;
  if (file == "info" || !info_value(ifname, "radio", radio) || !is_plain_name(radio)) return false;
  return files_.read(root_ + "/" + radio + "/" + file, out);
}

bool RadioState::info_value(const std::string& ifname, const std::string& key, std::string& out) {
  std::string info;
  if (!read_state(ifname, "info", info)) return false;
  if (parse_info_value(info, key, out)) return true;
  std::string radio;
  if (key == "radio" || !parse_info_value(info, "radio", radio) || !is_plain_name(radio)) {
    return false;
  }
  return files_.read(root_ + "/" + radio + "/info", info) && parse_info_value(info, key, out);
}

bool RadioState::info_int(const std::string& ifname, const std::string& key, int& out) {
  std::string text;
  return info_value(ifname, key, text) && to_number(text, -1000, 1000, out);
}

// A wireless interface without a stations or scan file simply has none.
std::vector<Station> RadioState::stations(const std::string& ifname) {
  std::string text;
  return read_state(ifname, "stations", text) ? parse_stations(text) : std::vector<Station>();
}

std::vector<ScanLine> RadioState::scan(const std::string& ifname) {
  std::string text;
  return read_state(ifname, "scan", text) ? parse_scan(text) : std::vector<ScanLine>();
}

std::vector<Frequency> RadioState::freqlist(const std::string& ifname) {
  std::string text;
  return read_state(ifname, "freqlist", text) ? parse_freqlist(text) : std::vector<Frequency>();
}

std::vector<int> RadioState::txpowerlist(const std::string& ifname) {
  std::string text;
  return read_state(ifname, "txpowerlist", text) ? parse_txpowerlist(text) : std::vector<int>();
}

}  // namespace simradio
