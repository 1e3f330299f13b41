// The site survey: GET /scan lists the access points the radios hear, GET
// /analysis turns the same survey into channel occupancy. A radio scans
// through its driver, or through the station supplicant when its main VAP is
// a client without a connected scan interface. The last driver scan of each
// radio is kept for the "again" form.
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/ctrl.h"
#include "agent/server.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/wifi/wifi.h"
#include "services/common/request_body.h"
#include "services/wireless/format.h"
#include "services/wireless/survey.h"
#include "services/wireless/wireless.h"

namespace {

struct survey_radio {
  const char* band;
  const char* main_ifname;
  const char* extra_ifname;
  const char* ctrl_path;
};
constexpr survey_radio survey_radios[] = {
    {"2G", "ath0", "ath04", "/var/run/wpa_supplicant-ath0/ath0"},
    {"5G", "ath1", "ath14", "/var/run/wpa_supplicant-ath1/ath1"},
};

// The cache keeps the first 128 entries of a scan.
constexpr size_t cache_entry_limit = 128;
// The whole survey: driver scans and the supplicant's conversation (scan,
// wait for its end, results) of both radios.
constexpr int survey_ms = 15000;
// Each request still gets this long when the survey's time is up.
constexpr int supplicant_request_floor_ms = 1000;
constexpr size_t supplicant_buffer_size = 2 * 1024 * 1024;

// The SIGNAL text up to its first blank, at most 7 characters.
std::string signal_value(const std::string& signal) {
  return signal.substr(0, std::min(signal.find(' '), size_t{7}));
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The five tab-separated columns of a table line (without its line feed);
// the name is the rest of the line after the fourth tab. Fewer than five
// for a shorter line.
std::vector<std::string> table_columns(const char* line, size_t length) {
  std::vector<std::string> columns;
  size_t start = 0;
  for (size_t i = 0; i < length && columns.size() < 4; ++i) {
    if (line[i] != '\t') continue;
    columns.emplace_back(line + start, i - start);
    start = i + 1;
  }
  if (columns.size() == 4) columns.emplace_back(line + start, length - start);
  return columns;
}

int supplicant_code(const std::string& flags) {
  auto has = [&flags](const char* part) { return flags.find(part) != std::string::npos; };
  if (has("WPA2-EAP") || has("WPA-EAP")) return 20;
  if (has("WPA2")) return 8;
  if (has("WPA")) return 5;
  if (has("WEP")) return 2;
  return 0;
}

}  // namespace

void scan_results_parse(const char* text, size_t length, int radio, survey_result& out) {
  const char* end = text + length;
  const char* line = static_cast<const char*>(std::memchr(text, '\n', length));
  if (!line) return;
  ++line;
  while (line < end) {
    const char* line_end = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (!line_end) break;  // a last line without line feed is cut
    std::vector<std::string> columns = table_columns(line, line_end - line);
    line = line_end + 1;
    if (columns.size() < 5 || columns[4].find_first_not_of(" \t") == std::string::npos) continue;
    std::string bssid = upper(columns[0].substr(0, 31));
    std::string signal = std::to_string(std::atoi(columns[2].substr(0, 7).c_str()) - 95);
    std::string flags = utf8_cut(columns[3], 255);
    std::string ssid = utf8_cut(columns[4], 255);
    int channel = freq_to_channel(std::atoi(columns[1].substr(0, 15).c_str()));
    appendf(out.document,
            "<AP><BAND>%s</BAND><SSID>%s</SSID><BSSID>%s</BSSID><SIGNAL>%s</SIGNAL>"
            "<QUALITY>/</QUALITY><ENCRYPTION>%s</ENCRYPTION><ENC_CODE>%d</ENC_CODE>"
            "<CHANNEL>%d</CHANNEL></AP>",
            survey_radios[radio].band, xml_escape(ssid).c_str(), xml_escape(bssid).c_str(),
            signal.c_str(), xml_escape(flags).c_str(), supplicant_code(flags), channel);
    out.aps.push_back({survey_radios[radio].band, ssid, channel, signal_value(signal)});
  }
}

namespace {

int ms_left(int64_t deadline) {
  int64_t left = deadline - fx().monotonic_ms();
  return left > 0 ? static_cast<int>(std::min<int64_t>(left, survey_ms)) : 0;
}

int request_ms(int64_t deadline) {
  return std::min(ctrl_reply_timeout_ms, std::max(ms_left(deadline), supplicant_request_floor_ms));
}

// Receives one message into buffer (terminated); its length, or -1.
long receive_text(ctrl_conn* conn, std::vector<char>& buffer) {
  size_t length = buffer.size() - 1;
  if (ctrl_recv(conn, buffer.data(), &length) != 0) return -1;
  buffer[length] = '\0';
  return static_cast<long>(length);
}

// Waits for the end-of-scan event until the deadline, logging each event.
void wait_scan_results(ctrl_conn* conn, std::vector<char>& buffer, int64_t deadline) {
  for (int left; (left = ms_left(deadline)) > 0;) {
    pollfd watch{conn->socket, POLLIN, 0};
    if (poll(&watch, 1, left) <= 0) continue;
    if (receive_text(conn, buffer) < 0) return;
    std::fprintf(stderr, "event:%s\n", buffer.data());
    if (std::strstr(buffer.data(), "CTRL-EVENT-SCAN-RESULTS")) return;
  }
}

void supplicant_scan(int radio, int64_t deadline, survey_result& out) {
  ctrl_conn* conn = ctrl_open(survey_radios[radio].ctrl_path);
  if (!conn) {
    std::fputs("open fail\n", stderr);
    std::perror("wpa_ctrl_open fail");
    return;
  }
  std::fputs("open scuess\n", stderr);
  std::vector<char> buffer(supplicant_buffer_size);
  size_t length = buffer.size() - 1;
  ctrl_attach(conn, request_ms(deadline));
  ctrl_request(conn, "SCAN", 4, buffer.data(), &length, request_ms(deadline));
  wait_scan_results(conn, buffer, deadline);
  ctrl_detach(conn, request_ms(deadline));
  length = buffer.size() - 1;
  if (ctrl_request(conn, "SCAN_RESULTS", 12, buffer.data(), &length, request_ms(deadline)) == 0)
    scan_results_parse(buffer.data(), length, radio, out);
  ctrl_close(conn);
}

// The scan list of the interface: at most two tries, the first non-empty
// success counts; a failed try counts as an empty list.
std::vector<wifi::ScanEntry> driver_scan(const char* ifname, int radio, int64_t deadline) {
  std::vector<wifi::ScanEntry> entries;
  wifi::Backend* driver = wifi::backend(ifname);
  if (!driver) return entries;
  for (int attempt = 0; attempt < 2; ++attempt) {
    entries.clear();
    if (driver->scanlist(ifname, entries, deadline) && !entries.empty()) break;
    entries.clear();
  }
  std::vector<wifi::ScanEntry>& cache = worker().survey_cache[radio];
  cache.assign(entries.begin(), entries.begin() + std::min(entries.size(), cache_entry_limit));
  return entries;
}

void append_driver_aps(int radio, const std::vector<wifi::ScanEntry>& entries, survey_result& out) {
  const char* band = survey_radios[radio].band;
  size_t shown = std::min(entries.size(), scan_entry_limit);
  for (size_t i = 0; i < shown; ++i) {
    const wifi::ScanEntry& entry = entries[i];
    out.document += scan_ap_element(band, entry);
    out.aps.push_back({band, ssid_name(entry.ssid, sizeof entry.ssid), entry.channel,
                       signal_value(level_text(scan_signal_dbm(entry.signal)))});
  }
}

bool carrier_up(const char* ifname) {
  std::string carrier;
  return fx().read_file(std::string("/sys/class/net/") + ifname + "/carrier", carrier, 1) &&
         carrier == "1";
}

void run_ifconfig(const char* ifname, const char* state) {
  fx().run(std::string("/sbin/ifconfig ") + ifname + " " + state);
}

// Scans one radio. A disabled main VAP is brought up for it and taken down
// again, and a connected extra interface is taken down again, on every path.
void survey_one(int radio, bool again, int64_t deadline, survey_result& out) {
  const survey_radio& names = survey_radios[radio];
  int slot = main_slot(radio);
  bool disabled = iface_option(slot, "disabled", 8) == "1";
  if (disabled) run_ifconfig(names.main_ifname, "up");
  run_ifconfig(names.extra_ifname, "up");
  bool connected = carrier_up(names.extra_ifname);
  if (iface_option(slot, "mode", 8) == "sta" && !connected) {
    supplicant_scan(radio, deadline, out);
  } else {
    const char* scan_ifname = connected ? names.extra_ifname : names.main_ifname;
    append_driver_aps(
        radio, again ? worker().survey_cache[radio] : driver_scan(scan_ifname, radio, deadline),
        out);
  }
  if (disabled) run_ifconfig(names.main_ifname, "down");
  if (connected) run_ifconfig(names.extra_ifname, "down");
}

// Sets marks[channel] for every channel of the interface's frequency list.
void radio_channel_marks(const char* ifname, bool marks[256]) {
  wifi::Backend* driver = wifi::backend(ifname);
  std::vector<wifi::Frequency> frequencies;
  if (!driver || !driver->freqlist(ifname, frequencies)) return;
  for (const wifi::Frequency& frequency : frequencies) marks[frequency.channel] = true;
}

int get_site_survey(int fd, char* rest, bool analysis) {
  if (!rest) return reply_code(fd, NO_SERVICE);
  bool only_2g = std::strstr(rest, "2g") != nullptr;
  bool only_5g = std::strstr(rest, "5g") != nullptr;
  bool again = std::strstr(rest, "again") != nullptr;
  survey_result survey;
  survey.document = std::string(xml_declaration) + "<WIRELESS>";
  int64_t deadline = fx().monotonic_ms() + survey_ms;
  for (int radio = 0; radio < 2; ++radio) {
    if ((only_5g && radio != 1) || (only_2g && !only_5g && radio != 0)) continue;
    survey_one(radio, again, deadline, survey);
  }
  survey.document += "</WIRELESS>";
  if (!again) wifi::finish();
  if (!analysis) {
    send_all(fd, survey.document);
    return 0;
  }
  // Without an AP the radio of the band asked for lists the channels.
  const char* channel_ifname = only_2g && !only_5g ? "ath0" : "ath1";
  if (!survey.aps.empty())
    channel_ifname = std::strcmp(survey.aps[0].band, "2G") == 0 ? "ath0" : "ath1";
  send_all(fd, survey_analysis(survey.aps, channel_ifname));
  return 0;
}

}  // namespace

std::string survey_analysis(const std::vector<survey_ap>& aps, const char* channel_ifname) {
  std::string doc = std::string(xml_declaration) + "<datas>";
  bool marks[256] = {};
  int id = 0;
  for (const survey_ap& ap : aps) {
    marks[ap.channel & 0xFF] = true;
    appendf(doc, "<data id=\"%d\" channel=\"%d\" value=\"%s\" name=\"%s\"> </data>", id++,
            ap.channel, xml_escape(ap.value).c_str(), xml_escape(utf8_cut(ap.name, 127)).c_str());
  }
  radio_channel_marks(channel_ifname, marks);
  for (int channel = 1; channel < 256; ++channel) {
    if (marks[channel]) appendf(doc, "<chnel>%d</chnel>", channel);
  }
  return doc + "</datas>";
}

int get_scan(int fd, char* rest) {
  return get_site_survey(fd, rest, false);
}

int get_analysis(int fd, char* rest) {
  return get_site_survey(fd, rest, true);
}
