// The "uplink" service: which WAN protocols answer on the device's uplink.
// A GET runs the DHCP probe, then the PPPoE probe, on the same interface and
// reports what answered; each probe waits a bounded time (2 s and 3 s) and
// leaves nothing open behind it.
#include <string>

#include "agent/server.h"
#include "agent/services.h"
#include "agent/startup.h"
#include "probes/probes.h"
#include "services/common/request_body.h"
#include "services/network/restart.h"

uplink_probe_set uplink_probes = {dhcp_probe, pppoe_probe};

namespace {

constexpr int router_mode = 1;

// Router mode probes the board's WAN port; every bridge mode probes the
// bridge, where the uplink is one of its ports.
const char* probed_interface() {
  return operating_mode() == router_mode ? wan_ifname : "br-lan";
}

}  // namespace

int uplink_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  const char* ifname = probed_interface();
  bool dhcp = uplink_probes.dhcp(ifname) == 1;
  bool pppoe = uplink_probes.pppoe(ifname) == 1;
  std::string doc = xml_declaration;
  appendf(doc, "<UPLINK><PROTO>%s</PROTO><PROTO>%s</PROTO></UPLINK>", dhcp ? "dhcp" : "",
          pppoe ? "pppoe" : "");
  send_all(fd, doc);
  return 0;
}
