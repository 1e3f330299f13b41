#!/usr/bin/env bash
# Figures of the auxiliary services (storage, usb, ddns, wifidog, clcloud,
# changemode, superauth, dbmode) in a simulated device (needs root, see
# sim/README.md): median latency of each GET next to the bare round trip of
# this machine, and what each POST costs: its wall time, the store commands
# and stand-in commands in the device's command log (devsim up --log-uci) and
# every process the device started for it. POST /changemode reboots the
# device, so it is measured last.
#
#   bench/auxiliary_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-300}" --log-uci

# An enabled account whose domain the device's hosts file resolves, and a
# slot with 4 KiB of text.
"$devsim" exec --state "$state/d" -- sh -c 'echo "10.77.0.9 myap.example.net" >>/etc/hosts'
ddns_body='<DDNS><USER_NAME>me</USER_NAME><PASSWD>secret</PASSWD><DISABLE>0</DISABLE><DOMAIN>myap.example.net</DOMAIN></DDNS>'
send $'POST /route/ddns\n'"$ddns_body"$'\n\n'
send $'POST /route/storage/1\n'"$(printf '%04096d' 0)"$'\n\n'

bare_latency
get_latency storage/1 usb ddns wifidog clcloud changemode dbmode

echo "== one POST each"
post_cost "POST /storage/2 (4 KiB)" $'POST /route/storage/2\n'"$(printf '%04096d' 0)"$'\n\n'
post_cost "POST /ddns (orbity)" $'POST /route/ddns\n'"$ddns_body"$'\n\n'
post_cost "POST /wifidog (all 13 elements)" $'POST /route/wifidog\n<WIFIDOG><ENABLE>1</ENABLE><ID>ap1</ID><NAME>Lobby</NAME><PORT>2060</PORT><MAXCON>50</MAXCON><INTERVAL>60</INTERVAL><TIMEOUT>5</TIMEOUT><AUTH_SERVER>portal.example.net</AUTH_SERVER><AUTH_SERVER_SSL>0</AUTH_SERVER_SSL><AUTH_SERVER_PORT>80</AUTH_SERVER_PORT><AUTH_SERVER_PATH>/wifidog/</AUTH_SERVER_PATH><AUTH_TRUST_URL>example.com</AUTH_TRUST_URL><AUTH_TRUST_MAC>3c:15:c2:a1:07:5e</AUTH_TRUST_MAC></WIFIDOG>\n\n'
post_cost "POST /clcloud" $'POST /route/clcloud\n<CLCLOUD><DISABLE>0</DISABLE><URL>cloud.example.net</URL><USER>site-17</USER></CLCLOUD>\n\n'
post_cost "POST /superauth" $'POST /route/superauth\n<S><SUPER_NAME>super</SUPER_NAME><SUPER_PASSWD>7375706572236170</SUPER_PASSWD></S>\n\n'
post_cost "POST /dbmode" $'POST /route/dbmode\n<MODE><DBMODE>1</DBMODE></MODE>\n\n'
post_cost "POST /changemode (then the device reboots)" $'POST /route/changemode\n<MODE><PROTOCOL>1</PROTOCOL></MODE>\n\n'
