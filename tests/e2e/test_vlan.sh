# The VLAN service in a simulated device, and the mode switch removing the
# user VLANs again.
# shellcheck shell=bash

post_vlan() {
  request "POST /route/vlan"$'\n'"$1"$'\n\n'
}

test_vlans_are_stored_listed_and_cleared_by_a_mode_switch() {
  dev_up ap
  local body='<VLAN_CONFIG><VLAN><VID>10</VID><PORT><NUM>3</NUM><NUM>4</NUM></PORT><SSID><ID>01</ID></SSID></VLAN><VLAN><VID>20</VID><SSID><ID>11</ID></SSID></VLAN></VLAN_CONFIG>'
  expect_eq "$(post_vlan "$body")" "$(envelope 0 OK)" "post"
  expect_eq "$(request $'GET /route/vlan\n\n')" \
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>${body}" "listed as posted"
  local network
  network=$(dev_exec cat /etc/config/network)
  expect_contains "$network" "option ports '0t 2 1'" "LAN map"
  expect_contains "$network" "config interface 'vlan10'" "bridge"
  expect_contains "$(dev_exec cat /etc/config/wireless)" "option network 'vlan20'" "VAP binding"
  expect_eq "$(request $'POST /route/system/active\n<A><ACT>Mode</ACT><MODE>3</MODE></A>\n\n')" \
    "$(envelope 0 OK)" "mode switch"
  expect_eq "$(request $'GET /route/vlan\n\n')" \
    '<?xml version="1.0" encoding="utf-8"?><VLAN_CONFIG></VLAN_CONFIG>' "cleared"
  network=$(dev_exec cat /etc/config/network)
  expect_contains "$network" "option ports '0t 1 2 3 4'" "LAN map back"
  expect_not_contains "$network" "vlan10" "bridge gone"
}

test_vlan_refusals_and_a_port_number_with_a_shell_tail() {
  dev_up ap
  local before
  before=$(dev_exec cat /etc/config/network)
  expect_eq "$(post_vlan '<C><VLAN><VID>5</VID><PORT><NUM>3</NUM></PORT></VLAN><VLAN><VID>5</VID><SSID><ID>00</ID></SSID></VLAN></C>')" \
    "$(envelope 3 'Invalid vlan id')" "same id twice"
  expect_eq "$(post_vlan '<C><VLAN><PORT><NUM>3</NUM></PORT></VLAN></C>')" \
    "$(envelope 3 'Invalid vlan id')" "no id"
  expect_eq "$(dev_exec cat /etc/config/network)" "$before" "unchanged"
  expect_eq "$(post_vlan "<C><VLAN><VID>5</VID><PORT><NUM>3' ; touch /tmp/pwned ; '</NUM></PORT></VLAN></C>")" \
    "$(envelope 0 OK)" "number with a tail"
  dev_exec test ! -e /tmp/pwned || fail "the port text ran a command"
  expect_contains "$(dev_exec cat /etc/config/network)" "option ports '0t 3 1t'" "map of the number"
}
