#!/usr/bin/env bash
# What the web gateway adds to a store-only GET (needs root): in a simulated
# device, GET network/lan straight on the socket (loadgen), the same GET with
# routegw started per request as the web server starts it (CGI variables and
# pipes, no web server), and the whole HTTP road from a client at the far end
# of the LAN cable (busybox httpd, TCP) beside a static file of the same
# server. Ends with the gateway's added latency as a ratio to the bare socket
# round trip.
#
#   bench/gateway_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-300}"
gwbench=$build/bench/gwbench
dev() { "$devsim" exec --state "$state/d" -- "$@"; }
lan() { "$devsim" peer --state "$state/d" --cable wire0 -- "$@"; }
median() { sed -n 's/.*median \([0-9.]*\) us.*/\1/p' <<<"$1"; }

lan ip addr add 192.168.1.10/24 dev wire0
cookie=$(lan curl -s -D - -o /dev/null -H 'X-Requested-With: XMLHttpRequest' \
  --data '<LOGIN><USER_NAME>admin</USER_NAME><PASSWD>61646d696e</PASSWD></LOGIN>' \
  http://192.168.1.1/cgi-bin/route/login | sed -n 's/^Set-Cookie: \(session=[^;]*\);.*/\1/p')
[ -n "$cookie" ] || { echo "bench: no session" >&2; exit 1; }
dev sh -c 'cat >/tmp/gwbench && chmod 755 /tmp/gwbench && echo ok >/www/bench.txt' <"$gwbench"

bare=$(bare_latency | tee /dev/stderr | tail -1)
direct=$(get_latency network/lan | tee /dev/stderr | tail -1)
echo "-- GET network/lan through routegw started per request (no web server)" >&2
gateway=$(dev /tmp/gwbench cgi /www/cgi-bin/route "$count" REQUEST_METHOD=GET \
  PATH_INFO=/network/lan HTTP_HOST=192.168.1.1 "HTTP_COOKIE=$cookie" | tee /dev/stderr)
echo "-- HTTP from the LAN client: a static file of the web server" >&2
lan "$gwbench" http 192.168.1.1 80 /bench.txt none "$count" >&2
echo "-- HTTP from the LAN client: GET /cgi-bin/route/network/lan" >&2
lan "$gwbench" http 192.168.1.1 80 /cgi-bin/route/network/lan "$cookie" "$count" >&2

awk -v bare="$(median "$bare")" -v direct="$(median "$direct")" -v gateway="$(median "$gateway")" 'BEGIN {
  added = gateway - direct
  printf "== the gateway adds %.0f us to GET network/lan (%.0f us through it, %.0f us straight); ", added, gateway, direct
  printf "bare round trip %.1f us: ratio %.0f\n", bare, added / bare }'
