# The simulated device itself: boards, stock configuration, stand-ins and
# their command log.
# shellcheck shell=bash

# board LAN-port WAN-port hardver submode radios
boards='switch eth0.1 eth0.2 HX5-9558-V2 DUAL 0,1
dual9344 eth1 eth0 HX3-9344-V1 DUAL 0,1
single9531 eth1 eth0 HX1-9531-V1 SINGLE 0
single5g eth0.1 eth0.2 HX5-9558-5G SINGLE5G 1
kv eth1 eth0 HX3-9344-KV DUAL 0,1
kv8100 eth1 eth0 HX8100-9344-KV DUAL 0,1
mt eth1 eth0 HX3-9344-MT DUAL 0,1'

# What a board shows inside: interfaces, LAN port carrier and bridge, store.
board_facts() {
  dev_exec sh -c '
    echo "links $(ls /sys/class/net | tr "\n" " ")"
    echo "carrier $(cat /sys/class/net/$1/carrier)"
    echo "bridged $(ls /sys/class/net/br-lan/brif | tr "\n" " ")"
    echo "hardver $(uci get "system.@system[0].hardver")"
    echo "romsubmode $(uci -c /rom/etc/config get "system.@system[0].submode")"
    echo "ifnames $(uci get network.lan.ifname) $(uci get network.wan.ifname)"' _ "$1"
}

test_every_board_starts_with_its_interfaces_and_settings() {
  local board lan wan hardver submode radios facts links n name
  while read -r board lan wan hardver submode radios; do
    dev_up "$board" --board "$board"
    facts=$(board_facts "$lan")
    links=" $(sed -n 's/^links //p' <<<"$facts")"
    for n in br-lan "$lan" "$wan"; do
      expect_contains "$links" " $n " "$board: interface"
    done
    for n in 0 1; do
      if [[ $radios == *$n* ]]; then
        for name in "wifi$n" "ath$n" "ath${n}1" "ath${n}2" "ath${n}3" "ath${n}4"; do
          expect_contains "$links" " $name " "$board: interface"
        done
      else
        expect_not_contains "$links" " wifi$n " "$board: radio"
      fi
    done
    expect_contains "$facts" "carrier 1" "$board: LAN carrier"
    expect_contains "$facts" "bridged " "$board: br-lan ports"
    expect_contains "$(grep '^bridged' <<<"$facts") " " $lan " "$board: LAN port in br-lan"
    expect_contains "$facts" "hardver $hardver" "$board: hardver"
    expect_contains "$facts" "romsubmode $submode" "$board: factory submode"
    expect_contains "$facts" "ifnames $lan $wan" "$board: ifnames"
    dev_down
  done <<<"$boards"
}

test_kernel_views_are_the_devices_own() {
  dev_up ap
  local addr
  addr=$(dev_exec ifconfig br-lan | grep -i 'addr:' | cut -f2 -d: | cut -f1 -d ' ' | head -n1)
  expect_eq "$addr" 192.168.1.1 "br-lan address"
  expect_contains "$(dev_exec cat /proc/net/arp)" "192.168.1.100" "ARP table"
  expect_contains "$(dev_exec cat /proc/net/dev)" "ath0:" "/proc/net/dev"
  expect_eq "$(dev_exec cat /sys/class/net/wifi0/address)" \
    "$(dev_exec cat /sys/class/net/wifi0/address | grep -E '^02:([0-9a-f]{2}:){2}[0-9a-f]{2}:10:00$')" \
    "wifi0 address"
  # br-lan takes its port's address; no other two interfaces share one.
  expect_eq "$(dev_exec sh -c 'cd /sys/class/net && for i in *; do [ "$i" = br-lan ] || cat "$i/address"; done' |
    grep -v '^00:00:00:00:00:00$' | sort | uniq -d)" "" "no two interfaces share an address"
  # Setting the clock or clearing the kernel log needs the host's privileges.
  local before after
  before=$(date +%Y)
  dev_exec busybox date -s 2001.01.01-00:00:00 >/dev/null 2>&1 || true
  after=$(date +%Y)
  expect_eq "$after" "$before" "host clock"
  ! dev_exec sh -c 'echo 1 >/proc/sys/kernel/printk' 2>/dev/null || fail "kernel settings writable"
  expect_eq "$(dev_exec cat /proc/1/cmdline | tr -d '\0 ')" init "PID 1 of the device"
}

test_stock_configuration_is_in_the_written_form() {
  dev_up ap
  local pkg
  for pkg in network wireless system dhcp firewall ddns wifidog clcloud samba; do
    expect_eq "$(dev_exec uci export "$pkg")" "$(printf 'package %s\n' "$pkg"; cat "$E2E_REPO/sim/rootfs/etc/config/$pkg")" \
      "$pkg as uci writes it"
  done
  expect_eq "$(dev_exec uci get 'wireless.@wifi-iface[7].id')" 13 "last VAP id"
  expect_eq "$(dev_exec uci get 'firewall.@redirect[0].src_dport')" 8080 "management redirect"
  expect_eq "$(dev_exec uci get 'firewall.@rule[7].name')" Block-IPsec "IPsec rule"
  expect_eq "$(dev_exec uci get 'firewall.@mode[0]')" mode "filter mode section"
  expect_eq "$(dev_exec uci get network.qos.rule_num)" 0 "qos rule count"
  dev_exec uci -q get 'network.@qos[0]' && fail "the qos settings section counts as a rule"
  true
}

