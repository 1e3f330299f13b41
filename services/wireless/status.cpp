// Clients and links of the radios: GET /associate (stations of every access
// point VAP), GET /nonstainfo?active=1 (link and traffic of the access point
// radios) and GET /stainfo (link of the first client radio to its upstream
// access point), with the throughput measured between two requests.
#include <cstdio>
#include <cstdlib>
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
#include "services/wireless/status.h"
#include "services/wireless/wireless.h"

namespace {

const char* radio_ifname(int radio) {
  return radio == 0 ? "ath0" : "ath1";
}

const char* radio_id(int radio) {
  return radio == 0 ? "00" : "10";
}

std::string throughput_text(uint64_t bytes, uint64_t elapsed_ms) {
  uint64_t bits_per_second = bytes / elapsed_ms * 8000;
  std::string text;
  if (bits_per_second < 1048576)
    appendf(text, "%llu.%03d Kbps", static_cast<unsigned long long>(bits_per_second / 1024),
            static_cast<int>(bits_per_second % 1024));
  else
    appendf(text, "%llu.%03d Mbps", static_cast<unsigned long long>(bits_per_second / 1048576),
            static_cast<int>(bits_per_second / 1024 % 1024));
  return text;
}

// The throughput of one direction since the stored count, which takes the
// new count; a counter that went back (reset) restarts from the new count.
std::string direction_throughput(uint64_t count, uint64_t& stored, uint64_t elapsed_ms) {
  if (count < stored) stored = count;
  uint64_t difference = count - stored;
  if (difference == 0) return zero_throughput;
  stored = count;
  return throughput_text(difference, elapsed_ms);
}

}  // namespace

int throughput_update(int radio, const char* tx_count, const char* rx_count, std::string& tx_out,
                      std::string& rx_out) {
  throughput_sample& last = worker().throughput[radio == 1 ? 1 : 0];
  long long now = fx().now_us();
  long long seconds = now / 1000000;
  long long microseconds = now % 1000000;
  if (seconds < last.seconds || (seconds == last.seconds && microseconds < last.microseconds)) {
    last.seconds = seconds;
    last.microseconds = microseconds;
    tx_out = rx_out = zero_throughput;
    return 1;
  }
  long long elapsed_ms =
      microseconds >= last.microseconds
          ? 1000 * (seconds - last.seconds) + (microseconds - last.microseconds) / 1000
          : 1000 * (seconds - last.seconds - 1) + 1000 - (last.microseconds - microseconds) / 1000;
  if (elapsed_ms == 0) elapsed_ms = 1;
  last.seconds = seconds;
  last.microseconds = microseconds;
  uint64_t elapsed = static_cast<uint64_t>(elapsed_ms);
  tx_out =
      direction_throughput(static_cast<uint64_t>(std::atoll(tx_count)), last.tx_bytes, elapsed);
  rx_out =
      direction_throughput(static_cast<uint64_t>(std::atoll(rx_count)), last.rx_bytes, elapsed);
  return 0;
}

std::string sysfs_stat_read(int radio, const char* counter) {
  std::string path =
      std::string("/sys/class/net/") + radio_ifname(radio) + "/statistics/" + counter;
  std::string text;
  if (!fx().read_file(path, text, 127)) return "";
  size_t line_end = text.find('\n');
  if (line_end != std::string::npos) text.resize(line_end + 1);
  if (text.size() > 63) text.resize(63);
  return text;
}

const std::string& radio_traffic_stats(int radio) {
  std::string counters[4];
  const char* names[4] = {"tx_bytes", "rx_bytes", "tx_packets", "rx_packets"};
  for (int i = 0; i < 4; ++i) {
    counters[i] = sysfs_stat_read(radio, names[i]);
    if (counters[i].empty()) counters[i] = "0";
  }
  std::string tx;
  std::string rx;
  throughput_update(radio, counters[0].c_str(), counters[1].c_str(), tx, rx);
  std::string& text = worker().traffic_text;
  text.clear();
  appendf(text,
          "<TXBYTES>%s</TXBYTES><RXBYTES>%s</RXBYTES><TXPKTS>%s</TXPKTS><RXPKTS>%s</RXPKTS>"
          "<TXTHPUT>%s</TXTHPUT><RXTHPUT>%s</RXTHPUT>",
          counters[0].c_str(), counters[1].c_str(), counters[2].c_str(), counters[3].c_str(),
          tx.c_str(), rx.c_str());
  return text;
}

namespace {

// First line of a station rate column: kept with its line feed when it names
// a rate in M..., else "0Mbps".
std::string station_rate(int radio, int column) {
  char command[96];
  std::snprintf(command, sizeof command, "wlanconfig %s list |  awk 'NR==2 {print $%d}'",
                radio_ifname(radio), column);
  std::string line = fx().capture(command, 63);
  size_t line_end = line.find('\n');
  if (line_end != std::string::npos) line.resize(line_end + 1);
  if (line.find('M') == std::string::npos) return "0Mbps";
  return xml_escape(line);
}

}  // namespace

