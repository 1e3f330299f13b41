// The "wifidog" service: the captive-portal gateway's options.
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"
#include "services/network/restart.h"

namespace {

// Request and reply elements with their options of "wifidog.mywifidog", in
// the order of the reply and of the changes.
struct portal_option {
  const char* element;
  const char* option;
};
constexpr portal_option portal_options[] = {
    {"ENABLE", "enable"},
    {"ID", "id"},
    {"NAME", "name"},
    {"PORT", "port"},
    {"MAXCON", "maxcon"},
    {"INTERVAL", "interval"},
    {"TIMEOUT", "timeout"},
    {"AUTH_SERVER", "auth_server"},
    {"AUTH_SERVER_SSL", "auth_server_ssl"},
    {"AUTH_SERVER_PORT", "auth_server_port"},
    {"AUTH_SERVER_PATH", "auth_server_path"},
    {"AUTH_TRUST_URL", "auth_trust_url"},
    {"AUTH_TRUST_MAC", "auth_trust_mac"},
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
    if (const char* text = child_text(request.root(), entry.element))
      changes.set(option_path(entry), text);
  }
  if (!changes.values_stageable()) return reply_code(fd, FORMAT_ERROR);

  changes.apply();
  cfg_commit("wifidog");
  firewall_cycle();
  return 0;
}