test_init_scripts_and_stand_ins() {
  dev_up ap
  dev_exec /etc/init.d/mcproxy enable
  dev_exec test -L /etc/rc.d/S99mcproxy || fail "enable made no link"
  dev_exec /etc/init.d/miniupnpd disable
  dev_exec test ! -e /etc/rc.d/S95miniupnpd || fail "disable left the link"
  dev_exec /etc/init.d/mcproxy enabled || fail "mcproxy not enabled"
  dev_exec /etc/init.d/miniupnpd enabled && fail "miniupnpd still enabled"
  dev_exec /etc/init.d/network restart
  dev_exec /etc/init.d/swctrler retart 2>/dev/null && fail "unknown action accepted"
  echo down | dev_exec sh -c 'cat >/sim/state/switch/port1'
  expect_eq "$(dev_exec /sbin/swconfig dev eth0 port 1 get link)" "port:1 link:down" "port 1"
  expect_eq "$(dev_exec /sbin/swconfig dev eth0 port 5 get link)" \
    "port:5 link:up speed:1000baseT full-duplex auto" "port 5"
  expect_eq "$(dev_exec sh -c '. /lib/functions/network.sh; network_get_ipaddr ip wan; echo $ip')" \
    203.0.113.57 "WAN address"
  expect_eq "$(dev_exec sh -c ". /lib/functions/network.sh; network_get_dnsserver ip wan; echo \$ip")" \
    "198.51.100.53 198.51.100.54" "WAN DNS"
  expect_eq "$(dev_exec sh -c "fw_printenv mode | cut -d'=' -f2")" 0 "mode"
  dev_exec changemode.sh 2
  expect_eq "$(dev_exec fw_printenv mode)" mode=2 "mode after changemode.sh"
  # As ferrin runs it: the address comes on standard input, kept per place.
  dev_exec sh -c 'echo 02AABBCCDDEE >/var/mymac; macmanage set mtd2 < /var/mymac;'
  dev_exec sh -c 'echo 02AABBCCDD00 | macmanage set art'
  dev_exec sh -c 'echo 02AABBCCDDFF | macmanage set mtd2'
  expect_eq "$(dev_exec macmanage get mtd2)" 02AABBCCDDFF "address of mtd2"
  expect_eq "$(dev_exec macmanage get art)" 02AABBCCDD00 "address of art"
  dev_exec macmanage get other && fail "address of a place never set"
  dev_exec /bin/dmesg -c >/dev/null
  expect_eq "$(dev_exec /bin/dmesg)" "" "kernel log after -c"
  dev_exec /sbin/wifi restart
  dev_exec /sbin/fw3 start
  dev_exec /sim/bin/log-cmd /x "two words" $'line\nbreak'
  expect_eq "$(cat "$CMDLOG")" "/etc/init.d/mcproxy enable
/etc/init.d/miniupnpd disable
/etc/init.d/mcproxy enabled
/etc/init.d/miniupnpd enabled
/etc/init.d/network restart
/etc/init.d/swctrler retart
/sbin/swconfig dev eth0 port 1 get link
/sbin/swconfig dev eth0 port 5 get link
network_get_ipaddr ip wan
network_get_dnsserver ip wan
/usr/sbin/fw_printenv mode
/usr/sbin/changemode.sh 2
/usr/sbin/fw_printenv mode
/usr/sbin/macmanage set mtd2
/usr/sbin/macmanage set art
/usr/sbin/macmanage set mtd2
/usr/sbin/macmanage get mtd2
/usr/sbin/macmanage get art
/usr/sbin/macmanage get other
/bin/dmesg -c
/bin/dmesg
/sbin/wifi restart
/sbin/fw3 start
/x two words line\\nbreak" "command log"
}

test_devices_start_side_by_side() {
  local n pids=() status
  for n in 1 2 3; do
    echo "$E2E_WORK/p$n" >>"$E2E_WORK/devices"
    "$devsim" up --state "$E2E_WORK/p$n" --bin "$E2E_BIN" >"$E2E_WORK/p$n.out" &
    pids+=($!)
  done
  for n in "${pids[@]}"; do
    status=0
    wait "$n" || status=$?
    expect_eq "$status" 0 "devsim up"
  done
  for n in 1 2 3; do
    SOCK=$E2E_WORK/p$n/root/tmp/route
    expect_eq "$(request $'PUT /x\n\n' 5)" "$(envelope 2 'NOT SUPPORT SERVICE')" "device p$n"
    expect_contains "$(cat "$E2E_WORK/p$n.out")" "socket $SOCK" "printed socket"
  done
  expect_eq "$(cat "$E2E_WORK"/p*/root/sys/class/net/wifi0/address 2>/dev/null | sort -u | wc -l)" 0 \
    "device mounts seen from the host"
}
