# The network service (LAN, WAN, SNMP, ARP) in a simulated device.
# shellcheck shell=bash

ok=$(envelope 0 OK)
declaration='<?xml version="1.0" encoding="utf-8"?>'

# ports STATES: the SWITCH text for five ports, u = up, d = down.
ports() {
  local i=1 out='' state
  for state in $(sed 's/./& /g' <<<"$1"); do
    [ "$state" = u ] && state=up || state=down
    out="$out<PORT><NUM>$i</NUM><STATUS>$state</STATUS></PORT>"
    i=$((i + 1))
  done
  printf '%s' "$out"
}

# The device's live MAC of an interface, as the agent prints it.
live_mac() {
  dev_exec cat "/sys/class/net/$1/address" | tr 'a-f' 'A-F'
}

# Lines of the command log that equal TEXT.
log_count() {
  grep -cxF -- "$1" "$CMDLOG" || true
}

post_network() {
  request "POST /route/network/$1"$'\n'"$2"$'\n\n'
}

test_lan_on_switch_board() {
  dev_up ap
  local mac
  mac=$(live_mac br-lan)
  expect_eq "$(request $'GET /route/network/lan\n\n')" \
    "$declaration<Network><IFNAME>br-lan</IFNAME><PROTO><TYPE>static</TYPE><MTU>1500</MTU><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MAC>$mac</MAC><GATEWAY_ADDR></GATEWAY_ADDR><DNS_ADDR></DNS_ADDR></PROTO><AC_ADDR></AC_ADDR><SWITCH>$(ports udddu)</SWITCH><UPLINK>1</UPLINK></Network>" \
    "GET /lan"
  for port in 1 2 3 4 5; do
    expect_eq "$(log_count "/sbin/swconfig dev eth0 port $port get link")" 1 "swconfig port $port"
  done
  # Port 5 carries the uplink in router mode.
  dev_exec sh -c 'echo down >/sim/state/switch/port5; echo up >/sim/state/switch/port3'
  local doc
  doc=$(request $'GET /route/network/lan\n\n')
  expect_contains "$doc" "<SWITCH>$(ports ududd)</SWITCH><UPLINK>0</UPLINK>" "port 5 down"
}

test_lan_on_kv_board_follows_carriers() {
  dev_up ap --board kv
  local doc
  doc=$(request $'GET /route/network/lan\n\n')
  expect_contains "$doc" "<SWITCH>$(ports ddduu)</SWITCH>" "both carriers up"
  peer_exec wire0 ip link set wire0 down
  doc=$(request $'GET /route/network/lan\n\n')
  expect_contains "$doc" "<SWITCH>$(ports dddud)</SWITCH>" "eth0 without carrier"
  peer_exec wire1 ip link set wire1 down
  doc=$(request $'GET /route/network/lan\n\n')
  expect_contains "$doc" "<SWITCH>$(ports ddddd)</SWITCH>" "no carrier at all"
  expect_eq "$(grep -c swconfig "$CMDLOG" || true)" 0 "swconfig runs on a KV board"
}

test_lan_on_mt_board_mixes_carrier_and_switch() {
  dev_up ap --board mt
  dev_exec sh -c 'echo up >/sim/state/switch/port2; echo up >/sim/state/switch/port5'
  peer_exec wire0 ip link set wire0 down
  local doc
  doc=$(request $'GET /route/network/lan\n\n')
  # Port 5 is eth0's carrier, not the switch's port 5.
  expect_contains "$doc" "<SWITCH>$(ports uudd)<PORT><NUM>5</NUM><STATUS>down</STATUS></PORT></SWITCH>" "ports"
  expect_eq "$(log_count '/sbin/swconfig dev eth1 port 1 get link')" 1 "switch of the board family"
  expect_eq "$(grep -c 'port 5 get link' "$CMDLOG" || true)" 0 "port 5 from the switch"
}

