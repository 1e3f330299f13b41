// The system's own absolute paths, in one place.
#pragma once

namespace paths {
inline constexpr const char* route_socket = "/tmp/route";
inline constexpr const char* uci_confdir = "/etc/config";
inline constexpr const char* uci_savedir = "/tmp/.uci";
inline constexpr const char* rom_confdir = "/rom/etc/config/";
inline constexpr const char* proc_arp = "/proc/net/arp";
inline constexpr const char* proc_dev = "/proc/net/dev";
inline constexpr const char* snmpd_conf = "/var/run/snmpd.conf";
inline constexpr const char* snmpd_pid = "/var/run/snmpd.pid";
inline constexpr const char* urandom = "/dev/urandom";
}  // namespace paths
