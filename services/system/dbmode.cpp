// The "dbmode" service: a mode value the store keeps for the web front end.
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "services/common/change_plan.h"
#include "services/common/command_text.h"
#include "services/common/request_body.h"

namespace {

constexpr const char* dbmode_option = "system.@system[0].dbmode";

}  // namespace

int dbmode_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  std::string mode = cfg_get(std::string(dbmode_option));
  if (mode.empty()) mode = "0";
  trim(mode);
  std::string doc = xml_declaration;
  appendf(doc, "<MODE><DBMODE>%s</DBMODE></MODE>", xml_escape(mode).c_str());
  send_all(fd, doc);
  return 0;
}

int dbmode_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* mode = child_text(request.root(), "DBMODE");
  if (!mode) return reply_code(fd, FORMAT_ERROR);
  change_plan changes;
  changes.set(dbmode_option, mode);
  if (!changes.values_stageable()) return reply_code(fd, FORMAT_ERROR);

  changes.apply();
  cfg_commit("system");
  return 0;
}
