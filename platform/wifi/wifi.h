// The wireless-driver information layer: what the wireless service asks of a
// radio driver (associated stations, scan results, supported frequencies and
// power levels, current channel and power) and the records it gets back.
//
// The implementation in use reads the simulated device's radio-state files
// (sim_driver.h); a driver-library adapter can be installed in its place.
#pragma once

#include <cstdint>
#include <string>
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

// One driver backend. Every operation names the interface it asks about and
// returns false when the driver cannot answer.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual bool assoclist(const std::string& ifname, std::vector<Station>& out) = 0;
  virtual bool scanlist(const std::string& ifname, std::vector<ScanEntry>& out) = 0;
  virtual bool freqlist(const std::string& ifname, std::vector<Frequency>& out) = 0;
  virtual bool txpwrlist(const std::string& ifname, std::vector<TxPower>& out) = 0;
  virtual bool channel(const std::string& ifname, int& out) = 0;
  virtual bool txpower(const std::string& ifname, int& out) = 0;
  virtual bool txpower_offset(const std::string& ifname, int& out) = 0;

  // True when ifname is a wireless interface this backend can answer for.
  virtual bool handles(const std::string& ifname) = 0;
  // Drops whatever the backend keeps between calls.
  virtual void finish() {}
};

// The backend of a wireless interface, or nullptr when ifname is not one.
Backend* backend(const std::string& ifname);
// Releases what the backend in use keeps between calls.
void finish();
// Installs another backend; nullptr restores the simulated device's one.
void set_backend(Backend* backend);

// Power in milliwatts of a level in dBm, truncated (23 dBm gives 199); 1 for
// levels of 0 dBm and below.
int dbm_to_mw(int dbm);

}  // namespace wifi
