// The pieces of the site survey that tests reach directly.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A scan shows at most what the driver's 64 KiB list holds, and signal
// following searches no further.
inline constexpr size_t scan_entry_limit = 1024;

// One AP of a survey as the analysis reads it.
struct survey_ap {
  const char* band;  // "2G" or "5G"
  std::string name;  // unescaped
  int channel;
  std::string value;  // the SIGNAL text up to its first blank
};

// The AP elements of a survey and the same APs for the analysis.
struct survey_result {
  std::string document;
  std::vector<survey_ap> aps;
};

// Appends the APs of a supplicant scan table (length bytes, a header line,
// then one tab-separated line per network) heard by radio 0 or 1.
void scan_results_parse(const char* text, size_t length, int radio, survey_result& out);
// The channel-occupancy document of a survey; channel_ifname's radio adds
// the channels it supports.
std::string survey_analysis(const std::vector<survey_ap>& aps, const char* channel_ifname);
