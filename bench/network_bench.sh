#!/usr/bin/env bash
# Network service figures in a simulated device (needs root, see sim/README.md):
# median latency of GET /network/lan and GET /dhcp/config next to the bare
# round trip of this machine, and what one POST /network/lan costs: its wall
# time, the stand-in commands in the device's command log and every process
# the device started for it (from the PID counter of the device's namespace).
#
#   bench/network_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [COUNT]}" && pwd)
count=${2:-500}
devsim=$repo/sim/devsim
loadgen=$build/bench/loadgen
state=$(mktemp -d /tmp/nb.XXXXXX)
trap '"$devsim" down --state "$state" >/dev/null 2>&1 || true; rm -rf "$state"' EXIT

out=$("$devsim" up --state "$state/d" --bin "$build/bin")
sock=$(sed -n 's/^socket //p' <<<"$out")
log=$(sed -n 's/^log //p' <<<"$out")

median() { sed -n 's/.*p50[^0-9]*\([0-9.]*\).*/\1/p' | head -n1; }

echo "== latency, $count requests each (loadgen: one connection per request)"
echo "-- bare round trip"
"$loadgen" --bare --count "$count"
echo "-- GET /route/network/lan"
"$loadgen" --socket "$sock" --count "$count" --request $'GET /route/network/lan\n\n'
echo "-- GET /route/dhcp/config"
"$loadgen" --socket "$sock" --count "$count" --request $'GET /route/dhcp/config\n\n'

# The last PID handed out in the device's PID namespace.
last_pid() { "$devsim" exec --state "$state/d" -- cut -d' ' -f5 /proc/loadavg; }

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
