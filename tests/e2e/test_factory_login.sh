# The production line's opcode queries and the login and password services,
# in a simulated device.
# shellcheck shell=bash

header=$'Content-type: text/html\n\n'

# The result object of the opcode queries: a tab and a blank after the colon.
factory_result() {
  printf '%s{"result":\t "%s"}' "$header" "$1"
}

# Upper-case MAC address of a device interface.
device_mac() {
  dev_exec cat "/sys/class/net/$1/address" | tr a-f A-F
}

# change_password NAME OLD NEW: prints the reply.
change_password() {
  request "$(printf 'POST /route/passwd\n<PASSWD><USER_NAME>%s</USER_NAME><NEW_NAME>%s</NEW_NAME>' \
    "$1" "$1")$(printf '<OLD_PASSWD>%s</OLD_PASSWD><PASSWD>%s</PASSWD></PASSWD>' \
    "$(hex_of "$2")" "$(hex_of "$3")")"$'\n\n'
}

# The message of a code 0 envelope (fails on any other reply).
token_message() {
  local reply=$1 message
  message=$(sed -n 's|.*<CODE>0</CODE><MESSAGE>\(.*\)</MESSAGE>.*|\1|p' <<<"$reply")
  [ -n "$message" ] || fail "no login token in [$reply]"
  echo "$message"
}

band() {
  printf '{"pd_wlan_ssid_val":"%s","pd_wlan_channel_val":"%s","pd_wlan_authmode_val":"%s","pd_wlan_cipher_val":"%s","pd_wlan_pwd_val":"%s"}' \
    "$@"
}

# Product information of the stock factory defaults: LAN 192.168.1.1, pool
# 100 + 150, router mode, open networks on channel auto.
stock_product_info() {
  local mac=$1 bands=$2 count=$3
  printf '%s{"pd_sw_ver_val":"","pd_mac_val":"%s","pd_opmode_val":"0","pd_ip_val":"192.168.1.1",' \
    "$header" "$mac"
  printf '"pd_dhcpserver_ipstart_val":"192.168.1.100","pd_dhcpserver_ipend_val":"192.168.1.249",'
  printf '"ItemList":{"wlandata":[%s],"count":"%s"}}' "$bands" "$count"
}

test_factory_information_of_a_dual_band_board() {
  # The live settings differ from the factory defaults, which are reported.
  local config
  config=$(stock_config live)
  sed -i "s/option ssid 'AP-2G'/option ssid 'Changed'/" "$config/wireless"
  set_option "$config/network" "interface 'lan'" ipaddr 10.0.0.1
  dev_up ap --config "$config"
  local expected
  expected=$(stock_product_info "$(device_mac eth0)" \
    "$(band AP-2G auto 1 9 ''),$(band AP-5G auto 1 9 '')" 2)
  expect_eq "$(request $'GET /?opcode=1 HTTP/1.1\n\n')" "$expected" "opcode 1"
}

test_factory_information_of_single_band_boards() {
  dev_up single --board single9531
  expect_eq "$(request $'GET /?opcode=1\n\n')" \
    "$(stock_product_info "$(device_mac eth0)" "$(band AP-2G auto 1 9 ''),$(band '' '' 0 0 '')" 1)" \
    "SINGLE board"
  dev_up five --board single5g
  expect_eq "$(request $'GET /?opcode=1\n\n')" \
    "$(stock_product_info "$(device_mac eth0)" "$(band AP-5G auto 1 9 ''),$(band '' '' 0 0 '')" 1)" \
    "SINGLE5G board"
}

test_reset_button_test_reports_the_file() {
  dev_up ap
  dev_exec test ! -e /var/testprotect_noreset || fail "marker before the test"
  expect_eq "$(request $'GET /?opcode=3 HTTP/1.1\n\n')" "$(factory_result 0)" "no button file"
  dev_exec test -e /var/testprotect_noreset || fail "no marker after opcode 3"
  # A marker that is there already gets the time of the new test.
  dev_exec touch -t 200001010000 /var/testprotect_noreset
  request $'GET /?opcode=3\n\n' >/dev/null
  [ "$(dev_exec stat -c %Y /var/testprotect_noreset)" -gt 1000000000 ] || fail "marker kept its old time"
  dev_exec sh -c 'echo 1 >/var/resetbuttontest'
  expect_eq "$(request $'GET /?opcode=3\n\n')" "$(factory_result 1)" "button pressed"
  expect_eq "$(request $'GET /?opcode=7\n\n')" "$(factory_result 1)" "unknown opcode"
  expect_eq "$(request $'GET /?opcode=abc\n\n')" "$(factory_result 1)" "opcode abc"
  dev_running || fail "device ended"
}

