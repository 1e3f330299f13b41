// The pieces of the client and link views that tests reach directly.
#pragma once

#include <string>

// The throughput text of a direction without traffic.
inline constexpr const char* zero_throughput = "0.000 Kbps";

// Measures the radio's throughput (radio 0 or 1; others count as 0) from the
// byte counts (decimal texts) against the last sample of either link view,
// and stores the new sample. Returns 1 when the clock went backwards (both
// texts are then the zero text), else 0.
int throughput_update(int radio, const char* tx_count, const char* rx_count, std::string& tx_out,
                      std::string& rx_out);
// One kernel counter of the radio's main interface ("tx_bytes", ...): its
// first line with the line feed, at most 63 characters; "" when unreadable.
std::string sysfs_stat_read(int radio, const char* counter);
// The traffic elements of an access point radio, measuring its throughput.
const std::string& radio_traffic_stats(int radio);
// The link elements of a client radio; measuring only when asked, otherwise
// the text of the last measuring call.
const std::string& station_link_stats(int radio, bool measure, const std::string& quality);

// What the iwconfig block of a radio's main interface tells of its link. The
// texts are escaped for the documents.
struct link_status {
  int state = 0;  // 0 not associated, 1 associated, 2 key error
  std::string bssid;
  std::string channel;
  std::string signal;
  std::string rate;
  std::string quality;
};
// Reads the link of radio 0 (ath0) or 1 (ath1); key_error_check makes an
// existing /tmp/keyerr a key error at the access point line.
link_status read_link_status(int radio, bool key_error_check);
