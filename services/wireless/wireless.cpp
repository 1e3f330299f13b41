// The "wireless" service: its sub-path tables, the board and radio
// predicates the wireless units share, and the radio configuration (GET and
// POST /config).
#include "services/wireless/wireless.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "services/common/request_body.h"

// ---- slots and predicates ----

char* iface_option_path(int slot, char* buffer, const char* option) {
  std::snprintf(buffer, iface_path_size, "wireless.@wifi-iface[%d].%s", slot, option);
  return buffer;
}

std::string iface_option_path(int slot, const char* option) {
  char path[iface_path_size];
  return iface_option_path(slot, path, option);
}

std::string iface_option(int slot, const char* option, size_t size) {
  char path[iface_path_size];
  std::string value = cfg_get(std::string(iface_option_path(slot, path, option)));
  if (value.size() >= size) value.resize(size - 1);
  return value;
}

namespace {

// A system option read as the board predicates read it (31 characters).
std::string board_option(const char* path) {
  char value[32];
  return cfg_get(path, value, sizeof value);
}

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

bool board_single5g() {
  return contains(board_option("system.@system[0].submode"), "SINGLE5G");
}

bool board_single24g() {
  std::string hardver = board_option("system.@system[0].hardver");
  return (contains(hardver, "9531") || contains(hardver, "9341")) &&
         !contains(board_option("system.@system[0].submode"), "DUAL");
}

int radio_switched_off(int slot) {
  if (cfg_flag("system.@system[0].touch_btn")) {
    std::string state;
    if (!fx().read_file("/tmp/led-switch", state, 255)) return 1;
    state = state.substr(0, state.find('\n'));
    return contains(state, "up") ? 0 : 1;
  }
  char disabled[64];
  cfg_get(radio_of_slot(slot) == 0 ? "wireless.wifi0.disabled" : "wireless.wifi1.disabled",
          disabled, sizeof disabled);
  return disabled[0] == '1' ? 1 : 0;
}

int wireless_refuse(int fd) {
  fx().run("/sbin/uci revert system");
  fx().run("/sbin/uci revert wireless");
  fx().run("/sbin/uci revert network");
  fx().run("/sbin/uci revert dhcp");
  return reply_code(fd, FORMAT_ERROR);
}

// ---- GET /config ----

int get_radio_config(int fd, char* /*rest*/) {
  return reply_code(fd, NOT_SUPPORT_SERVICE);
}

// ---- POST /config ----

int set_radio_config(int fd, char* /*body*/, size_t /*body_len*/) {
  return reply_code(fd, NOT_SUPPORT_SERVICE);
}

// ---- routing ----

// The live views answer code 1 until their units fill in their entries.
const wireless_get_route wireless_get_routes[] = {
    {"/config", get_radio_config},
    {"/vap", get_vap_config},
    {"/associate", nullptr},
    {"/scan", nullptr},
    {"/analysis", nullptr},
    {"/channel", nullptr},
    {"/txpower", nullptr},
    {"/stainfo?active=1", nullptr},
    {"/nonstainfo?active=1", nullptr},
    {"/stainfo", nullptr},
    {"/followsig", nullptr},
    {nullptr, nullptr},
};

const wireless_post_route wireless_post_routes[] = {
    {"/vap", set_vap_config},
    {"/config", set_radio_config},
    {nullptr, nullptr},
};

// A missing sub-path means "/config".
int wireless_get(int fd, char* sub_path, size_t sub_path_len, char* rest) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string("/config");
  for (const wireless_get_route* route = wireless_get_routes; route->sub_path; ++route) {
    if (path != route->sub_path) continue;
    if (!route->handler) break;
    return route->handler(fd, rest);
  }
  return reply_code(fd, NO_SERVICE);
}

int wireless_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (!sub_path) return reply_code(fd, NO_SERVICE);
  size_t length = static_cast<size_t>(body - sub_path);
  for (const wireless_post_route* route = wireless_post_routes; route->sub_path; ++route) {
    if (leading_part_of(sub_path, length, route->sub_path))
      return route->handler(fd, body, body_len);
  }
  return reply_code(fd, NO_SERVICE);
}
