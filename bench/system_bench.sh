#!/usr/bin/env bash
# System and VLAN service figures in a simulated device (needs root, see
# sim/README.md): median latency of GET /system/basic, /system/traffic and
# /vlan next to the bare round trip of this machine, and what the changes
# cost: wall time, the store and stand-in commands in the device's command
# log (devsim up --log-uci) and every process the device started, for POST
# /system/basic, GET /system/backup, a VLAN POST and mode switches.
#
#   bench/system_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-300}" --log-uci

vlans='<VLAN_CONFIG><VLAN><VID>10</VID><PORT><NUM>3</NUM><NUM>4</NUM></PORT><SSID><ID>01</ID></SSID></VLAN><VLAN><VID>20</VID><PORT><NUM>2</NUM><NUM>5</NUM></PORT><SSID><ID>11</ID></SSID></VLAN></VLAN_CONFIG>'
mode_switch() {
  post_cost "mode switch $1" $'POST /route/system/active\n<A><ACT>Mode</ACT><MODE>'"$2"$'</MODE></A>\n\n'
}

bare_latency
post_cost "GET /system/basic, first of the worker (version copy)" $'GET /route/system/basic\n\n'
get_latency system/basic system/traffic vlan

echo "== one request each"
post_cost "POST /system/basic (all four elements)" \
  $'POST /route/system/basic\n<S><SYSDEVGROUP>office</SYSDEVGROUP><SYSDEVNAME>AP-lobby</SYSDEVNAME><RST_BT_DISABLE>0</RST_BT_DISABLE><TELNET_ENABLE>1</TELNET_ENABLE></S>\n\n'
post_cost "GET /system/backup" $'GET /route/system/backup\n\n'
send $'POST /route/vlan\n'"$vlans"$'\n\n'
post_cost "POST /vlan (2 VLANs with 2 ports and 1 SSID replace 2 such)" \
  $'POST /route/vlan\n'"$vlans"$'\n\n'
mode_switch "1 -> 4 (2 user VLANs removed)" 4
mode_switch "4 -> 5" 5
mode_switch "5 -> 1" 1
mode_switch "to the current mode" 1
