// The wireless extensions of the kernel, one struct iwreq per call on a
// datagram socket (the seam's socket_ioctl), and the radio driver's private
// station list.
#include "platform/wifi/wifi.h"

#include <linux/wireless.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/effects.h"

namespace wifi {
namespace {

// A scan's results are first asked for into this many bytes; a driver that
// needs more says E2BIG. The descriptor's 16-bit length bounds the growth.
constexpr size_t scan_buffer_first = IW_SCAN_MAX_DATA;
constexpr size_t scan_buffer_max = 0xFFFF;
// The wait between starting a scan and the first ask for its results, and
// between asks while the driver answers EAGAIN (still scanning).
constexpr int64_t scan_settle_ms = 250;
constexpr int64_t scan_retry_ms = 100;

bool wireless_call(const std::string& ifname, unsigned long command, iwreq& request) {
  if (ifname.empty() || ifname.size() >= IFNAMSIZ) {
    errno = ENODEV;
    return false;
  }
  std::memcpy(request.ifr_name, ifname.c_str(), ifname.size() + 1);
  return fx().socket_ioctl(command, &request) == 0;
}

// A call whose answer the driver writes into buffer; request.u.data.length
// holds what it wrote (or, with E2BIG, what it would need).
bool buffer_call(const std::string& ifname, unsigned long command, void* buffer, size_t size,
                 iwreq& request) {
  request = iwreq{};
  request.u.data.pointer = buffer;
  request.u.data.length = static_cast<uint16_t>(std::min(size, scan_buffer_max));
  return wireless_call(ifname, command, request);
}

bool read_range(const std::string& ifname, iw_range& range) {
  range = iw_range{};
  iwreq request;
  return buffer_call(ifname, SIOCGIWRANGE, &range, sizeof range, request);
}

ScanRange scan_range(const iw_range& range) {
  ScanRange out;
  int count = std::min<int>(range.num_frequency, IW_MAX_FREQUENCIES);
  for (int i = 0; i < count; ++i) {
    const iw_freq& freq = range.freq[i];
    out.frequencies.emplace_back(frequency_mhz(freq.m, freq.e), static_cast<uint8_t>(freq.i));
  }
  out.quality_max = range.max_qual.qual;
  return out;
}

// The noise level of the interface in dBm; 0 when the driver does not know it.
int8_t interface_noise(const std::string& ifname) {
  iw_statistics stats{};
  iwreq request;
  if (!buffer_call(ifname, SIOCGIWSTATS, &stats, sizeof stats, request)) return 0;
  if (stats.qual.updated & IW_QUAL_NOISE_INVALID) return 0;
  return static_cast<int8_t>(stats.qual.noise);
}

// The size to ask with after E2BIG: the driver's hint when it is larger,
// else double; 0 when the buffer cannot grow any more.
size_t grown_scan_size(size_t current, size_t hint) {
  size_t next = std::min(hint > current ? hint : current * 2, scan_buffer_max);
  return next > current ? next : 0;
}

// Sleeps up to ms, never past the deadline; false when the deadline has
// passed already.
bool wait_until(int64_t ms, int64_t deadline_ms) {
  int64_t left = deadline_ms - fx().monotonic_ms();
  if (left <= 0) return false;
  fx().sleep_ms(static_cast<unsigned>(std::min(ms, left)));
  return true;
}

// Asks for the results of a started scan until they come, the driver fails,
// or the deadline passes.
bool collect_scan(const std::string& ifname, std::vector<uint8_t>& buffer, size_t& got,
                  int64_t deadline_ms) {
  buffer.assign(scan_buffer_first, 0);
  iwreq request;
  for (;;) {
    if (buffer_call(ifname, SIOCGIWSCAN, buffer.data(), buffer.size(), request)) {
      got = std::min<size_t>(request.u.data.length, buffer.size());
      return true;
    }
    if (errno == E2BIG) {
      size_t next = grown_scan_size(buffer.size(), request.u.data.length);
      if (next == 0) return false;
      buffer.assign(next, 0);
    } else if (errno != EAGAIN || !wait_until(scan_retry_ms, deadline_ms)) {
      return false;
    }
  }
}

Backend the_backend;

}  // namespace

Backend* backend(const std::string& ifname) {
  iwreq request{};
  return wireless_call(ifname, SIOCGIWNAME, request) ? &the_backend : nullptr;
}

void finish() {}

bool Backend::freqlist(const std::string& ifname, std::vector<Frequency>& out) {
  iw_range range;
  if (!read_range(ifname, range)) return false;
  out.clear();
  for (const auto& [mhz, channel] : scan_range(range).frequencies) {
    Frequency frequency;
    frequency.mhz = mhz;
    frequency.channel = channel;
    out.push_back(frequency);
  }
  return true;
}

bool Backend::txpwrlist(const std::string& ifname, std::vector<TxPower>& out) {
  iw_range range;
  if (!read_range(ifname, range)) return false;
  if (range.num_txpower == 0 || range.num_txpower > IW_MAX_TXPOWER ||
      (range.txpower_capa & IW_TXPOW_RELATIVE))
    return false;
  bool milliwatts = range.txpower_capa & IW_TXPOW_MWATT;
  out.clear();
  for (int i = 0; i < range.num_txpower; ++i) {
    int level = range.txpower[i];
    int dbm = milliwatts ? mw_to_dbm(level) : level;
    int mw = milliwatts ? level : dbm_to_mw(level);
    TxPower power;
    power.dbm = static_cast<uint8_t>(dbm);
    power.mw = static_cast<uint16_t>(std::clamp(mw, 0, 0xFFFF));
    out.push_back(power);
  }
  return true;
}

bool Backend::channel(const std::string& ifname, int& out) {
  iwreq request{};
  if (!wireless_call(ifname, SIOCGIWFREQ, request)) return false;
  const iw_freq& freq = request.u.freq;
  ScanRange range;
  iw_range full;
  if (frequency_mhz(freq.m, freq.e) != 0) {
    if (!read_range(ifname, full)) return false;
    range = scan_range(full);
  }
  int channel = frequency_channel(freq.m, freq.e, range);
  if (channel < 0) return false;
  out = channel;
  return true;
}

bool Backend::txpower(const std::string& ifname, int& out) {
  iwreq request{};
  if (!wireless_call(ifname, SIOCGIWTXPOW, request)) return false;
  out = (request.u.txpower.flags & IW_TXPOW_MWATT) ? mw_to_dbm(request.u.txpower.value)
                                                   : request.u.txpower.value;
  return true;
}

bool Backend::txpower_offset(const std::string&, int& out) {
  out = 0;
  return false;
}

bool Backend::scanlist(const std::string& ifname, std::vector<ScanEntry>& out,
                       int64_t deadline_ms) {
  iw_range range;
  if (!read_range(ifname, range)) return false;
  iwreq request{};
  if (!wireless_call(ifname, SIOCSIWSCAN, request)) return false;
  wait_until(scan_settle_ms, deadline_ms);
  std::vector<uint8_t> buffer;
  size_t got = 0;
  if (!collect_scan(ifname, buffer, got, deadline_ms)) return false;
  out = parse_scan_events(buffer.data(), got, scan_range(range));
  return true;
}

bool Backend::assoclist(const std::string& ifname, std::vector<Station>& out) {
  std::vector<uint8_t> buffer(kStationListBytes);
  iwreq request;
  if (!buffer_call(ifname, kStationListIoctl, buffer.data(), buffer.size(), request)) return false;
  size_t got = std::min<size_t>(request.u.data.length, buffer.size());
  out = parse_station_records(buffer.data(), got, interface_noise(ifname));
  return true;
}

int dbm_to_mw(int dbm) {
  // Each 10 dB multiplies by 10, each further 1 dB by 10^0.1; the result is
  // truncated, as the radio drivers' own tools print it.
  double mw = 1.0;
  for (int i = 0; i < dbm / 10; ++i) mw *= 10.0;
  for (int i = 0; i < dbm % 10; ++i) mw *= 1.25892541179;
  return mw >= INT_MAX ? INT_MAX : static_cast<int>(mw);
}

int mw_to_dbm(int mw) {
  // The nearest level: dbm + 1 once mw reaches 10^((dbm + 0.5) / 10).
  double threshold = 1.12201845430196;  // 10^0.05
  int dbm = 0;
  while (dbm < 100 && threshold <= mw) {
    threshold *= 1.25892541179;
    ++dbm;
  }
  return dbm;
}

}  // namespace wifi
