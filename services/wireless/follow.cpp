// Signal following: GET /followsig/2g/BSSID (or 5g/) scans the radio of the
// band and answers the AP element of that BSSID. A client main VAP leaves
// its network for the scan and rejoins it afterwards. Every answer writes a
// running number to /var/state/sig_follow for the rest of the firmware.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/wifi/wifi.h"
#include "services/common/request_body.h"
#include "services/wireless/format.h"
#include "services/wireless/survey.h"
#include "services/wireless/wireless.h"

namespace {

// Both scans of a request together wait at most this long for results.
constexpr int64_t follow_scan_ms = 15000;

// The network a client VAP is parked on while its radio scans.
constexpr const char* placeholder_essid = "abcdefgh12345678igklmnop1234567";

// Text for the inside of single quotes: each ' becomes '\''.
std::string single_quoted_inside(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted;
}

void iwconfig(const char* ifname, const std::string& arguments) {
  fx().run(std::string("iwconfig ") + ifname + " " + arguments + " > /dev/null");
}

// The AP element of the first scan entry with the target address, or "".
// Only the entries a survey shows are searched.
std::string find_ap(const char* ifname, const char* band, const char* target) {
  int64_t deadline = fx().monotonic_ms() + follow_scan_ms;
  for (int attempt = 0; attempt < 2; ++attempt) {
    wifi::Backend* driver = wifi::backend(ifname);
    std::vector<wifi::ScanEntry> entries;
    if (!driver || !driver->scanlist(ifname, entries, deadline)) continue;
    size_t searched = std::min(entries.size(), scan_entry_limit);
    for (size_t i = 0; i < searched; ++i) {
      const wifi::ScanEntry& entry = entries[i];
      if (strcasecmp(mac_text(entry.mac).c_str(), target) == 0) return scan_ap_element(band, entry);
    }
  }
  return "";
}

void write_follow_counter() {
  unsigned& counter = worker().follow_counter;
  fx().write_file("/var/state/sig_follow", std::to_string(static_cast<int>(counter)) + "\n");
  if (++counter == 0) counter = 1;
}

}  // namespace

int follow_signal(int fd, char* rest) {
  if (!rest) return 0;
  int radio = std::strstr(rest, "2g/") ? 0 : std::strstr(rest, "5g/") ? 1 : -1;
  if (radio < 0) return 0;
  const char* ifname = radio == 0 ? "ath0" : "ath1";
  const char* band = radio == 0 ? "2G" : "5G";
  const char* target = rest + 3;
  int slot = main_slot(radio);
  bool client = iface_option(slot, "mode", 8) == "sta";
  std::string kept_ssid;
  if (client) {
    kept_ssid = iface_option(slot, "ssid", 33);
    iwconfig(ifname, std::string("essid ") + placeholder_essid);
    iwconfig(ifname, "ap off");
  }
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  std::string ap = find_ap(ifname, band, target);
  if (ap.empty())
    appendf(ap,
            "<AP><BAND></BAND><SSID></SSID><BSSID>%s</BSSID><SIGNAL></SIGNAL><QUALITY></QUALITY>"
            "<ENCRYPTION></ENCRYPTION><ENC_CODE></ENC_CODE><CHANNEL></CHANNEL></AP>",
            xml_escape(target).c_str());
  doc += ap;
  if (client) {
    iwconfig(ifname, "essid '" + single_quoted_inside(kept_ssid) + "'");
    iwconfig(ifname, "ap any");
  }
  doc += "</WIRELESS>";
  wifi::finish();
  write_follow_counter();
  send_all(fd, doc);
  return 0;
}
