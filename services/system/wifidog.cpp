// The "wifidog" service: the captive-portal gateway's options.
#include <string>
#include <string_view>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"
#include "services/common/value_shapes.h"
#include "services/network/restart.h"

namespace {

// The portal builds its configuration and its firewall rules from these
// options word by word, so each holds one word of its shape (the trust
// lists: words separated by commas or blanks). The name is free text on
// one line.
bool trusted_urls(std::string_view text) {
  return list_of(text, ", ", plain_word);
}
bool trusted_macs(std::string_view text) {
  return list_of(text, ", ", mac_address);
}

// Request and reply elements with their options of "wifidog.mywifidog", in
// the order of the reply and of the changes, and the shape of a non-empty
// value (an empty one clears the option).
struct portal_option {
  const char* element;
  const char* option;
  bool (*valid)(std::string_view);
};
constexpr portal_option portal_options[] = {
    {"ENABLE", "enable", decimal_number},
    {"ID", "id", plain_word},
    {"NAME", "name", free_of_controls},
    {"PORT", "port", port_number},
    {"MAXCON", "maxcon", decimal_number},
    {"INTERVAL", "interval", decimal_number},
    {"TIMEOUT", "timeout", decimal_number},
    {"AUTH_SERVER", "auth_server", host_name},
    {"AUTH_SERVER_SSL", "auth_server_ssl", decimal_number},
    {"AUTH_SERVER_PORT", "auth_server_port", port_number},
    {"AUTH_SERVER_PATH", "auth_server_path", plain_word},
    {"AUTH_TRUST_URL", "auth_trust_url", trusted_urls},
    {"AUTH_TRUST_MAC", "auth_trust_mac", trusted_macs},
};

std::string option_path(const portal_option& entry) {
  return std::string("wifidog.mywifidog.") + entry.option;
}

}  // namespace

int wifidog_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  std::string doc = xml_declaration;
  doc += "<WIFIDOG>";
  for (const portal_option& entry : portal_options)
    appendf(doc, "<%s>%s</%s>", entry.element, stored_text(option_path(entry)).c_str(),
            entry.element);
  doc += "</WIFIDOG>";
  send_all(fd, doc);
  return 0;
}

// Elements left out keep their options. The firewall cycle runs after every
// change, since the portal hooks into the firewall.
int wifidog_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  change_plan changes;
  for (const portal_option& entry : portal_options) {
    const char* text = child_text(request.root(), entry.element);
    if (!text) continue;
    if (*text && !entry.valid(text)) return reply_code(fd, FORMAT_ERROR);
    changes.set(option_path(entry), text);
  }
  if (!changes.values_stageable()) return reply_code(fd, FORMAT_ERROR);

  changes.apply();
  cfg_commit("wifidog");
  firewall_cycle();
  return 0;
}
