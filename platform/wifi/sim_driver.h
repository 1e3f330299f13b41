// The wireless backend of the simulated device: answers from per-interface
// radio-state files (format in sim/radio/README.md), read through the
// side-effect seam so that tests can serve fixtures.
//
// <root>/<ifname>/info holds "key=value" lines; an interface is wireless when
// that file exists. A file or info key an interface lacks is taken from the
// radio its info names with "radio=", so VAPs share their radio's channel,
// power and lists.
#pragma once

#include <string>
#include <vector>

#include "platform/wifi/wifi.h"

namespace wifi {

inline constexpr const char* kSimRadioRoot = "/sim/radio";

class SimDriver : public Backend {
 public:
  explicit SimDriver(std::string root = kSimRadioRoot) : root_(std::move(root)) {}

  bool assoclist(const std::string& ifname, std::vector<Station>& out) override;
  bool scanlist(const std::string& ifname, std::vector<ScanEntry>& out) override;
  bool freqlist(const std::string& ifname, std::vector<Frequency>& out) override;
  bool txpwrlist(const std::string& ifname, std::vector<TxPower>& out) override;
  bool channel(const std::string& ifname, int& out) override;
  bool txpower(const std::string& ifname, int& out) override;
  bool txpower_offset(const std::string& ifname, int& out) override;
  bool handles(const std::string& ifname) override;

 private:
  bool read_state(const std::string& ifname, const std::string& file, std::string& out);
  bool info_value(const std::string& ifname, const std::string& key, std::string& out);
  bool info_int(const std::string& ifname, const std::string& key, int& out);

  std::string root_;
};

// Parsers of the state files, one record per line; lines that do not parse
// are skipped.
std::vector<Station> parse_stations(const std::string& text);
std::vector<ScanEntry> parse_scan(const std::string& text);
std::vector<Frequency> parse_freqlist(const std::string& text);
std::vector<TxPower> parse_txpowerlist(const std::string& text);
// The value of "key=value" in an info text; false when the key is absent.
bool parse_info_value(const std::string& text, const std::string& key, std::string& out);

}  // namespace wifi
