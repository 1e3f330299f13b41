// Texts the agent must produce exactly, shared by the handler tests. Written
// out here rather than taken from the code, so a change there shows up.
#pragma once

#include <string>
#include <vector>

namespace expected {

using commands = std::vector<std::string>;

inline const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

inline std::string envelope(int code, const std::string& message) {
  return declaration + "<RESULT><CODE>" + std::to_string(code) + "</CODE><MESSAGE>" + message +
         "</MESSAGE></RESULT>";
}

inline const commands firewall_commands = {"/sbin/fw stop",
                                           "/sbin/fw3 stop",
                                           "/etc/init.d/myqos stop",
                                           "/etc/init.d/wifidogsh stop",
                                           "/sbin/fw start",
                                           "/sbin/fw3 start",
                                           "/etc/init.d/wifidogsh start",
                                           "/etc/init.d/myqos start"};

inline const std::string dhcp_check_kill = "ps|grep dhcpchek.sh|awk '{print $1}'|xargs kill";

}  // namespace expected
