// Readers of what the kernel and the radio driver write into this process's
// buffers: the scan event stream of the wireless extensions and the driver's
// station records. Both come in the process's own layout: native byte order
// and word size, so the same code reads the 64-bit host and the 32-bit
// big-endian board.
#include <linux/wireless.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/wifi/wifi.h"

namespace wifi {
namespace {

uint16_t native_u16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
T native_field(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// ---- information elements ----

constexpr uint8_t wpa_oui[3] = {0x00, 0x50, 0xF2};
constexpr uint8_t rsn_oui[3] = {0x00, 0x0F, 0xAC};

uint8_t cipher_flag(uint8_t suite) {
  switch (suite) {
    case 0:
      return kCipherNone;
    case 1:
      return kCipherWep40;
    case 2:
      return kCipherTkip;
    case 4:
      return kCipherCcmp;
    case 5:
      return kCipherWep104;
    default:
      return 0;
  }
}

uint8_t akm_flag(uint8_t suite) {
  return suite == 1 ? kSuite8021x : suite == 2 ? kSuitePsk : 0;
}

// The fields of a WPA or RSN element body, read in order; each read fails
// once the body has no room for it.
class BodyReader {
 public:
  BodyReader(const uint8_t* data, size_t length, const uint8_t (&oui)[3])
      : data_(data), length_(length), oui_(oui) {}

  bool skip(size_t n) {
    if (length_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  // A little-endian count, as 802.11 writes it.
  bool count(uint16_t& out) {
    if (length_ - pos_ < 2) return false;
    out = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  // A suite selector; type is 0xFF for one of another organisation.
  bool suite(uint8_t& type) {
    if (length_ - pos_ < 4) return false;
    type = std::memcmp(data_ + pos_, oui_, 3) == 0 ? data_[pos_ + 3] : 0xFF;
    pos_ += 4;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t pos_ = 0;
  const uint8_t (&oui_)[3];
};

// Version, group cipher, pairwise ciphers, key management suites: as far as
// the body goes.
void read_security_body(BodyReader body, Crypto& crypto) {
  uint8_t type;
  uint16_t count;
  if (!body.skip(2) || !body.suite(type)) return;
  crypto.group_ciphers |= cipher_flag(type);
  if (!body.count(count)) return;
  for (uint16_t i = 0; i < count; ++i) {
    if (!body.suite(type)) return;
    crypto.pair_ciphers |= cipher_flag(type);
  }
  if (!body.count(count)) return;
  for (uint16_t i = 0; i < count; ++i) {
    if (!body.suite(type)) return;
    crypto.auth_suites |= akm_flag(type);
  }
}

// ---- scan events ----

constexpr size_t event_head = IW_EV_LCP_LEN;
// An iw_point event: the head, then the point's length and flags (its
// pointer left out), then the point's data.
constexpr size_t point_head = IW_EV_POINT_LEN;

struct PointEvent {
  uint16_t length;
  uint16_t flags;
  const uint8_t* data;
};

// The point of an event of event_length bytes; false when the event is too
// short for its head or for the data it announces.
bool read_point(const uint8_t* event, size_t event_length, PointEvent& point) {
  if (event_length < point_head) return false;
  point.length = native_u16(event + event_head);
  point.flags = native_u16(event + event_head + 2);
  point.data = event + point_head;
  return point.length <= event_length - point_head;
}

void read_encode(const PointEvent& point, Crypto& crypto) {
  crypto.enabled = !(point.flags & IW_ENCODE_DISABLED);
  if (point.flags & IW_ENCODE_OPEN) crypto.auth_algs |= kAuthOpen;
  if (point.flags & IW_ENCODE_RESTRICTED) crypto.auth_algs |= kAuthShared;
  // The key's size names the WEP cipher; its bytes are never given.
  if (point.length == 5) crypto.pair_ciphers = crypto.group_ciphers = kCipherWep40;
  if (point.length == 13) crypto.pair_ciphers = crypto.group_ciphers = kCipherWep104;
}

// Applies one event to the entry being read (the AP address starts a new
// one); false when the event is malformed and the walk has to end.
bool apply_event(uint16_t command, const uint8_t* event, size_t event_length,
                 const ScanRange& range, std::vector<ScanEntry>& entries) {
  const uint8_t* payload = event + event_head;
  size_t room = event_length - event_head;
  if (command == SIOCGIWAP) {
    if (room < sizeof(sockaddr)) return false;
    entries.emplace_back();
    std::memcpy(entries.back().mac, payload + offsetof(sockaddr, sa_data), 6);
    return true;
  }
  if (entries.empty()) return true;
  ScanEntry& entry = entries.back();
  PointEvent point;
  switch (command) {
    case SIOCGIWESSID:
      if (!read_point(event, event_length, point) || point.length > 32) return false;
      std::memset(entry.ssid, 0, sizeof entry.ssid);
      std::memcpy(entry.ssid, point.data, point.length);
      return true;
    case SIOCGIWMODE:
      if (room < sizeof(uint32_t)) return false;
      entry.mode = static_cast<uint8_t>(native_field<uint32_t>(payload));
      return true;
    case SIOCGIWFREQ: {
      if (room < sizeof(iw_freq)) return false;
      iw_freq freq = native_field<iw_freq>(payload);
      int channel = frequency_channel(freq.m, freq.e, range);
      if (channel >= 0) entry.channel = static_cast<uint8_t>(channel);
      return true;
    }
    case IWEVQUAL: {
      if (room < sizeof(iw_quality)) return false;
      iw_quality quality = native_field<iw_quality>(payload);
      entry.quality = quality.qual;
      entry.quality_max = range.quality_max;
      entry.signal = quality.level;
      return true;
    }
    case SIOCGIWENCODE:
      if (!read_point(event, event_length, point)) return false;
      read_encode(point, entry.crypto);
      return true;
    case IWEVGENIE:
      if (!read_point(event, event_length, point)) return false;
      parse_information_elements(point.data, point.length, entry.crypto);
      return true;
    default:
      return true;
  }
}

// ---- station records ----

Station read_station(const uint8_t* record, int8_t noise) {
  namespace field = station_field;
  Station station;
  std::memcpy(station.mac, record + field::mac, 6);
  station.signal = static_cast<int8_t>(std::min(record[field::rssi] - 95, 127));
  station.noise = noise;
  station.inactive = native_u16(record + field::inactive) * 1000u;
  station.tx_packets = (native_u16(record + field::tx_seq) & 0xFFF0) >> 4;
  station.rx_packets = (native_u16(record + field::rx_seq) & 0xFFF0) >> 4;
  size_t rate_count = std::min<size_t>(record[field::rate_count], field::rate_slots);
  size_t tx_index = record[field::tx_rate];
  uint32_t kbps = tx_index < rate_count ? (record[field::rates + tx_index] & 0x7F) * 500u : 0;
  station.tx_rate.kbps = station.rx_rate.kbps = kbps;
  return station;
}

}  // namespace

uint32_t frequency_mhz(int32_t m, int16_t e) {
  if (m < 1000) return 0;
  double hz = m;
  for (int i = e; i > 0; --i) hz *= 10;
  for (int i = e; i < 0; ++i) hz /= 10;
  double mhz = hz / 1e6 + 0.5;
  return mhz < 4294967295.0 ? static_cast<uint32_t>(mhz) : 0;
}

int frequency_channel(int32_t m, int16_t e, const ScanRange& range) {
  if (m >= 0 && m < 1000) return m;
  uint32_t mhz = frequency_mhz(m, e);
  for (const auto& [entry_mhz, channel] : range.frequencies) {
    if (mhz != 0 && entry_mhz == mhz) return channel;
  }
  return -1;
}

void parse_information_elements(const uint8_t* data, size_t length, Crypto& crypto) {
  size_t pos = 0;
  while (length - pos >= 2) {
    uint8_t id = data[pos];
    size_t size = data[pos + 1];
    const uint8_t* body = data + pos + 2;
    if (size > length - pos - 2) return;  // runs past the event
    if (id == 0x30) {
      crypto.wpa_version |= 2;
      read_security_body(BodyReader(body, size, rsn_oui), crypto);
    } else if (id == 0xDD && size >= 4 && std::memcmp(body, wpa_oui, 3) == 0 && body[3] == 1) {
      crypto.wpa_version |= 1;
      read_security_body(BodyReader(body + 4, size - 4, wpa_oui), crypto);
    }
    pos += 2 + size;
  }
}

std::vector<ScanEntry> parse_scan_events(const uint8_t* data, size_t length,
                                         const ScanRange& range) {
  std::vector<ScanEntry> entries;
  size_t pos = 0;
  while (length - pos >= event_head) {
    uint16_t event_length = native_u16(data + pos);
    uint16_t command = native_u16(data + pos + 2);
    if (event_length < event_head || event_length > length - pos) break;
    if (!apply_event(command, data + pos, event_length, range, entries)) break;
    pos += event_length;
  }
  return entries;
}

std::vector<Station> parse_station_records(const uint8_t* data, size_t length, int8_t noise) {
  std::vector<Station> stations;
  size_t pos = 0;
  while (length - pos >= kStationRecordMin) {
    uint16_t record_length = native_u16(data + pos + station_field::length);
    if (record_length < kStationRecordMin || record_length > length - pos) break;
    stations.push_back(read_station(data + pos, noise));
    pos += record_length;
  }
  return stations;
}

}  // namespace wifi
