// The simulated device's radio state: per-interface text files under
// /sim/radio (format in sim/radio/README.md), read by the device's kernel
// stand-in (the wireless ioctls answered below the agent, wext_answers.h)
// and by sim-supplicant.
//
// <root>/<ifname>/info holds "key=value" lines; an interface is wireless when
// that file exists. A file or info key an interface lacks is taken from the
// radio its info names with "radio=", so VAPs share their radio's channel,
// power and lists.
#pragma once

#include <string>
#include <vector>

#include "platform/wifi/wifi.h"

namespace simradio {

inline constexpr const char* kRadioRoot = "/sim/radio";

// Where the state files are read from: the file system, or a test's fixture.
class StateFiles {
 public:
  virtual ~StateFiles() = default;
  virtual bool read(const std::string& path, std::string& out) = 0;
  virtual bool exists(const std::string& path) = 0;
};

// The real file system.
class SystemFiles : public StateFiles {
 public:
  bool read(const std::string& path, std::string& out) override;
  bool exists(const std::string& path) override;
};

// A network the radio hears: the driver values, and the information
// elements given raw with "ie=" (they replace the ones the crypto fields
// would give).
struct ScanLine {
  wifi::ScanEntry entry;
  bool raw_ies = false;
  std::string ies;
  // The line names a quality or signal, a crypto kind: the driver reports
  // them (a network without them gets no such event).
  bool has_quality = false;
  bool has_crypto = false;
};

class RadioState {
 public:
  explicit RadioState(StateFiles& files, std::string root = kRadioRoot)
      : files_(files), root_(std::move(root)) {}

  // ifname has an info file.
  bool is_wireless(const std::string& ifname);
  // The interface exists at all (wireless or not).
  bool interface_exists(const std::string& ifname);
  bool read_state(const std::string& ifname, const std::string& file, std::string& out);
  bool info_value(const std::string& ifname, const std::string& key, std::string& out);
  bool info_int(const std::string& ifname, const std::string& key, int& out);

  std::vector<wifi::Station> stations(const std::string& ifname);
  std::vector<ScanLine> scan(const std::string& ifname);
  std::vector<wifi::Frequency> freqlist(const std::string& ifname);
  std::vector<int> txpowerlist(const std::string& ifname);

 private:
  StateFiles& files_;
  std::string root_;
};

// Parsers of the state files, one record per line; lines that do not parse
// are skipped.
std::vector<wifi::Station> parse_stations(const std::string& text);
std::vector<ScanLine> parse_scan(const std::string& text);
std::vector<wifi::Frequency> parse_freqlist(const std::string& text);
std::vector<int> parse_txpowerlist(const std::string& text);
// The value of "key=value" in an info text; false when the key is absent.
bool parse_info_value(const std::string& text, const std::string& key, std::string& out);

}  // namespace simradio
