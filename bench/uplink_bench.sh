#!/usr/bin/env bash
# Uplink probe figures in a simulated device (needs root, see sim/README.md):
# median latency of GET /uplink on a silent WAN, with Debian's dnsmasq and
# pppoe-server at the far end of the WAN cable, and under a flood of foreign
# discovery frames, next to the bare round trip of this machine; and the
# processes the device starts for one GET.
#
#   bench/uplink_bench.sh BUILD_DIR [COUNT]     (COUNT GETs per case, default 5)
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-5}"
peer() { "$devsim" peer --state "$state/d" --cable wire0 -- "$@"; }
request=$'GET /route/uplink\n\n'

echo "== latency, $count requests each (loadgen: one connection per request)"
echo "-- bare round trip"
"$loadgen" --bare --count 500
echo "-- GET /route/uplink, nothing on the WAN cable"
"$loadgen" --socket "$sock" --count "$count" --request "$request"

# The least of three GETs: the device's own background loops (dhcpchek.sh's
# sleep every 30 s) can fall into one 5-s window.
least=''
for _ in 1 2 3; do
  a=$(last_pid)
  b=$(last_pid)
  send "$request"
  c=$(last_pid)
  n=$((c - b - (b - a)))
  [ -n "$least" ] && [ "$least" -le "$n" ] || least=$n
done
echo "-- processes started by one GET: $least"

cc -static -O2 -o "$state/wirepeer" "$repo/tests/e2e/wirepeer.c"
peer "$state/wirepeer" wire0 $((count * 6 + 5)) flood >/dev/null &
sleep 0.2
echo "-- GET /route/uplink, foreign discovery frames every 0.6 s"
"$loadgen" --socket "$sock" --count "$count" --request "$request"
wait

peer ip addr add 203.0.113.1/24 dev wire0
peer dnsmasq --port=0 --interface=wire0 --bind-interfaces --dhcp-range=203.0.113.100,203.0.113.150 \
  --no-ping --conf-file=/dev/null --dhcp-leasefile="$state/leases" --pid-file="$state/dnsmasq.pid" \
  --user=root
peer pppoe-server -I wire0 -C bench-ac -S isp -X "$state/pppoe.pid"
sleep 0.2
echo "-- GET /route/uplink, dnsmasq and pppoe-server on the WAN cable"
"$loadgen" --socket "$sock" --count "$count" --request "$request"
