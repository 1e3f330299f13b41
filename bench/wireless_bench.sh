#!/usr/bin/env bash
# Wireless service figures in a simulated device (needs root, see
# sim/README.md): median latency of its GETs next to the bare round trip of
# this machine, and what each POST costs: its wall time, the commands in the
# device's command log (store commands included: the device runs with
# --log-uci) and every process the device started for it.
#
#   bench/wireless_bench.sh BUILD_DIR [COUNT]
set -euo pipefail
# shellcheck source=bench/device_bench.sh
. "$(dirname "$0")/device_bench.sh"
bench_device_up "${1:-}" "${2:-500}" --log-uci

bare_latency
get_latency wireless/config wireless/vap wireless/vap/2g
live_views=(wireless/associate 'wireless/nonstainfo?active=1' wireless/scan/2g wireless/scan/2g/again
  wireless/analysis/2g wireless/channel wireless/txpower wireless/followsig/2g/64:66:B3:90:AB:CD)
get_latency "${live_views[@]}"
# The link view of a client radio.
"$devsim" exec --state "$state/d" -- sh -c "uci set 'wireless.@wifi-iface[0].mode=sta' && uci commit wireless"
get_latency wireless/stainfo
echo "== commands and processes of one GET"
for path in "${live_views[@]}" wireless/stainfo; do post_cost "GET /route/$path" "GET /route/$path"$'\n\n'; done
"$devsim" exec --state "$state/d" -- sh -c "uci set 'wireless.@wifi-iface[0].mode=ap' && uci commit wireless"


advance='<ADVANCE><MODE>11ng</MODE><HTMODE>AUTO</HTMODE><COUNTRY>CN</COUNTRY><RSSI_THRES>0</RSSI_THRES><AMPDU>1</AMPDU><ACKTIMEOUT>64</ACKTIMEOUT><DISTANCE>1</DISTANCE><BINTVAL>100</BINTVAL><SHORTGI>1</SHORTGI><ISOLATE>0</ISOLATE><FRAG>2346</FRAG><RTS>2347</RTS><MAXSTA>32</MAXSTA><LEDSTATUS>1</LEDSTATUS><DFS_ENABLED>0</DFS_ENABLED><WDSONEKEY>0</WDSONEKEY><CCA_STEP>0</CCA_STEP></ADVANCE>'
config_body="<W><CONFIG><BAND>2G</BAND><BASE><CHANNEL>6</CHANNEL><TXPOWER>20</TXPOWER></BASE>$advance</CONFIG><CONFIG><BAND>5G</BAND><BASE><CHANNEL>149</CHANNEL><TXPOWER>20</TXPOWER></BASE>${advance//11ng/11ac}</CONFIG></W>"
vap_body='<W><VAP><ID>01</ID><SSID>Office</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>7</ENCRYPTION><KEY>3132333435363738</KEY></SECURITY><DISABLE>0</DISABLE></VAP></W>'

measure() {
  local what=$1 body=$2 a b c start end
  echo "== one POST /route/wireless/$what"
  a=$(last_pid)
  b=$(last_pid)
  : >"$log"
  start=$(date +%s%N)
  printf '%s' "POST /route/wireless/$what"$'\n'"$body"$'\n\n' | "$build/bin/pallactl" --socket "$sock" raw >/dev/null
  end=$(date +%s%N)
  c=$(last_pid)
  echo "wall time: $(((end - start) / 1000000)) ms"
  echo "store commands: $(grep -c '^/sbin/uci ' "$log"), other commands: $(grep -vc '^/sbin/uci ' "$log")"
  echo "processes started in the device: $((c - b - (b - a)))"
}
measure config "$config_body"
measure vap "$vap_body"
