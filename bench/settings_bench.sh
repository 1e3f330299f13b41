#!/usr/bin/env bash
# Figures of the time, firewall, mgt and log services in a simulated device
# (needs root, see sim/README.md): median latency of each GET next to the
# bare round trip of this machine, and what each POST costs: its wall time,
# the store commands and stand-in commands in the device's command log
# (devsim up --log-uci) and every process the device started for it (from
# the PID counter of the device's namespace).
#
#   bench/settings_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-300}" --log-uci

firewall_body='<FIREWALL><FILTER><MODE>allow</MODE><IP>192.168.1.20</IP><URL>example.com</URL></FILTER><PORT_FORWARD><SRC_PORT>8000</SRC_PORT><DEST_IP>192.168.1.10</DEST_IP><DEST_PORT>80</DEST_PORT></PORT_FORWARD><DMZ><IP>192.168.1.30</IP></DMZ></FIREWALL>'
rule='<QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>192.168.1.100</START><END>192.168.1.150</END></IP><RATE><UP>512</UP><DOWN>1024</DOWN></RATE><NOTE>guests</NOTE></QOS_RULE><QOS_RULE><TYPE>mac</TYPE><MAC>3c:15:c2:a1:07:5e</MAC><RATE><UP>256</UP><DOWN>512</DOWN></RATE></QOS_RULE>'
mgt_body="<MGT><MGT_PORT>8080</MGT_PORT><MAC_CLONE></MAC_CLONE><SMB_NAME>Office</SMB_NAME><QOS><DISABLE>0</DISABLE><RATE_LIMIT><UP>2048</UP><DOWN>8192</DOWN></RATE_LIMIT>$rule</QOS><AUTO_REBOOT><DISABLE>0</DISABLE><TIME>4</TIME></AUTO_REBOOT><WAN><PING>1</PING><UPNP>1</UPNP><IGMP>0</IGMP></WAN><VPN><IPSEC>1</IPSEC><PPTP>1</PPTP><L2TP>1</L2TP></VPN></MGT>"
# Documents with content: a filter with a forward and a DMZ (6 agent
# sections), two QoS rules.
send $'POST /route/firewall\n'"$firewall_body"$'\n\n'
send $'POST /route/mgt\n'"$mgt_body"$'\n\n'

bare_latency
get_latency time firewall mgt log/config log/syslog log/kerlog

echo "== one POST each"
post_cost "POST /time (zone, server, custom)" \
  $'POST /route/time\n<TIME><TIME_ZONE>CST-8</TIME_ZONE><TIME_SERVER>pool.ntp.org</TIME_SERVER><CUSTOM>0</CUSTOM></TIME>\n\n'
post_cost "POST /time (clock only)" $'POST /route/time\n<TIME><CUR_TIME>2026.12.08-07:50:00</CUR_TIME></TIME>\n\n'
post_cost "POST /firewall (DMZ, 1 forward, 1 IP, 1 URL, allow; 6 old sections)" \
  $'POST /route/firewall\n'"$firewall_body"$'\n\n'
post_cost "POST /mgt (all elements, 2 old and 2 new rules)" $'POST /route/mgt\n'"$mgt_body"$'\n\n'
post_cost "POST /log (REMOTE)" $'POST /route/log\n<LOG><REMOTE><IP>192.168.1.5</IP><PORT>514</PORT></REMOTE></LOG>\n\n'
post_cost "POST /log (KERNEL_CLEAN)" $'POST /route/log\n<LOG><ACT>KERNEL_CLEAN</ACT></LOG>\n\n'