# Stored WAN values for the static and PPPoE documents (staged, which the
# agent reads as the store's current state).
wan_values() {
  dev_exec uci set network.wan.ipaddr=203.0.113.57
  dev_exec uci set network.wan.netmask=255.255.255.0
  dev_exec uci set network.wan.gateway=203.0.113.1
  dev_exec uci set 'network.wan.dns=9.9.9.9 1.1.1.1'
  dev_exec uci set network.wan.username=user@isp
  dev_exec uci set network.wan.password=secret
}

test_wan_documents_by_protocol() {
  dev_up ap
  wan_values
  local mac doc
  mac=$(live_mac eth0.2)
  doc=$(request $'GET /route/network/wan\n\n')
  expect_eq "$doc" "$declaration<NETWORK><IFNAME>eth0.2</IFNAME><PROTO><TYPE>dhcp</TYPE><MTU>1500</MTU><IP>203.0.113.57</IP><NETMASK>255.255.255.0</NETMASK><MAC>$mac</MAC><GATEWAY>203.0.113.1</GATEWAY><BROADCAST>203.0.113.255</BROADCAST><PREDNS>0</PREDNS><DNS>198.51.100.53</DNS><DNS>198.51.100.54</DNS></PROTO></NETWORK>" "dhcp"

  dev_exec uci set network.wan.proto=static
  doc=$(request $'GET /route/network/wan\n\n')
  expect_eq "$doc" "$declaration<NETWORK><IFNAME>eth0.2</IFNAME><PROTO><TYPE>static</TYPE><MTU>1500</MTU><IP>203.0.113.57</IP><NETMASK>255.255.255.0</NETMASK><MAC>$mac</MAC><GATEWAY>203.0.113.1</GATEWAY><BROADCAST>203.0.113.255</BROADCAST><DNS>9.9.9.9</DNS><DNS>1.1.1.1</DNS></PROTO></NETWORK>" "static"

  dev_exec uci set network.wan.proto=pppoe
  doc=$(request $'GET /route/network/wan\n\n')
  expect_eq "$doc" "$declaration<NETWORK><IFNAME>eth0.2</IFNAME><PROTO><USER_NAME>user@isp</USER_NAME><PASSWD>secret</PASSWD><TYPE>pppoe</TYPE><MTU>1500</MTU><IP>203.0.113.57</IP><NETMASK>255.255.255.255</NETMASK><MAC>$mac</MAC><GATEWAY>203.0.113.1</GATEWAY><BROADCAST>203.0.113.255</BROADCAST><PREDNS>0</PREDNS><DNS>198.51.100.53</DNS><DNS>198.51.100.54</DNS></PROTO></NETWORK>" "pppoe"

  dev_exec uci set network.wan.proto=l2tp
  expect_eq "$(request $'GET /route/network/wan\n\n' | od -An -c)" "" "unknown protocol: no bytes"
}

test_arp_lists_the_neighbours() {
  dev_up ap
  local doc
  doc=$(request $'GET /route/network/arp\n\n')
  expect_contains "$doc" "<ARP><MAC_IP>" "start without declaration"
  # Every lease of the device is a permanent neighbour entry on br-lan.
  local mac ip
  while read -r _ mac ip _; do
    mac=$(tr 'a-f' 'A-F' <<<"$mac")
    expect_contains "$doc" "<MAC_IP><MAC>$mac</MAC><IP>$ip</IP></MAC_IP>" "neighbour $ip"
  done < <(dev_exec cat /sim/state/dhcp.leases)
  expect_eq "${doc: -6}" "</ARP>" "end"
}

