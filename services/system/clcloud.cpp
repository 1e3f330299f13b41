// The "clcloud" service: the cloud-management client's settings.
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "services/common/change_plan.h"
#include "services/common/request_body.h"

int clcloud_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  std::string doc = xml_declaration;
  appendf(doc, "<CLCLOUD><DISABLE>%s</DISABLE><URL>%s</URL><USER>%s</USER></CLCLOUD>",
          stored_text("clcloud.@cloud[0].disable").c_str(),
          stored_text("clcloud.@cloud[0].url").c_str(),
          stored_text("clcloud.@cloud[0].user").c_str());
  send_all(fd, doc);
  return 0;
}

// The settings are committed before the client restarts, so that what it
// loads is what survives a reboot.
int clcloud_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* disable = child_text(request.root(), "DISABLE");
  const char* url = child_text(request.root(), "URL");
  const char* user = child_text(request.root(), "USER");
  if (!disable || !url || !user) return reply_code(fd, FORMAT_ERROR);
  change_plan changes;
  changes.set("clcloud.@cloud[0].disable", disable);
  changes.set("clcloud.@cloud[0].url", url);
  changes.set("clcloud.@cloud[0].user", user);
  if (!changes.values_stageable()) return reply_code(fd, FORMAT_ERROR);

  changes.apply();
  cfg_commit("clcloud");
  fx().run("/etc/init.d/cloudmg restart");
  return 0;
}
