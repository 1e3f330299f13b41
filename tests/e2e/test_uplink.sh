# The uplink probe against real peers at the far end of a cable: Debian's
# dnsmasq and pppoe-server, and the scripted wirepeer for wrong answers.
# Both discoveries listen in one window: a probing GET ends as soon as both
# are answered, and at the latest after 3 s (no PADO).
# shellcheck shell=bash

uplink() {
  request $'GET /route/uplink\n\n'
}

uplink_doc() {
  printf '<?xml version="1.0" encoding="utf-8"?><UPLINK><PROTO>%s</PROTO><PROTO>%s</PROTO></UPLINK>' "$1" "$2"
}

# start_dnsmasq CABLE ADDRESS/PREFIX FIRST,LAST: a DHCP server at the far end.
start_dnsmasq() {
  local cable=$1 out=$E2E_WORK/dnsmasq-$1
  peer_exec "$cable" ip addr add "$2" dev "$cable"
  # devsim ends in exec: $! is dnsmasq itself.
  "$devsim" peer --state "$DEV" --cable "$cable" -- dnsmasq --no-daemon --port=0 \
    --interface="$cable" --bind-interfaces --dhcp-range="$3" --no-ping --conf-file=/dev/null \
    --dhcp-leasefile="$out.leases" --user=root >"$out.log" 2>&1 &
  echo $! >"$out.pid"
  wait_for 5 grep -q 'sockets bound' "$out.log" || fail "dnsmasq did not start: $(cat "$out.log")"
}

start_pppoe_server() {
  peer_exec "$1" pppoe-server -I "$1" -C upstream-ac -S isp -X "$E2E_WORK/pppoe-$1.pid"
  wait_for 5 test -s "$E2E_WORK/pppoe-$1.pid" || fail "pppoe-server did not start"
}

stop_pidfile() {
  kill "$(head -n1 "$1")"
}

# start_wirepeer CABLE SECONDS [ACTION...]: the scripted peer; its lines go
# to $E2E_WORK/wirepeer-CABLE.
start_wirepeer() {
  local cable=$1 out=$E2E_WORK/wirepeer-$1
  shift
  peer_exec "$cable" "$E2E_WIREPEER" "$cable" "$@" >"$out" 2>&1 &
  wait_for 5 grep -q '^ready' "$out" || fail "wirepeer did not start"
}

test_uplink_finds_dnsmasq_and_pppoe_server_on_the_wan_port() {
  dev_up ap
  start_dnsmasq wire0 203.0.113.1/24 203.0.113.100,203.0.113.150
  start_pppoe_server wire0
  expect_eq "$(uplink)" "$(uplink_doc dhcp pppoe)" "both servers"
  stop_pidfile "$E2E_WORK/dnsmasq-wire0.pid"
  expect_eq "$(uplink)" "$(uplink_doc '' pppoe)" "access concentrator alone"
  stop_pidfile "$E2E_WORK/pppoe-wire0.pid"
  start_dnsmasq wire0 203.0.113.2/24 203.0.113.100,203.0.113.150
  expect_eq "$(uplink)" "$(uplink_doc dhcp '')" "DHCP server alone"
}

test_uplink_probes_the_bridge_in_bridge_modes() {
  local conf
  conf=$(stock_config bridge)
  set_option "$conf/system" system sys_mode 3
  dev_up ap --board dual9344 --config "$conf"
  # The bridge's LAN port is eth1: the servers sit on wire1, none on the WAN.
  start_dnsmasq wire1 192.168.1.2/24 192.168.1.100,192.168.1.150
  start_pppoe_server wire1
  expect_eq "$(uplink)" "$(uplink_doc dhcp pppoe)" "mode 3"
}

# Mode 2 serves DHCP on br-lan itself: its own broadcast answer does not
# count. The PADO, unicast to br-lan, arrives through the switch port.
test_uplink_in_mode_2_ignores_the_devices_own_dhcp_server() {
  local conf
  conf=$(stock_config station)
  set_option "$conf/system" system sys_mode 2
  dev_up ap --config "$conf"
  dev_install "$E2E_WIREPEER" /tmp/wirepeer
  dev_exec /tmp/wirepeer br-lan 4 offer >"$E2E_WORK/own-server" 2>&1 &
  wait_for 5 grep -q '^ready' "$E2E_WORK/own-server" || fail "own server did not start"
  start_pppoe_server wire0
  expect_eq "$(uplink)" "$(uplink_doc '' pppoe)" "mode 2"
  wait
  expect_contains "$(cat "$E2E_WORK/own-server")" "answered offer" "own server"
}

# Wrong answers are not counted; the frames are those of the protocol, byte
# for byte (veth does not pad the 24-byte PADI).
test_uplink_ignores_wrong_answers_and_sends_exact_frames() {
  dev_up ap
  peer_exec wire0 ip addr add 203.0.113.1/24 dev wire0
  start_wirepeer wire0 7 xid mac runt longtag straddle noac bcast other
  expect_eq "$(uplink)" "$(uplink_doc '' '')" "wrong answers"
  wait
  local out mac
  out=$(cat "$E2E_WORK/wirepeer-wire0")
  mac=$(dev_exec cat /sys/class/net/eth0.2/address | tr -d ':')
  expect_eq "$(grep -c '^answered' <<<"$out")" 8 "answers sent"
  grep -qE "^dhcp 01010600[0-9a-f]{8}00ff8000(00){16}$mac(00){202}63825363350101(00){305}\$" <<<"$out" ||
    fail "DISCOVER: $(grep '^dhcp' <<<"$out")"
  grep -qE "^pppoe ffffffffffff${mac}886311090000000401010000(00)*\$" <<<"$out" ||
    fail "PADI: $(grep '^pppoe' <<<"$out")"
}

# Foreign discovery frames every 0.6 s for 15 s do not hold the agent past
# its window (3 s).
test_uplink_flood_of_foreign_frames_does_not_hold_the_agent() {
  dev_up ap
  start_wirepeer wire0 15 flood
  local start took
  start=$(date +%s)
  expect_eq "$(uplink)" "$(uplink_doc '' '')" "flooded link"
  took=$(($(date +%s) - start))
  [ "$took" -le 5 ] || fail "answered after ${took}s"
}

# A port that is down or missing: the normal document, and the same worker.
test_uplink_failed_steps_answer_and_keep_the_worker() {
  dev_up ap
  local sup worker after fds
  read -r sup worker < <(agent_pids)
  fds=$(dev_exec ls "/proc/$worker/fd" | wc -l)
  dev_exec ip link set eth0 down
  expect_eq "$(uplink)" "$(uplink_doc '' '')" "port down"
  dev_exec ip link del eth0.2
  expect_eq "$(uplink)" "$(uplink_doc '' '')" "interface missing"
  read -r _ after < <(agent_pids)
  expect_eq "$after" "$worker" "worker"
  expect_eq "$(dev_exec ls "/proc/$worker/fd" | wc -l)" "$fds" "open descriptors"
  expect_eq "$(request $'GET /route/uplink/x\n\n')" "$(envelope 1 'NO SERVICE')" "sub-path"
}
