// The operating-mode switch: network and DHCP settings of the mode, the
// VAPs, the LAN gateway names, the user VLANs, then one commit per package.
#include "services/system/mode_switch.h"

#include <cstdlib>
#include <string>

#include "agent/config.h"
#include "agent/startup.h"
#include "agent/worker_state.h"
#include "services/common/request_body.h"
#include "services/network/restart.h"
#include "services/network/vlan.h"
#include "services/wireless/wireless.h"

namespace {

constexpr const char* fallback_lan_address = "192.168.188.253";

// Stages a value only when the store holds another: the committed files are
// the same, and a switch starts a process for each change only.
void set_changed(const std::string& path, const std::string& value) {
  if (cfg_get(path) != value) cfg_set(path, value);
}

bool dhcp_client_lan(int mode) {
  return mode == 4 || mode == 5;
}

// Mode 2 with "wan_exitbridge" set names the WAN port as the LAN first; the
// LAN interface names that follow replace it within the same switch.
void wan_exitbridge() {
  if (cfg_get_cut("system.@system[0].wan_exitbridge", 16).rfind('1', 0) != 0) return;
  set_changed("network.lan.ifname", board_family(board_hardver()) ? "eth1" : "eth0.2");
}

void write_network_settings(int mode) {
  if (mode == 2) wan_exitbridge();
  set_changed("network.wan.ifname", mode == 1 ? wan_ifname : "");
  set_changed("network.lan.ifname", mode == 1 ? lan_ifname : bridge_ifnames);
  set_changed("network.lan.proto", dhcp_client_lan(mode) ? "dhcp" : "static");
  if (dhcp_client_lan(mode)) {
    std::string address = cfg_get_cut("network.lan.vantor_ipaddr", 32);
    set_changed("network.lan.ipaddr", address.empty() ? fallback_lan_address : address);
  }
  set_changed("dhcp.lan.ignore", mode <= 2 ? "0" : "1");
  if (mode != 1) set_changed("network.qos.disable", "1");
}

void set_vap(int slot, const char* option, const char* value) {
  set_changed(iface_option_path(slot, option), value);
}

// Every VAP joins the LAN as an access point; only the main VAPs ("00" and
// "10") stay enabled, in mode 5 the first radio's as a WDS access point.
void write_vaps(int mode) {
  for (int slot = board_single5g() ? slots_per_radio : 0; slot < vap_slot_count; ++slot) {
    set_vap(slot, "network", "lan");
    set_vap(slot, "mode", "ap");
    set_vap(slot, "wds", mode == 3 ? "0" : "1");
    set_vap(slot, "extap", "1");
    std::string id = iface_option(slot, "id", 16);
    bool main_vap = id == "00" || id == "10";
    set_vap(slot, "disabled", main_vap ? "0" : "1");
    if (main_vap && mode != 5) set_vap(slot, "nawds_mode", "0");
    if (id == "00" && mode == 5) set_vap(slot, "nawds_mode", "1");
  }
}

// WDS capabilities of a radio's main VAP in mode 5: 11n (1) on a 2G radio
// that is not 11ac, 11ac (0x20) on the 5G radio, always with bit 4.
void nawds_caps_set(int radio) {
  int caps = 0x20;
  if (radio == 0) {
    std::string hwmode = cfg_get_cut("wireless.wifi0.hwmode", 32);
    caps = hwmode.find("ac") == std::string::npos ? 1 : 0;
  }
  caps += 4;
  set_vap(main_slot(radio), "nawds_defcaps", std::to_string(caps).c_str());
  set_vap(main_slot(radio), "nawds_override", "0");
}

}  // namespace

int mode_switch(int target_mode) {
  if (target_mode < 1 || target_mode > 5) return 0;
  if (std::atoi(cfg_get_cut("system.@system[0].sys_mode", 16).c_str()) == target_mode) return 0;
  worker().mode_switch_state = target_mode;
  cfg_set("system.@system[0].sys_mode", std::to_string(target_mode));
  write_network_settings(target_mode);
  write_vaps(target_mode);
  if (target_mode == 5) {
    nawds_caps_set(0);
    nawds_caps_set(1);
  }
  swap_lan_gateway(target_mode <= 2 ? 0 : 1);
  clear_extra_vlans();
  for (const char* package : {"system", "network", "dhcp", "wireless"}) cfg_commit(package);
  return 0;
}
