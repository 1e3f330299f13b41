// The "uplink" service: which WAN protocols answer on the device's uplink.
// A GET sends the DHCP and the PPPoE discovery on the same interface, listens
// for both in one window (at most 3 s) and reports what answered; nothing
// stays open behind it.
#include <cstdio>
#include <string>

#include "agent/server.h"
#include "agent/services.h"
#include "agent/startup.h"
#include "probes/probes.h"
#include "services/common/request_body.h"
#include "services/network/restart.h"

uplink_found (*uplink_prober)(const char* ifname) = uplink_probe;

uplink_found uplink_probe(const char* ifname) {
  uplink_found found;
  if (!probe_ifname_fits(ifname)) return found;
  dhcp_discovery dhcp;
  pppoe_discovery pppoe;
  dhcp.start(ifname);
  pppoe.start(ifname);
  discovery* const both[] = {&dhcp, &pppoe};
  if (!listen_for_answers(both, 2)) std::perror("select (waitForPADO)");
  found.dhcp = dhcp.finish();
  found.pppoe = pppoe.finish();
  return found;
}

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
  uplink_found found = uplink_prober(probed_interface());
  std::string doc = xml_declaration;
  appendf(doc, "<UPLINK><PROTO>%s</PROTO><PROTO>%s</PROTO></UPLINK>", found.dhcp ? "dhcp" : "",
          found.pppoe ? "pppoe" : "");
  send_all(fd, doc);
  return 0;
}
