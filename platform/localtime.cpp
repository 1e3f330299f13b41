#include "platform/localtime.h"

#include <cstdlib>

#include "platform/effects.h"

namespace {

constexpr const char* zone_file = "/tmp/TZ";
// Longest first line taken as a zone; POSIX TZ strings are far shorter.
constexpr size_t zone_limit = 256;

std::string zone_from_file() {
  std::string text;
  if (!fx().read_file(zone_file, text, zone_limit)) return "";
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

// Puts the zone of /tmp/TZ into effect; the C library parses it again only
// when it changed.
void apply_device_zone() {
  static std::string applied;
  static bool set = false;
  std::string zone = zone_from_file();
  if (zone.empty()) zone = "UTC0";
  if (set && zone == applied) return;
  setenv("TZ", zone.c_str(), 1);
  tzset();
  applied = zone;
  set = true;
}

}  // namespace

bool device_local_time(time_t when, struct tm* out) {
  apply_device_zone();
  return localtime_r(&when, out) != nullptr;
}

std::string device_ctime(time_t when) {
  struct tm local {};
  char text[64];
  if (!device_local_time(when, &local) || !asctime_r(&local, text)) return "";
  return text;
}
