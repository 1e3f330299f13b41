// The "time" service: the device clock, its time zone and the NTP server.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "platform/localtime.h"
#include "platform/shell.h"
#include "services/common/request_body.h"
#include "services/common/uci_command.h"
#include "services/common/value_shapes.h"

namespace {

constexpr const char* zone_file = "/tmp/TZ";
// Longest clock text handed to date.
constexpr size_t clock_text_limit = 127;

std::string local_time_text(time_t now) {
  struct tm local {};
  if (!device_local_time(now, &local)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

int get_time(int fd) {
  time_t now = fx().now();
  std::string custom = stored_text("system.@system[0].custom", 4);
  if (custom.empty()) custom = "0";
  std::string doc = xml_declaration;
  appendf(doc,
          "<TIME><CUR_TIME>%lld</CUR_TIME><CTIME>%s</CTIME><TIME_ZONE>%s</TIME_ZONE>"
          "<ZONE_NAME>%s</ZONE_NAME><TIME_SERVER>%s</TIME_SERVER><CUSTOM>%s</CUSTOM></TIME>",
          static_cast<long long>(now), local_time_text(now).c_str(),
          stored_text("system.@system[0].timezone", 32).c_str(),
          stored_text("system.@system[0].zonename", 64).c_str(),
          stored_text("system.ntp.server", 128).c_str(), custom.c_str());
  send_all(fd, doc);
  return 0;
}

// The settings a POST may change, in the order they are staged.
struct time_setting {
  const char* element;
  const char* path;
};
constexpr time_setting settings[] = {{"TIME_SERVER", "system.ntp.server"},
                                     {"TIME_ZONE", "system.@system[0].timezone"},
                                     {"CUSTOM", "system.@system[0].custom"}};

// Sets the clock. The text is cut before it is quoted, so the command always
// holds the whole quoted word.
void set_clock(const char* text) {
  std::string clock(text, strnlen(text, clock_text_limit));
  fx().run("date " + shell_quote(clock));
}

// The C library reads the zone from this file; it gets the stored zone and
// a line feed, or nothing when no zone is stored.
void write_zone_file() {
  std::string zone = cfg_get(std::string("system.@system[0].timezone"));
  fx().write_file(zone_file, zone.empty() ? zone : zone + "\n");
}

int post_time(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* root = request.root();
  for (const time_setting& setting : settings) {
    const char* value = child_text(root, setting.element);
    if (value && !cfg_value_stageable(value)) return reply_code(fd, FORMAT_ERROR);
  }
  // The NTP client hands each server to ntpd as the argument of one option.
  const char* servers = child_text(root, "TIME_SERVER");
  if (servers && !list_of(servers, " ", host_name)) return reply_code(fd, FORMAT_ERROR);

  const char* clock = child_text(root, "CUR_TIME");
  if (clock && *clock) set_clock(clock);
  bool changed = false;
  for (const time_setting& setting : settings) {
    const char* value = child_text(root, setting.element);
    if (!value) continue;
    cfg_set(setting.path, value);
    changed = true;
  }
  if (!changed) return 0;
  uci_run("/sbin/uci commit system");
  write_zone_file();
  fx().run("/etc/init.d/sysntpd restart");
  return 0;
}

}  // namespace

int time_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  return get_time(fd);
}

int time_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  return post_time(fd, body, body_len);
}
