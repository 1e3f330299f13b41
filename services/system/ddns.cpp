// The "ddns" service: the dynamic-DNS account and the address its domain
// resolves to now.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"

namespace {

// The first IPv4 address of the domain as text, or "N/A". An answer of
// another family or length, or one without any address, gives "N/A" too.
std::string resolved_address(const std::string& domain) {
  host_answer answer;
  if (domain.empty() || !fx().resolve_host(domain, answer)) return "N/A";
  if (answer.family != AF_INET || answer.length != 4 || answer.addresses.empty() ||
      answer.addresses[0].size() != 4)
    return "N/A";
  char text[INET_ADDRSTRLEN] = "";
  if (!inet_ntop(AF_INET, answer.addresses[0].data(), text, sizeof text)) return "N/A";
  return text;
}

// The stored "enabled" value for a request's DISABLE text: its first
// character decides between "0" and "1"; any other text is stored as sent.
std::string enabled_value(const char* disable) {
  if (disable[0] == '1') return "0";
  if (disable[0] == '0') return "1";
  return disable;
}

}  // namespace

int ddns_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  int enabled = 0;
  cfg_int("ddns.myddns.enabled", &enabled);
  std::string domain = cfg_get(std::string("ddns.myddns.domain"));
  // The lookup waits for the resolver; the worker serves nothing meanwhile.
  std::string ip = enabled != 0 ? resolved_address(domain) : "N/A";
  int disable = enabled == 0 ? 1 : enabled == 1 ? 0 : enabled;

  std::string doc = xml_declaration;
  appendf(doc,
          "<DDNS><DISABLE>%d</DISABLE><USER_NAME>%s</USER_NAME><PASSWD>%s</PASSWD>"
          "<DOMAIN>%s</DOMAIN><IP>%s</IP></DDNS>",
          disable, stored_text("ddns.myddns.username").c_str(),
          stored_text("ddns.myddns.password").c_str(), xml_escape(domain).c_str(), ip.c_str());
  send_all(fd, doc);
  return 0;
}

int ddns_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* user_name = child_text(request.root(), "USER_NAME");
  const char* password = child_text(request.root(), "PASSWD");
  const char* disable = child_text(request.root(), "DISABLE");
  const char* domain = child_text(request.root(), "DOMAIN");
  if (!user_name || !password || !disable || !domain) return reply_code(fd, FORMAT_ERROR);
  // The password is stored as sent, not decoded, so the GET gives it back
  // the same way.
  change_plan changes;
  changes.set("ddns.myddns.enabled", enabled_value(disable));
  changes.set("ddns.myddns.username", user_name);
  changes.set("ddns.myddns.password", password);
  changes.set("ddns.myddns.domain", domain);
  if (!changes.values_stageable()) return reply_code(fd, FORMAT_ERROR);

  changes.apply();
  cfg_commit("ddns");
  if (cfg_get(std::string("ddns.myddns.service")) == "orbity")
    fx().run("/etc/init.d/updatedd restart");
  return 0;
}
