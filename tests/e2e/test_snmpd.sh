# The SNMP daemon's configuration written by the agent at start-up.
# shellcheck shell=bash

# Starts a device with sys_mode, LAN proto and snmpd options changed.
snmp_device() {
  local mode=$1 proto=$2 enterprise=$3 rw=$4 ro=$5 conf
  conf=$(stock_config snmp)
  set_option "$conf/system" system sys_mode "$mode"
  set_option "$conf/network" "interface 'lan'" proto "$proto"
  set_option "$conf/dhcp" "snmpd 'snmpd'" ac_addr 192.168.1.250
  set_option "$conf/dhcp" "snmpd 'snmpd'" enterprisesid "$enterprise"
  set_option "$conf/dhcp" "snmpd 'snmpd'" rwcommunity "$rw"
  set_option "$conf/dhcp" "snmpd 'snmpd'" rocommunity "$ro"
  dev_up ap --config "$conf"
}

snmpd_reloaded() {
  dev_exec grep -q SIGHUP /sim/snmpd.log 2>/dev/null
}

test_bridge_mode_with_static_lan_uses_default_communities() {
  snmp_device 4 static '' ignored ignored
  local expected
  expected='sysobjectid .1.3.6.1.4.1.47215.100.1.1.1.1.10
agentAddress udp:161
sysservices 72
rwcommunity k4tw9rq2zm7x
rocommunity k4tw9rq2zm7x
trapcommunity mivrok
trap2sink 192.168.1.250'
  expect_eq "$(dev_exec cat /var/run/snmpd.conf)" "$expected" "snmpd.conf"
  wait_for 5 snmpd_reloaded || fail "the SNMP daemon got no SIGHUP"
  expect_eq "$(dev_exec cat /sim/snmpd.conf.loaded)" "$expected" "configuration at the reload"
  expect_eq "$(dev_exec grep -c SIGHUP /sim/snmpd.log)" 1 "reloads"
}

test_stored_enterprise_id_takes_stored_communities() {
  snmp_device 5 static 12345 'rw-secret' ''
  local conf
  conf=$(dev_exec cat /var/run/snmpd.conf)
  expect_contains "$conf" 'sysobjectid .1.3.6.1.4.1.12345.100.1.1.1.1.10' "sysobjectid"
  expect_contains "$conf" $'\nrwcommunity rw-secret\n' "rwcommunity"
  expect_contains "$conf" $'\nrocommunity \n' "empty rocommunity"
  expect_eq "$(wc -l <<<"$conf")" 7 "lines"
  wait_for 5 snmpd_reloaded || fail "the SNMP daemon got no SIGHUP"
}

test_router_mode_writes_nothing() {
  # Start-up writes the file before the first worker serves, so once the
  # device answers there is nothing left to wait for.
  snmp_device 1 static '' '' ''
  dev_exec test ! -e /var/run/snmpd.conf || fail "snmpd.conf written in mode 1"
  ! snmpd_reloaded || fail "SIGHUP sent in mode 1"
}

test_dhcp_lan_writes_nothing() {
  snmp_device 4 dhcp '' '' ''
  dev_exec test ! -e /var/run/snmpd.conf || fail "snmpd.conf written with a DHCP LAN"
  ! snmpd_reloaded || fail "SIGHUP sent with a DHCP LAN"
}
