#!/usr/bin/env bash
# Network service figures in a simulated device (needs root, see sim/README.md):
# median latency of GET /network/lan and GET /dhcp/config next to the bare
# round trip of this machine, and what one POST /network/lan costs: its wall
# time, the stand-in commands in the device's command log and every process
# the device started for it (from the PID counter of the device's namespace).
#
#   bench/network_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-500}"

median() { sed -n 's/.*p50[^0-9]*\([0-9.]*\).*/\1/p' | head -n1; }

bare_latency
get_latency network/lan dhcp/config


post_lan() {
  printf '%s' $'POST /route/network/lan\n<LAN><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MTU>1500</MTU><GATEWAY_ADDR>192.168.1.254</GATEWAY_ADDR><DNS_ADDR>9.9.9.9</DNS_ADDR></PROTO></LAN>\n\n' |
    "$build/bin/pallactl" --socket "$sock" raw >/dev/null
}

echo "== one POST /route/network/lan"
a=$(last_pid)
b=$(last_pid)
probe=$((b - a))
: >"$log"
start=$(date +%s%N)
post_lan
end=$(date +%s%N)
c=$(last_pid)
echo "wall time: $(((end - start) / 1000000)) ms"
echo "stand-in commands in the command log: $(wc -l <"$log")"
echo "processes started in the device: $((c - b - probe))"
