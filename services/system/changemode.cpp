// The "changemode" service: the management protocol recorded in the boot
// loader's environment, and its switch (by the firmware's script) followed by
// a reboot.
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "platform/shell.h"
#include "services/common/command_text.h"
#include "services/common/request_body.h"
#include "services/common/value_shapes.h"

namespace {

// Longest command line the switch runs.
constexpr size_t switch_command_limit = 511;

}  // namespace

int changemode_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  std::string protocol;
  command_text("fw_printenv mode | cut -d'=' -f2", protocol);
  if (protocol.empty()) protocol = "0";
  trim(protocol);
  std::string doc = xml_declaration;
  appendf(doc, "<MODE><PROTOCOL>%s</PROTOCOL></MODE>", xml_escape(protocol).c_str());
  send_all(fd, doc);
  return 0;
}

// The protocol goes to the script as one shell word. An empty one is refused:
// the script would store an empty mode, and the reboot would switch nothing.
// So is one with a control character: the boot loader's environment keeps
// one variable a line, and a line feed would add another.
// The device reboots whatever the script returns; "OK" is written while it
// goes down.
int changemode_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return refuse_sub_path(fd, sub_path, body);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* protocol = child_text(request.root(), "PROTOCOL");
  if (!protocol || !*protocol || !free_of_controls(protocol)) return reply_code(fd, FORMAT_ERROR);
  std::string command = "changemode.sh " + shell_quote(protocol);
  if (command.size() > switch_command_limit) return reply_code(fd, FORMAT_ERROR);

  fx().run(command);
  fx().run("reboot");
  return 0;
}
