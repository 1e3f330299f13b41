// The wireless-driver information layer: what the wireless service asks of a
// radio driver (associated stations, scan results, supported frequencies and
// power levels, current channel and power) and the records it gets back.
//
// It talks to the kernel: the wireless extensions (linux/wireless.h, one
// struct iwreq per call) and the radio driver's private station-list ioctl,
// all through the side-effect seam's socket_ioctl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wifi {

// Cipher flags of Crypto::group_ciphers and Crypto::pair_ciphers.
enum : uint8_t {
  kCipherNone = 1,
  kCipherWep40 = 2,
  kCipherTkip = 4,
  kCipherWrap = 8,
  kCipherCcmp = 16,
  kCipherWep104 = 32,
  kCipherAesOcb = 64,
  kCipherCkip = 128,
};

// Flags of Crypto::auth_suites.
enum : uint8_t { kSuiteNone = 1, kSuite8021x = 2, kSuitePsk = 4 };

// Flags of Crypto::auth_algs.
enum : uint8_t { kAuthOpen = 1, kAuthShared = 2 };

struct Rate {
  uint32_t kbps = 0;
  int8_t mcs = -1;  // negative: not an HT rate
  bool is_40mhz = false;
  bool is_short_gi = false;
};

struct Station {
  uint8_t mac[6] = {};
  int8_t signal = 0;      // dBm
  int8_t noise = 0;       // dBm
  uint32_t inactive = 0;  // milliseconds since the last frame
  uint32_t rx_packets = 0;
  uint32_t tx_packets = 0;
  Rate rx_rate;
  Rate tx_rate;
};

struct Crypto {
  bool enabled = false;
  uint8_t wpa_version = 0;  // 0 none or WEP, 1 WPA, 2 WPA2, 3 both
  uint8_t group_ciphers = 0;
  uint8_t pair_ciphers = 0;
  uint8_t auth_suites = 0;
  uint8_t auth_algs = 0;
};

struct ScanEntry {
  uint8_t mac[6] = {};
  uint8_t mode = 0;    // the IW_MODE_* the network runs in
  char ssid[33] = {};  // raw bytes as broadcast, zero-terminated
  uint8_t channel = 0;
  // The driver's signal byte: dBm + 256 for levels from -135 dBm up.
  uint8_t signal = 0;
  uint8_t quality = 0;
  uint8_t quality_max = 0;
  Crypto crypto;
};

struct Frequency {
  uint32_t mhz = 0;
  uint8_t channel = 0;
  bool restricted = false;
};

struct TxPower {
  uint8_t dbm = 0;
  uint16_t mw = 0;
};

// The wireless extensions of one interface. Every operation returns false
// when the driver cannot answer.
class Backend {
 public:
  bool assoclist(const std::string& ifname, std::vector<Station>& out);
  // Starts a scan and collects its results, waiting for them at most until
  // deadline_ms (the seam's monotonic clock).
  bool scanlist(const std::string& ifname, std::vector<ScanEntry>& out, int64_t deadline_ms);
  bool freqlist(const std::string& ifname, std::vector<Frequency>& out);
  bool txpwrlist(const std::string& ifname, std::vector<TxPower>& out);
  bool channel(const std::string& ifname, int& out);
  bool txpower(const std::string& ifname, int& out);
  // The wireless extensions know no power offset: always false, with 0.
  bool txpower_offset(const std::string& ifname, int& out);
};

// The backend of a wireless interface (one the kernel names wireless), or
// nullptr when ifname is not one.
Backend* backend(const std::string& ifname);
// Releases what the backend keeps between calls (nothing: every call opens
// and closes what it uses).
void finish();

// Power in milliwatts of a level in dBm, truncated (23 dBm gives 199); 1 for
// levels of 0 dBm and below.
int dbm_to_mw(int dbm);
// The level in dBm nearest to mw milliwatts (10·log10, rounded); 0 up to 1 mW.
int mw_to_dbm(int mw);

// The private ioctl of the radio driver that lists a VAP's stations, and the
// buffer it fills.
inline constexpr unsigned long kStationListIoctl = 0x89F0 + 6;  // SIOCDEVPRIVATE + 6
inline constexpr size_t kStationListBytes = 24 * 1024;
// Fixed part of a station record; information elements may follow it.
inline constexpr size_t kStationRecordMin = 120;
// Offsets of the record's fields (native byte order, naturally aligned):
// u16 record length, u8 RSSI, 6-byte MAC, u8 rate count and up to 15 rate
// bytes (500 kbit/s units, top bit: basic rate), u8 index of the transmit
// rate, u16 transmit and receive sequence numbers (packets << 4), u16
// seconds of inactivity.
namespace station_field {
inline constexpr size_t length = 0;
inline constexpr size_t rssi = 9;
inline constexpr size_t mac = 16;
inline constexpr size_t rate_count = 22;
inline constexpr size_t rates = 23;
inline constexpr size_t rate_slots = 15;
inline constexpr size_t tx_rate = 38;
inline constexpr size_t tx_seq = 48;
inline constexpr size_t rx_seq = 82;
inline constexpr size_t inactive = 116;
}  // namespace station_field

// What a scan's event stream is read against: the interface's frequency
// list (to turn frequencies into channels) and its quality maximum.
struct ScanRange {
  std::vector<std::pair<uint32_t, uint8_t>> frequencies;  // (MHz, channel)
  uint8_t quality_max = 0;
};

// A frequency field of the wireless extensions (m·10^e Hz) in MHz; 0 when
// the mantissa is below 1000, since the field then holds a channel number.
uint32_t frequency_mhz(int32_t m, int16_t e);
// The channel a frequency field names: the number itself, or the channel of
// the range entry with that frequency; -1 when none has it.
int frequency_channel(int32_t m, int16_t e, const ScanRange& range);

// Readers of the bytes the kernel hands this process: the scan event stream
// (native 16-bit length and command, iw_point events without their pointer)
// and the station records. They never read past length and stop at the
// first malformed record.
std::vector<ScanEntry> parse_scan_events(const uint8_t* data, size_t length,
                                         const ScanRange& range);
std::vector<Station> parse_station_records(const uint8_t* data, size_t length, int8_t noise);
// Adds what WPA (DD 00:50:F2 01) and RSN (30) elements in a run of
// information elements say to crypto.
void parse_information_elements(const uint8_t* data, size_t length, Crypto& crypto);

}  // namespace wifi