const std::string& station_link_stats(int radio, bool measure, const std::string& quality) {
  worker_state& state = worker();
  if (!measure) return state.link_text;
  // The kernel's byte counters of the interface, as its ifconfig block
  // shows them.
  std::string rx = sysfs_stat_read(radio, "rx_bytes");
  std::string tx = sysfs_stat_read(radio, "tx_bytes");
  if (!rx.empty() && !tx.empty())
    throughput_update(radio, tx.c_str(), rx.c_str(), state.link_tx_thput, state.link_rx_thput);
  std::string tx_rate = station_rate(radio, 4);
  std::string rx_rate = station_rate(radio, 5);
  state.link_text.clear();
  appendf(state.link_text,
          "<LINKQ>%s</LINKQ><TXRATE>%s</TXRATE><RXRATE>%s</RXRATE><TXTHPUT>%s</TXTHPUT>"
          "<RXTHPUT>%s</RXTHPUT>",
          quality.c_str(), tx_rate.c_str(), rx_rate.c_str(), state.link_tx_thput.c_str(),
          state.link_rx_thput.c_str());
  return state.link_text;
}

namespace {

// The value after a label: up to the first of stops (included when
// keep_stop), or the rest of the line without its line feed.
std::string label_value(const std::string& line, size_t start, char stop, bool keep_stop) {
  size_t end = line.find(stop, start);
  if (end == std::string::npos) {
    end = line.find('\n', start);
    if (end == std::string::npos) end = line.size();
  } else if (keep_stop) {
    ++end;
  }
  return line.substr(start, end - start);
}

// The line with its ESSID:"..." field blanked, so that a network name never
// reads as a label.
std::string without_essid(std::string line) {
  size_t start = line.find("ESSID:\"");
  if (start == std::string::npos) return line;
  size_t end = line.rfind('"');
  if (end <= start + 6) end = line.size();
  for (size_t i = start; i < end; ++i) line[i] = '\x01';
  return line;
}

// The quality after "Link Quality=": q * 100 / m of "q/m" (m of 0 or
// missing counts as 94).
std::string quality_percent(const std::string& line, size_t start) {
  unsigned long long quality = std::strtoull(line.c_str() + start, nullptr, 10) % 1000000;
  unsigned long long maximum = 0;
  size_t slash = line.find('/', start);
  if (slash != std::string::npos)
    maximum = std::strtoull(line.c_str() + slash + 1, nullptr, 10) % 1000000;
  if (maximum == 0) maximum = 94;
  return std::to_string(quality * 100 / maximum);
}

// One line of iwconfig output; false when the reading stops here.
bool read_link_line(const std::string& line, const char* ifname, bool key_error_check,
                    link_status& link) {
  std::string searched = without_essid(line);
  size_t at = searched.find("Access Point:");
  if (at != std::string::npos) {
    if (key_error_check && fx().exists("/tmp/keyerr")) {
      link.state = 2;
      return false;
    }
    size_t rest = at + 13;
    if (searched.find("Not-Associated", rest) != std::string::npos) {
      link.state = 0;
      return false;
    }
    link.state = 1;
    link.bssid = xml_escape(line.substr(std::min(rest + 1, line.size())));
    char channel[32] = "";
    radio_live_channel(ifname, channel);
    link.channel = channel;
  }
  if ((at = searched.find("Signal level=")) != std::string::npos)
    link.signal = xml_escape(label_value(line, at + 13, ' ', false));
  if ((at = searched.find("Bit Rate:")) != std::string::npos)
    link.rate = xml_escape(label_value(line, at + 9, 's', true));
  if ((at = searched.find("Link Quality=")) != std::string::npos)
    link.quality = quality_percent(line, at + 13);
  return true;
}

}  // namespace

link_status read_link_status(int radio, bool key_error_check) {
  if ((radio == 0 && board_single5g()) || (radio == 1 && !board_single24g()))
    fx().run("iwpriv wifi1 enable_ol_stats 1");
  const char* ifname = radio_ifname(radio);
  std::string output = fx().capture(std::string("iwconfig ") + ifname);
  link_status link;
  // Lines as a 256-byte line buffer reads them.
  for (size_t pos = 0; pos < output.size();) {
    size_t end = output.find('\n', pos);
    end = end == std::string::npos ? output.size() : end + 1;
    if (end - pos > 255) end = pos + 255;
    if (!read_link_line(output.substr(pos, end - pos), ifname, key_error_check, link)) break;
    pos = end;
  }
  return link;
}

