# The DHCP server service in a simulated device.
# shellcheck shell=bash

ok=$(envelope 0 OK)
declaration='<?xml version="1.0" encoding="utf-8"?>'

test_clients_from_the_lease_file() {
  dev_up ap
  local doc count
  doc=$(request $'GET /route/dhcp/clients\n\n')
  count=$(dev_exec cat /sim/state/dhcp.leases | wc -l)
  expect_contains "$doc" "$declaration<DHCP><CLIENTS><MAC>" "start"
  expect_contains "$doc" "<CLIENTS_NUM>$count</CLIENTS_NUM></DHCP>" "count"
  # The expiry is shown as ctime text, its line feed inside the element.
  local expiry mac ip host
  read -r expiry mac ip host _ < <(dev_exec head -n1 /tmp/dhcp.leases)
  mac=$(tr 'a-f' 'A-F' <<<"$mac")
  expect_contains "$doc" "<CLIENTS><MAC>$mac</MAC><IP>$ip</IP><HOSTNAME>$host</HOSTNAME><TIME>$(dev_exec date -d "@$expiry" '+%a %b %e %H:%M:%S %Y')
</TIME></CLIENTS>" "first lease"
}

test_clients_without_lease_file() {
  dev_up ap
  dev_exec rm /tmp/dhcp.leases
  expect_eq "$(request $'GET /route/dhcp/clients\n\n')" "$(envelope 5 'No such file or directory')" "no file"
}

test_config_round_trip() {
  dev_up ap
  expect_eq "$(request $'GET /route/dhcp/config\n\n')" \
    "$declaration<DHCP><DISABLE>0</DISABLE><LEASETIME>12</LEASETIME><ADDRPOOL><START>192.168.1.100</START><END>192.168.1.249</END></ADDRPOOL></DHCP>" \
    "stock"
  local body
  body='<DHCP><DISABLE>1</DISABLE><STATIC><MAC>00:11:22:33:44:55</MAC><IP>192.168.1.30</IP></STATIC><STATIC><MAC>00:11:22:33:44:66</MAC><IP>192.168.1.31</IP></STATIC><LEASETIME>24h</LEASETIME><ADDRPOOL><START>192.168.1.50</START><END>192.168.1.99</END></ADDRPOOL></DHCP>'
  expect_eq "$(request "POST /route/dhcp"$'\n'"$body"$'\n\n')" "$ok" "POST"
  expect_eq "$(request $'GET /route/dhcp/config\n\n')" \
    "$declaration<DHCP><DISABLE>1</DISABLE><STATIC><MAC>00:11:22:33:44:55</MAC><IP>192.168.1.30</IP></STATIC><STATIC><MAC>00:11:22:33:44:66</MAC><IP>192.168.1.31</IP></STATIC><LEASETIME>24</LEASETIME><ADDRPOOL><START>192.168.1.50</START><END>192.168.1.99</END></ADDRPOOL></DHCP>" \
    "after POST"
  expect_eq "$(dev_exec uci get dhcp.lan.limit)" 50 "committed limit"
  expect_eq "$(grep -c '^/etc/init.d/dnsmasq restart$' "$CMDLOG")" 1 "dnsmasq restart"
  expect_eq "$(grep -c '^/etc/init.d/network restart$' "$CMDLOG" || true)" 0 "no network restart"

  # A pool outside the LAN is refused and changes nothing.
  body='<DHCP><ADDRPOOL><START>10.0.0.1</START><END>10.0.0.9</END></ADDRPOOL></DHCP>'
  expect_eq "$(request "POST /route/dhcp"$'\n'"$body"$'\n\n')" "$(envelope 3 'Invalid address pool')" "bad pool"
  expect_eq "$(dev_exec uci get dhcp.@host[1].ip)" 192.168.1.31 "static leases kept"
  expect_eq "$(dev_exec uci changes dhcp)" "" "nothing staged"
}