test_post_lan_round_trip_and_restarts() {
  dev_up ap
  local body doc
  body='<LAN><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.0.0</NETMASK><MTU>1400</MTU><GATEWAY_ADDR>192.168.1.254</GATEWAY_ADDR><DNS_ADDR>9.9.9.9</DNS_ADDR><DNS_ADDR>bad</DNS_ADDR><DNS_ADDR>1.0.0.1</DNS_ADDR></PROTO></LAN>'
  expect_eq "$(post_network lan "$body")" "$ok" "POST /lan"
  doc=$(request $'GET /route/network/lan\n\n')
  expect_contains "$doc" "<MTU>1400</MTU><IP>192.168.1.1</IP><NETMASK>255.255.0.0</NETMASK>" "stored values"
  expect_contains "$doc" "<GATEWAY_ADDR>192.168.1.254</GATEWAY_ADDR><DNS_ADDR>9.9.9.9</DNS_ADDR><DNS_ADDR>1.0.0.1</DNS_ADDR></PROTO>" "gateway and DNS"
  expect_eq "$(dev_exec uci get network.lan.dnsbak)" "9.9.9.9 1.0.0.1" "committed DNS list"
  local restarts
  restarts=$(grep -vE 'swconfig|network_get' "$CMDLOG")
  expect_eq "$restarts" "/etc/init.d/network restart
/etc/init.d/dnsmasq restart
/sbin/fw stop
/sbin/fw3 stop
/etc/init.d/myqos stop
/etc/init.d/wifidogsh stop
/sbin/fw start
/sbin/fw3 start
/etc/init.d/wifidogsh start
/etc/init.d/myqos start
/sbin/wifi restart
/etc/init.d/swctrler restart" "restart sequence"
  # The lease file was emptied with the restart.
  expect_eq "$(dev_exec cat /tmp/dhcp.leases)" "" "lease file"
}

test_post_lan_refused_leaves_store_alone() {
  dev_up ap
  local body
  body='<LAN><PROTO><IP>192.168.1.1</IP><NETMASK>255.0.255.0</NETMASK><GATEWAY_ADDR>10.0.0.1</GATEWAY_ADDR></PROTO></LAN>'
  expect_eq "$(post_network lan "$body")" "$(envelope 3 'Invalid network address')" "bad netmask"
  expect_eq "$(dev_exec uci changes network)" "" "staged changes"
  expect_eq "$(cat "$CMDLOG" 2>/dev/null)" "" "commands run"
}

# Values the store refuses (a control character, more than 2047 characters)
# fail the request instead of being dropped while it answers OK.
test_posts_with_values_the_store_cannot_take_change_nothing() {
  dev_up ap
  local long
  long=$(printf '1%.0s' {1..2100})
  for mtu in $'1300\x01' "$long"; do
    expect_eq "$(post_network wan "<WAN><PROTO><TYPE>dhcp</TYPE><MTU>$mtu</MTU></PROTO></WAN>")" \
      "$(envelope 3 'FORMAT ERROR')" "WAN MTU of ${#mtu} characters"
  done
  expect_eq "$(request $'POST /route/dhcp\n<DHCP><LEASETIME>6h\x02</LEASETIME></DHCP>\n\n')" \
    "$(envelope 3 'FORMAT ERROR')" "DHCP lease time"
  expect_eq "$(dev_exec uci get network.wan.mtu)" 1500 "WAN MTU kept"
  expect_eq "$(dev_exec uci changes)" "" "staged changes"
  expect_eq "$(cat "$CMDLOG" 2>/dev/null)" "" "commands run"
}

test_active_lan_change_is_restarted_by_the_next_dhcp_post() {
  dev_up ap
  local body
  body='<LAN><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MTU>1480</MTU></PROTO><ACTIVE>1</ACTIVE></LAN>'
  expect_eq "$(post_network lan "$body")" "$ok" "POST /lan with ACTIVE"
  expect_eq "$(log_count '/etc/init.d/network restart')" 0 "restart before the DHCP POST"
  expect_eq "$(dev_exec uci get network.lan.mtu)" 1480 "committed"
  expect_eq "$(request $'POST /route/dhcp\n<DHCP><LEASETIME>6h</LEASETIME></DHCP>\n\n')" "$ok" "POST dhcp"
  expect_eq "$(log_count '/etc/init.d/network restart')" 1 "owed restart"
  expect_eq "$(log_count '/sbin/fw start')" 1 "firewall cycle"
  expect_eq "$(log_count '/etc/init.d/dnsmasq restart')" 1 "dnsmasq"
  expect_eq "$(request $'POST /route/dhcp\n<DHCP><LEASETIME>6h</LEASETIME></DHCP>\n\n')" "$ok" "second POST dhcp"
  expect_eq "$(log_count '/etc/init.d/network restart')" 1 "restart owed once only"
}