namespace {

// The main VAP of the radio is enabled and in the given mode.
bool main_vap_is(int radio, const char* mode) {
  int slot = main_slot(radio);
  std::string disabled = iface_option(slot, "disabled", 64);
  return iface_option(slot, "mode", 8) == mode && (disabled.empty() || disabled[0] != '1');
}

std::string main_ssid(int radio) {
  return xml_escape(iface_option(main_slot(radio), "ssid", 128));
}

void append_link_vap(std::string& doc, int radio, const char* link_state, const link_status& link,
                     const std::string& stats) {
  appendf(doc,
          "<VAP><ID>%s</ID><ESSID>%s</ESSID><LINK>%s</LINK><MAC>%s</MAC><CHANNEL>%s</CHANNEL>"
          "<SIGNAL>%s dBm</SIGNAL><RATE>%s</RATE>%s</VAP>",
          radio_id(radio), main_ssid(radio).c_str(), link_state, link.bssid.c_str(),
          link.channel.c_str(), link.signal.c_str(), link.rate.c_str(), stats.c_str());
}

constexpr const char* slot_ifnames[vap_slot_count] = {"ath0", "ath01", "ath02", "ath03",
                                                      "ath1", "ath11", "ath12", "ath13"};

// The network name of a slot as the client list shows it.
std::string client_ssid(int slot) {
  std::string ssid = iface_option(slot, "ssid", 256);
  if (looks_gb2312(ssid.data(), ssid.size())) {
    char utf8[1024] = {};
    if (gb2312_to_utf8(ssid.data(), ssid.size(), utf8, sizeof utf8 - 1) == 0) ssid = utf8;
  }
  return xml_escape(ssid);
}

// Appends the VAP element of a slot with its clients; returns their count.
int append_slot_clients(std::string& doc, int slot, const arp_entry* arp, int sys_mode) {
  std::string repeaters;
  bool wds_filter = false;
  if (sys_mode == 5) {
    repeaters = iface_option(slot, "nawds_add_repeater", 128);
    wds_filter = cfg_flag(iface_option_path(slot, "nawds_mode"));
  }
  if (iface_option(slot, "mode", 64) == "sta") return 0;
  const char* ifname = slot_ifnames[slot];
  std::vector<wifi::Station> stations;
  wifi::Backend* driver = wifi::backend(ifname);
  if (!driver || !driver->assoclist(ifname, stations) || stations.empty()) {
    wifi::finish();
    return 0;
  }
  appendf(doc, "<VAP><VAP_ID>%s</VAP_ID>", xml_escape(iface_option(slot, "id", 4)).c_str());
  std::string ssid = client_ssid(slot);
  int count = 0;
  for (const wifi::Station& station : stations) {
    std::string mac = mac_text(station.mac);
    if (wds_filter && repeaters.find(mac) != std::string::npos) continue;
    const char* ip = arp_table_find(arp, mac.c_str());
    appendf(doc,
            "<CLIENT><SSID>%s</SSID><MAC>%s</MAC><IP>%s</IP><SIGNAL>%s</SIGNAL><NOISE>%s</NOISE>"
            "<RX_RATE>%s</RX_RATE><TX_RATE>%s</TX_RATE><ASS_TIME>%d</ASS_TIME></CLIENT>",
            ssid.c_str(), mac.c_str(), ip ? xml_escape(ip).c_str() : "",
            level_text(station.signal).c_str(), level_text(station.noise).c_str(),
            assoc_rate_text(station.rx_rate).c_str(), assoc_rate_text(station.tx_rate).c_str(),
            static_cast<int>(station.inactive));
    ++count;
  }
  appendf(doc, "<VCLIENTS_NUM>%d</VCLIENTS_NUM></VAP>", count);
  wifi::finish();
  return count;
}

}  // namespace

int get_assoc_list(int fd, char* /*rest*/) {
  arp_entry* arp = arp_table_read();
  int sys_mode = 0;
  cfg_int("system.@system[0].sys_mode", &sys_mode);
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  int total = 0;
  for (int slot = board_single5g() ? main_slot(1) : 0; slot < vap_slot_count; ++slot)
    total += append_slot_clients(doc, slot, arp, sys_mode);
  arp_table_free(arp);
  appendf(doc, "<CLIENTS_NUM>%d</CLIENTS_NUM></WIRELESS>", total);
  wifi::finish();
  send_all(fd, doc);
  return 0;
}

int get_ap_link_status(int fd, char* /*rest*/) {
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  for (int radio = 0; radio < 2; ++radio) {
    if (!main_vap_is(radio, "ap")) continue;
    link_status link = read_link_status(radio, false);
    append_link_vap(doc, radio, "1", link, radio_traffic_stats(radio));
  }
  doc += "</WIRELESS>";
  send_all(fd, doc);
  return 0;
}

int get_sta_link_status(int fd, char* /*rest*/) {
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  for (int radio = 0; radio < 2; ++radio) {
    if (!main_vap_is(radio, "sta")) continue;
    link_status link = read_link_status(radio, true);
    if (link.state == 0) {
      append_link_vap(doc, radio, "0", link_status{}, station_link_stats(radio, false, ""));
    } else {
      append_link_vap(doc, radio, link.state == 1 ? "1" : "2", link,
                      station_link_stats(radio, link.state == 1, link.quality));
    }
    break;
  }
  doc += "</WIRELESS>";
  send_all(fd, doc);
  return 0;
}
