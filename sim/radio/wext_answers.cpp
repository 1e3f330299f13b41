#include "sim/radio/wext_answers.h"

#include <linux/wireless.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace simradio {
namespace {

// What an unset quality maximum reads as (iwconfig's link quality scale).
constexpr int default_quality_max = 94;

template <typename T>
void append_native(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// An event: 16-bit length and command, padded to the head's size, then the
// fixed payload.
template <typename T>
void add_event(std::string& stream, uint16_t command, const T& payload) {
  size_t start = stream.size();
  stream.resize(start + IW_EV_LCP_LEN);
  uint16_t length = static_cast<uint16_t>(IW_EV_LCP_LEN + sizeof payload);
  std::memcpy(&stream[start], &length, 2);
  std::memcpy(&stream[start + 2], &command, 2);
  append_native(stream, payload);
}

// An iw_point event: the head, the point's length and flags where its
// pointer left off, padding to IW_EV_POINT_LEN, then the data.
void add_point_event(std::string& stream, uint16_t command, uint16_t flags,
                     const std::string& data) {
  size_t start = stream.size();
  stream.resize(start + IW_EV_POINT_LEN);
  uint16_t length = static_cast<uint16_t>(IW_EV_POINT_LEN + data.size());
  uint16_t data_length = static_cast<uint16_t>(data.size());
  std::memcpy(&stream[start], &length, 2);
  std::memcpy(&stream[start + 2], &command, 2);
  std::memcpy(&stream[start + IW_EV_LCP_LEN], &data_length, 2);
  std::memcpy(&stream[start + IW_EV_LCP_LEN + 2], &flags, 2);
  stream += data;
}

struct SuiteFlag {
  uint8_t flag;
  uint8_t suite;
};
constexpr SuiteFlag cipher_suites[] = {{wifi::kCipherNone, 0},
                                       {wifi::kCipherWep40, 1},
                                       {wifi::kCipherTkip, 2},
                                       {wifi::kCipherCcmp, 4},
                                       {wifi::kCipherWep104, 5}};
constexpr SuiteFlag akm_suites[] = {{wifi::kSuite8021x, 1}, {wifi::kSuitePsk, 2}};

// The count and selectors of the suites whose flags are set; with
// first_only, the first of them alone.
template <size_t N>
std::string suite_list(const std::string& oui, uint8_t flags, const SuiteFlag (&table)[N],
                       bool first_only = false) {
  std::string selectors;
  for (const SuiteFlag& entry : table) {
    if (!(flags & entry.flag)) continue;
    selectors += oui + static_cast<char>(entry.suite);
    if (first_only) return selectors;
  }
  return std::string{static_cast<char>(selectors.size() / 4), '\0'} + selectors;
}

std::string security_element(char id, const std::string& prefix, const std::string& oui,
                             const wifi::Crypto& c) {
  std::string body =
      prefix + std::string("\x01\x00", 2) + suite_list(oui, c.group_ciphers, cipher_suites, true) +
      suite_list(oui, c.pair_ciphers, cipher_suites) + suite_list(oui, c.auth_suites, akm_suites);
  return std::string{id, static_cast<char>(body.size())} + body;
}

// The WPA and RSN elements a network with these crypto values sends.
std::string security_elements(const wifi::Crypto& c) {
  const std::string wpa_oui("\x00\x50\xF2", 3);
  const std::string rsn_oui("\x00\x0F\xAC", 3);
  std::string ies;
  if (!c.enabled) return ies;
  if (c.wpa_version & 1) ies += security_element('\xDD', wpa_oui + '\x01', wpa_oui, c);
  if (c.wpa_version & 2) ies += security_element('\x30', "", rsn_oui, c);
  return ies;
}

// Encoding flags: the algorithms as open/restricted; a WEP network's key
// size tells its cipher.
void add_encode_event(std::string& stream, const wifi::Crypto& c) {
  uint16_t flags = IW_ENCODE_NOKEY;
  flags |= c.enabled ? IW_ENCODE_ENABLED : IW_ENCODE_DISABLED;
  if (c.auth_algs & wifi::kAuthOpen) flags |= IW_ENCODE_OPEN;
  if (c.auth_algs & wifi::kAuthShared) flags |= IW_ENCODE_RESTRICTED;
  size_t key_size = 0;
  if (c.enabled && c.wpa_version == 0) {
    if (c.pair_ciphers & wifi::kCipherWep104) key_size = 13;
    if (c.pair_ciphers & wifi::kCipherWep40) key_size = 5;
  }
  add_point_event(stream, SIOCGIWENCODE, flags, std::string(key_size, '\0'));
}

// The events of one network, in the order drivers send them; quality and
// encoding only when the line names them, so a scan of many bare lines
// stays within what one answer can carry (65535 bytes).
void add_scan_line(std::string& stream, const ScanLine& line) {
  const wifi::ScanEntry& e = line.entry;
  sockaddr address{};
  address.sa_family = ARPHRD_ETHER;
  std::memcpy(address.sa_data, e.mac, 6);
  add_event(stream, SIOCGIWAP, address);
  iw_freq freq{};
  freq.m = e.channel;
  add_event(stream, SIOCGIWFREQ, freq);
  std::string ssid(e.ssid, strnlen(e.ssid, 32));
  add_point_event(stream, SIOCGIWESSID, ssid.empty() ? 0 : 1, ssid);
  if (line.has_quality) {
    iw_quality quality{};
    quality.qual = e.quality;
    quality.level = e.signal;
    quality.updated =
        IW_QUAL_QUAL_UPDATED | IW_QUAL_LEVEL_UPDATED | IW_QUAL_NOISE_INVALID | IW_QUAL_DBM;
    add_event(stream, IWEVQUAL, quality);
  }
  if (!line.has_crypto) return;
  add_encode_event(stream, e.crypto);
  std::string ies = line.raw_ies ? line.ies : security_elements(e.crypto);
  if (!ies.empty()) add_point_event(stream, IWEVGENIE, 0, ies);
}

// The maximum of "link_quality=N/MAX" in the interface's info.
int quality_max(RadioState& state, const std::string& ifname) {
  std::string text;
  if (!state.info_value(ifname, "link_quality", text)) return default_quality_max;
  size_t slash = text.find('/');
  int max = slash == std::string::npos ? 0 : std::atoi(text.c_str() + slash + 1);
  return max > 0 && max < 256 ? max : default_quality_max;
}

// Copies an answer into the caller's buffer as the kernel copies it out:
// E2BIG with the size needed when it does not fit.
int copy_out(iwreq& request, const std::string& answer) {
  if (answer.size() > request.u.data.length) {
    request.u.data.length = static_cast<uint16_t>(std::min<size_t>(answer.size(), 0xFFFF));
    errno = E2BIG;
    return -1;
  }
  if (!answer.empty()) std::memcpy(request.u.data.pointer, answer.data(), answer.size());
  request.u.data.length = static_cast<uint16_t>(answer.size());
  return 0;
}

template <typename T>
int copy_struct(iwreq& request, const T& value) {
  return copy_out(request, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

int fail(int error) {
  errno = error;
  return -1;
}

int answer_range(RadioState& state, const std::string& ifname, iwreq& request) {
  iw_range range{};
  range.we_version_compiled = WIRELESS_EXT;
  range.we_version_source = WIRELESS_EXT;
  std::vector<wifi::Frequency> frequencies = state.freqlist(ifname);
  range.num_channels = range.num_frequency =
      static_cast<uint8_t>(std::min<size_t>(frequencies.size(), IW_MAX_FREQUENCIES));
  for (int i = 0; i < range.num_frequency; ++i) {
    range.freq[i].m = static_cast<int32_t>(frequencies[i].mhz);
    range.freq[i].e = 6;
    range.freq[i].i = frequencies[i].channel;
  }
  // The driver lists at most IW_MAX_TXPOWER levels: the first ones.
  std::vector<int> levels = state.txpowerlist(ifname);
  range.num_txpower = static_cast<uint8_t>(std::min<size_t>(levels.size(), IW_MAX_TXPOWER));
  for (int i = 0; i < range.num_txpower; ++i) range.txpower[i] = levels[i];
  range.txpower_capa = IW_TXPOW_DBM;
  range.max_qual.qual = static_cast<uint8_t>(quality_max(state, ifname));
  range.max_qual.level = 0;
  range.max_qual.updated = IW_QUAL_DBM;
  return copy_struct(request, range);
}

// The current channel as the frequency of the radio's list entry, or as the
// number when the list lacks it.
int answer_frequency(RadioState& state, const std::string& ifname, iwreq& request) {
  int channel;
  if (!state.info_int(ifname, "channel", channel)) return fail(EINVAL);
  request.u.freq = iw_freq{};
  request.u.freq.m = channel;
  for (const wifi::Frequency& f : state.freqlist(ifname)) {
    if (f.channel == channel && f.mhz != 0) {
      request.u.freq.m = static_cast<int32_t>(f.mhz);
      request.u.freq.e = 6;
      break;
    }
  }
  request.u.freq.flags = IW_FREQ_FIXED;
  return 0;
}

int answer_txpower(RadioState& state, const std::string& ifname, iwreq& request) {
  int dbm;
  if (!state.info_int(ifname, "txpower", dbm)) return fail(EINVAL);
  request.u.txpower = iw_param{};
  request.u.txpower.value = dbm;
  request.u.txpower.fixed = 1;
  request.u.txpower.flags = IW_TXPOW_DBM;
  return 0;
}

// Link quality and levels, as iwconfig shows them from the same info.
int answer_stats(RadioState& state, const std::string& ifname, iwreq& request) {
  iw_statistics stats{};
  int noise;
  int signal;
  if (state.info_int(ifname, "noise_level", noise)) {
    stats.qual.noise = static_cast<uint8_t>(noise);
  } else {
    stats.qual.updated |= IW_QUAL_NOISE_INVALID;
  }
  if (state.info_int(ifname, "signal_level", signal))
    stats.qual.level = static_cast<uint8_t>(signal);
  std::string quality;
  if (state.info_value(ifname, "link_quality", quality))
    stats.qual.qual = static_cast<uint8_t>(std::atoi(quality.c_str()));
  stats.qual.updated |= IW_QUAL_DBM;
  return copy_struct(request, stats);
}

std::string interface_name(const iwreq& request) {
  return std::string(request.ifr_name, strnlen(request.ifr_name, IFNAMSIZ));
}

// Only whole records go out: a buffer too small gets the first ones.
int answer_stations(RadioState& state, const std::string& ifname, iwreq& request) {
  std::string records = station_records(state.stations(ifname));
  size_t room = request.u.data.length;
  records.resize(
      std::min(records.size(), room / wifi::kStationRecordMin * wifi::kStationRecordMin));
  return copy_out(request, records);
}

}  // namespace

bool is_wireless_request(unsigned long request) {
  return (request >= SIOCIWFIRST && request <= SIOCIWLAST) || request == wifi::kStationListIoctl;
}

std::string scan_event_stream(RadioState& state, const std::string& ifname) {
  std::string stream;
  for (const ScanLine& line : state.scan(ifname)) add_scan_line(stream, line);
  return stream;
}

std::string station_records(const std::vector<wifi::Station>& stations) {
  namespace field = wifi::station_field;
  std::string out;
  for (const wifi::Station& s : stations) {
    uint8_t record[wifi::kStationRecordMin] = {};
    auto put16 = [&record](size_t at, uint32_t value) {
      uint16_t native = static_cast<uint16_t>(value);
      std::memcpy(record + at, &native, 2);
    };
    put16(field::length, sizeof record);
    record[field::rssi] = static_cast<uint8_t>(std::clamp(s.signal + 95, 0, 255));
    std::memcpy(record + field::mac, s.mac, 6);
    uint32_t rate = std::min<uint32_t>(s.tx_rate.kbps / 500, 127);
    record[field::rate_count] = rate ? 1 : 0;
    record[field::rates] = static_cast<uint8_t>(rate);
    put16(field::tx_seq, s.tx_packets << 4);
    put16(field::rx_seq, s.rx_packets << 4);
    put16(field::inactive, std::min<uint32_t>(s.inactive / 1000, 0xFFFF));
    out.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  return out;
}

int answer_wireless_ioctl(RadioState& state, unsigned long request, void* argument) {
  iwreq& req = *static_cast<iwreq*>(argument);
  std::string ifname = interface_name(req);
  if (!state.is_wireless(ifname)) return fail(state.interface_exists(ifname) ? EOPNOTSUPP : ENODEV);
  switch (request) {
    case SIOCGIWNAME: {
      std::string protocol = "IEEE 802.11";
      state.info_value(ifname, "protocol", protocol);
      std::memset(req.u.name, 0, IFNAMSIZ);
      std::memcpy(req.u.name, protocol.data(), std::min<size_t>(protocol.size(), IFNAMSIZ - 1));
      return 0;
    }
    case SIOCGIWRANGE:
      return answer_range(state, ifname, req);
    case SIOCGIWFREQ:
      return answer_frequency(state, ifname, req);
    case SIOCGIWTXPOW:
      return answer_txpower(state, ifname, req);
    case SIOCGIWSTATS:
      return answer_stats(state, ifname, req);
    case SIOCSIWSCAN:
      return 0;
    case SIOCGIWSCAN:
      return copy_out(req, scan_event_stream(state, ifname));
    case wifi::kStationListIoctl:
      return answer_stations(state, ifname, req);
    default:
      return fail(EOPNOTSUPP);
  }
}

}  // namespace simradio
