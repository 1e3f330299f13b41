// Start-up of the agent: board interface names, the shared token block and
// the SNMP daemon's configuration. Everything here runs once, before the
// supervisor forks its first worker, so every worker inherits the results.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "services/common/token_block.h"

// Ethernet interface names of the board, chosen by board_ifnames_init.
extern const char* wan_ifname;
extern const char* lan_ifname;
extern const char* bridge_ifnames;
extern const char* switch_dev;

void board_ifnames_init();

// Board kinds, judged over the whole "system.@system[0].hardver" value.
// The board family carries WAN and LAN on eth0 and eth1 (hardver contains
// "9531", "9344" or "9341"); its "KV" and "MT" sub-variants differ in their
// ports. Every other board, the plain family ones included, counts as the
// switch variant.
enum class board_variant { kv, mt, switched };
std::string board_hardver();
bool board_family(const std::string& hardver);
board_variant board_variant_of(const std::string& hardver);
// Boards whose hardver names "7100" or "8100" together with "KV".
bool board_kv_7100_8100(const std::string& hardver);

// Creates (or reuses) the block, attaches it for the life of the process and
// zeroes it. Returns 0, or -1 when it cannot be had.
int shm_create(key_t key = token_block_key);
// Attaches the existing block; null when it does not exist.
void* shm_attach(key_t key = token_block_key);
int shm_detach(const void* address);

// The stored enterprise id of the SNMP agent, or the built-in one when none
// is stored; both writers of the daemon's file take it from here.
std::string snmp_enterprise_id();

// Regenerates /var/run/snmpd.conf from the store and signals the SNMP daemon.
int snmpd_conf_write();

// The SNMP daemon's configuration for the given values. Each value stays on
// its own line: anything from its first line break on is dropped, so a stored
// value cannot add directives.
std::string snmpd_conf_text(const std::string& enterprise_id, const std::string& rw_community,
                            const std::string& ro_community, const std::string& trap_sink);
// Writes that configuration and makes the running SNMP daemon reread it.
void snmpd_conf_install(const std::string& enterprise_id, const std::string& rw_community,
                        const std::string& ro_community, const std::string& trap_sink);
