#include "services/network/restart.h"

#include <cstdlib>
#include <cstring>

#include "agent/config.h"
#include "platform/effects.h"
#include "services/common/uci_command.h"

int operating_mode() {
  char mode[8];
  cfg_get("system.@system[0].sys_mode", mode, sizeof mode);
  return std::atoi(mode);
}

void firewall_cycle() {
  static const char* const commands[] = {"/sbin/fw stop",
                                         "/sbin/fw3 stop",
                                         "/etc/init.d/myqos stop",
                                         "/etc/init.d/wifidogsh stop",
                                         "/sbin/fw start",
                                         "/sbin/fw3 start",
                                         "/etc/init.d/wifidogsh start",
                                         "/etc/init.d/myqos start"};
  for (const char* command : commands) fx().run(command);
}

void samba_cycle() {
  char hardver[32];
  cfg_get("system.@system[0].hardver", hardver, sizeof hardver);
  if (!std::strstr(hardver, "MT")) return;
  fx().run("/etc/init.d/samba stop");
  fx().run("/etc/init.d/samba start");
}

void kill_dhcp_check() {
  fx().run("ps|grep dhcpchek.sh|awk '{print $1}'|xargs kill");
}

int swap_lan_gateway(int direction) {
  if (direction == 1) {
    uci_run("uci rename network.lan.gatewaybak=gateway");
    uci_run("uci rename network.lan.dnsbak=dns");
  } else {
    uci_run("uci rename network.lan.gateway=gatewaybak");
    uci_run("uci rename network.lan.dns=dnsbak");
  }
  return 0;
}