test_factory_reset_ends_only_its_device() {
  dev_up b
  local b_dev=$DEV b_sock=$SOCK sentinel
  dev_up a
  sleep 600 &
  sentinel=$!
  [ -n "$(ls "$DEV/root/overlay")" ] || fail "stock overlay is empty"
  expect_eq "$(request $'GET /?opcode=%32 HTTP/1.1\n\n' 5)" "$(factory_result 0)" "opcode 2"
  dev_running || fail "device a ended before the reply delay"
  wait_for 15 eval '! dev_running' || fail "device a still runs"
  expect_eq "$(ls -A "$DEV/root/overlay")" "" "overlay of a"
  [ -n "$(ls "$b_dev/root/overlay")" ] || fail "overlay of b emptied"
  dev_running "$b_dev" || fail "device b stopped"
  expect_eq "$(SOCK=$b_sock request $'GET /?opcode=3\n\n')" "$(factory_result 0)" "device b serves"
  kill -0 "$sentinel" 2>/dev/null || fail "a host process was killed"
  kill "$sentinel"
}

test_login_tokens_are_the_ones_in_the_token_block() {
  local config root_reply admin_reply root_token admin_token now before
  config=$(stock_config accounts)
  set_option "$config/system" system root_passwd toor
  dev_up ap --config "$config"
  dev_install "$E2E_SHMTOOL" /tmp/shmtool

  expect_eq "$(login Root toor)" "$(envelope 5 'Invalid name')" "other case"
  expect_eq "$(login root wrong)" "$(envelope 5 'Invalid passwd')" "wrong"
  expect_eq "$(block_bytes 0 68)" "$(printf '%0136d' 0)" "block after failures"

  before=$(dev_exec date +%s)
  root_reply=$(login root toor)
  root_token=$(token_message "$root_reply")
  [[ $root_token =~ ^root[0-9a-f]{16}$ ]] || fail "root message [$root_token]"
  expect_eq "$(block_bytes 0 32)" "$(hex_of "$root_token" | tr a-f A-F)000000000000000000000000" \
    "root slot"
  now=$(block_time)
  # date and the agent may read clocks of different precision: allow a second.
  [ "$now" -ge $((before - 1)) ] && [ "$now" -le $((before + 5)) ] || fail "time $now, device $before"

  admin_reply=$(login admin admin)
  admin_token=$(token_message "$admin_reply")
  [[ $admin_token =~ ^admin[0-9a-f]{16}$ ]] || fail "admin message [$admin_token]"
  expect_eq "$(block_bytes 32 22)" "$(hex_of "$admin_token" | tr a-f A-F)00" "admin slot"
  expect_eq "$(block_bytes 0 21)" "$(hex_of "$root_token" | tr a-f A-F)00" "root slot kept"

  # A new root login replaces the root token only.
  root_reply=$(login root toor)
  [ "$(token_message "$root_reply")" != "$root_token" ] || fail "root token not renewed"
  expect_eq "$(block_bytes 0 21)" "$(hex_of "$(token_message "$root_reply")" | tr a-f A-F)00" \
    "new root slot"
  expect_eq "$(block_bytes 32 22)" "$(hex_of "$admin_token" | tr a-f A-F)00" "admin slot kept"
}

test_password_change_then_login() {
  dev_up ap
  expect_eq "$(change_password admin wrong 'n3w pass')" \
    "$(envelope 5 'Invalid passwd')" "wrong old password"
  expect_eq "$(dev_exec uci get 'system.@system[0].passwd')" admin "password kept"
  expect_eq "$(change_password admin admin 'n3w pass')" "$(envelope 0 OK)" "change"
  expect_eq "$(dev_exec uci get 'system.@system[0].passwd')" 'n3w pass' "stored password"
  expect_eq "$(dev_exec sh -c 'uci changes system | wc -l')" 0 "left uncommitted"
  expect_eq "$(login admin admin)" "$(envelope 5 'Invalid passwd')" "old one"
  [[ $(token_message "$(login admin 'n3w pass')") =~ ^admin[0-9a-f]{16}$ ]] ||
    fail "no login with the new password"
}