test_post_wan_static_and_pppoe() {
  dev_up ap
  local body
  body='<WAN><PROTO><TYPE>static</TYPE><IP>203.0.113.9</IP><NETMASK>255.255.255.0</NETMASK><GATEWAY>203.0.113.1</GATEWAY><DNS>8.8.8.8</DNS><DNS>8.8.4.4</DNS></PROTO></WAN>'
  expect_eq "$(post_network wan "$body")" "$ok" "static"
  expect_eq "$(dev_exec uci get network.wan.ipaddr)" 203.0.113.9 "address"
  expect_eq "$(dev_exec uci get network.wan.dns)" "8.8.8.8 8.8.4.4" "DNS"
  expect_eq "$(log_count '/etc/init.d/network restart')" 1 "network restart"

  body='<WAN><PROTO><TYPE>pppoe</TYPE><USER_NAME>u</USER_NAME><PASSWD>p</PASSWD><PREDNS><IP>8.8.8.8;touch /tmp/owned</IP></PREDNS></PROTO></WAN>'
  expect_eq "$(post_network wan "$body")" "$(envelope 3 'Invalid dns ip address')" "injection"
  dev_exec test ! -e /tmp/owned || fail "request text reached the shell"
  body='<WAN><PROTO><TYPE>pppoe</TYPE><USER_NAME>u$(id)</USER_NAME><PASSWD>p w</PASSWD><PREDNS><IP>8.8.8.8</IP><IP>1.1.1.1</IP></PREDNS></PROTO></WAN>'
  expect_eq "$(post_network wan "$body")" "$ok" "pppoe"
  expect_eq "$(dev_exec uci get network.wan.username)" 'u$(id)' "user name kept as text"
  expect_eq "$(dev_exec uci get network.wan.dns)" "8.8.8.8 1.1.1.1" "own DNS"
  expect_eq "$(dev_exec uci get network.wan.peerdns)" 0 "peerdns"
  expect_eq "$(log_count '/etc/init.d/network restart')" 2 "network restarts"
}

reloads_are() {
  [ "$(dev_exec grep -c SIGHUP /sim/snmpd.log 2>/dev/null)" = "$1" ]
}

test_post_snmp_writes_the_daemon_file() {
  local conf
  conf=$(stock_config snmp)
  set_option "$conf/system" system sys_mode 4
  dev_up ap --config "$conf"
  expect_eq "$(post_network snmp '<X><SNMP><RWCOMMUNITY>rw`id`</RWCOMMUNITY><ROCOMMUNITY>ro</ROCOMMUNITY><TRAP2SINK>192.168.1.60</TRAP2SINK></SNMP></X>')" \
    "$ok" "POST /snmp"
  expect_eq "$(dev_exec cat /var/run/snmpd.conf)" 'sysobjectid .1.3.6.1.4.1.47215.100.1.1.1.1.10
agentAddress udp:161
sysservices 72
rwcommunity rw`id`
rocommunity ro
trapcommunity mivrok
trap2sink 192.168.1.60' "snmpd.conf"
  wait_for 5 reloads_are 2 || fail "no SIGHUP after the one at start-up"
  expect_eq "$(request $'GET /route/network/snmp\n\n')" \
    "$declaration<Network><SNMP><RWCOMMUNITY>rw\`id\`</RWCOMMUNITY><ROCOMMUNITY>ro</ROCOMMUNITY><TRAP2SINK>192.168.1.60</TRAP2SINK></SNMP></Network>" "GET /snmp"
}
