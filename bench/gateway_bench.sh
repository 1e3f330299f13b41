#!/usr/bin/env bash
# What the web gateway adds to a store-only GET (needs root): in a simulated
# device, GET dhcp/config straight on the socket (loadgen), the same GET with
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

# Each figure is printed as it comes; the medians make the last line.
run() {
  local out
  out=$("$@")
  echo "$out" >&2
  median "$(tail -1 <<<"$out")"
}
bare=$(run bare_latency)
direct=$(run get_latency dhcp/config)
echo "-- GET dhcp/config through routegw started per request (no web server)" >&2
gateway=$(run dev /tmp/gwbench cgi /www/cgi-bin/route "$count" REQUEST_METHOD=GET \
  PATH_INFO=/dhcp/config HTTP_HOST=192.168.1.1 "HTTP_COOKIE=$cookie")
echo "-- busybox echo started the same way: the floor of a process per request" >&2
run dev /tmp/gwbench cgi /bin/echo "$count" >/dev/null
echo "-- HTTP from the LAN client: a static file of the web server" >&2
run lan "$gwbench" http 192.168.1.1 80 /bench.txt none "$count" >/dev/null
echo "-- HTTP from the LAN client: GET /cgi-bin/route/dhcp/config" >&2
run lan "$gwbench" http 192.168.1.1 80 /cgi-bin/route/dhcp/config "$cookie" "$count" >/dev/null

awk -v bare="$bare" -v direct="$direct" -v gateway="$gateway" 'BEGIN {
  added = gateway - direct
  printf "== the gateway adds %.0f us to GET dhcp/config (%.0f us through it, %.0f us straight); ", added, gateway, direct
  printf "bare round trip %.1f us: ratio %.0f\n", bare, added / bare }'
