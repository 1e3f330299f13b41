#include "agent/startup.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "platform/effects.h"
#include "platform/paths.h"

const char* wan_ifname = "eth0.2";
const char* lan_ifname = "eth0.1";
const char* bridge_ifnames = "eth0.1 eth0.2";
const char* switch_dev = "eth0";

namespace {

bool has(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

std::string board_hardver() {
  return cfg_get(std::string("system.@system[0].hardver"));
}

bool board_family(const std::string& hardver) {
  return has(hardver, "9531") || has(hardver, "9344") || has(hardver, "9341");
}

board_variant board_variant_of(const std::string& hardver) {
  if (board_family(hardver) && has(hardver, "KV")) return board_variant::kv;
  if (board_family(hardver) && has(hardver, "MT")) return board_variant::mt;
  return board_variant::switched;
}

bool board_kv_7100_8100(const std::string& hardver) {
  return (has(hardver, "7100") || has(hardver, "8100")) && has(hardver, "KV");
}

void board_ifnames_init() {
  if (board_family(board_hardver())) {
    wan_ifname = "eth0";
    lan_ifname = "eth1";
    bridge_ifnames = "eth0 eth1";
    switch_dev = "eth1";
  } else {
    wan_ifname = "eth0.2";
    lan_ifname = "eth0.1";
    bridge_ifnames = "eth0.1 eth0.2";
    switch_dev = "eth0";
  }
}

int shm_create(key_t key) {
  int id = shmget(key, token_block_size, IPC_CREAT | 0666);
  if (id < 0) return -1;
  void* block = shmat(id, nullptr, 0);
  if (block == reinterpret_cast<void*>(-1)) return -1;
  std::memset(block, 0, token_block_size);
  return 0;
}

void* shm_attach(key_t key) {
  int id = shmget(key, token_block_size, 0600);
  if (id < 0) return nullptr;
  void* block = shmat(id, nullptr, 0);
  return block == reinterpret_cast<void*>(-1) ? nullptr : block;
}

int shm_detach(const void* address) {
  return shmdt(address);
}

namespace {

constexpr const char* default_enterprise_id = "47215";
constexpr const char* default_community = "k4tw9rq2zm7x";

std::string one_line(const std::string& value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

std::string snmp_enterprise_id() {
  char stored[256];
  cfg_get("dhcp.snmpd.enterprisesid", stored, sizeof stored);
  return stored[0] ? stored : default_enterprise_id;
}

std::string snmpd_conf_text(const std::string& enterprise_id, const std::string& rw_community,
                            const std::string& ro_community, const std::string& trap_sink) {
  return "sysobjectid .1.3.6.1.4.1." + one_line(enterprise_id) +
         ".100.1.1.1.1.10\n"
         "agentAddress udp:161\n"
         "sysservices 72\n"
         "rwcommunity " +
         one_line(rw_community) +
         "\n"
         "rocommunity " +
         one_line(ro_community) +
         "\n"
         "trapcommunity mivrok\n"
         "trap2sink " +
         one_line(trap_sink) + "\n";
}

void snmpd_conf_install(const std::string& enterprise_id, const std::string& rw_community,
                        const std::string& ro_community, const std::string& trap_sink) {
  fx().write_file(paths::snmpd_conf,
                  snmpd_conf_text(enterprise_id, rw_community, ro_community, trap_sink));
  fx().run(std::string("kill -SIGHUP `cat ") + paths::snmpd_pid + "`");
}

int snmpd_conf_write() {
  char sys_mode[4];
  cfg_get("system.@system[0].sys_mode", sys_mode, sizeof sys_mode);
  int mode = std::atoi(sys_mode);
  if (mode != 4 && mode != 5) return 0;

  char proto[8];
  cfg_get("network.lan.proto", proto, sizeof proto);
  if (std::strcmp(proto, "static") != 0) return 0;

  char trap_sink[32];
  char stored_id[256];
  char rw_community[256];
  char ro_community[256];
  cfg_get("dhcp.snmpd.ac_addr", trap_sink, sizeof trap_sink);
  cfg_get("dhcp.snmpd.enterprisesid", stored_id, sizeof stored_id);
  if (stored_id[0]) {
    cfg_get("dhcp.snmpd.rwcommunity", rw_community, sizeof rw_community);
    cfg_get("dhcp.snmpd.rocommunity", ro_community, sizeof ro_community);
  } else {
    std::strcpy(rw_community, default_community);
    std::strcpy(ro_community, default_community);
  }

  snmpd_conf_install(snmp_enterprise_id(), rw_community, ro_community, trap_sink);
  return 0;
}
