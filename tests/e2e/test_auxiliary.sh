# The auxiliary services (storage, usb, ddns, wifidog, clcloud, changemode,
# superauth, dbmode) in a simulated device.
# shellcheck shell=bash

ok=$(envelope 0 OK)
declaration='<?xml version="1.0" encoding="utf-8"?>'

post() {
  request "POST /route/$1"$'\n'"$2"$'\n\n'
}

get() {
  request "GET /route/$1"$'\n\n'
}

test_storage_slots_live_as_long_as_the_worker() {
  dev_up ap
  expect_eq "$(post storage/2 '<NOTE>parked</NOTE>')" "$ok" "POST slot 2"
  expect_eq "$(get storage/2 | od -c | head -1)" "$(printf '\n<NOTE>parked</NOTE>' | od -c | head -1)" "slot 2"
  expect_eq "$(post storage/12 x)" "$(envelope 3 'Invlid index')" "POST slot 12"
  expect_eq "$(get storage/1)" "" "slot 1 untouched"
  local worker
  read -r _ worker < <(agent_pids)
  sleep 1.1 # a worker that ran a second is replaced at once
  dev_exec kill -9 "$worker"
  wait_for 5 eval '[ "$(get storage/2 2>/dev/null)" = "" ]' || fail "slot 2 survived the worker"
}

test_ddns_account_resolves_through_the_device_resolver() {
  dev_up ap
  dev_exec sh -c 'echo "10.77.0.9 myap.example.net" >>/etc/hosts'
  expect_eq "$(post ddns '<DDNS><USER_NAME>me</USER_NAME><PASSWD>secret</PASSWD><DISABLE>0</DISABLE><DOMAIN>myap.example.net</DOMAIN></DDNS>')" "$ok" "POST"
  expect_eq "$(get ddns)" "$declaration<DDNS><DISABLE>0</DISABLE><USER_NAME>me</USER_NAME><PASSWD>secret</PASSWD><DOMAIN>myap.example.net</DOMAIN><IP>10.77.0.9</IP></DDNS>" "GET"
  expect_eq "$(cat "$CMDLOG")" "/etc/init.d/updatedd restart" "commands"
  expect_contains "$(cat "$DEV/root/sim/loaded/ddns")" "option domain 'myap.example.net'" "loaded"
  expect_eq "$(post ddns "<DDNS><USER_NAME>me</USER_NAME><PASSWD>x</PASSWD><DISABLE>1</DISABLE><DOMAIN>$(printf '%03000d' 0)</DOMAIN></DDNS>")" \
    "$(envelope 3 'FORMAT ERROR')" "oversized domain"
  expect_contains "$(get ddns)" "<DISABLE>0</DISABLE>" "refused POST changed nothing"
}

test_wifidog_change_cycles_the_firewall_and_portal() {
  dev_up ap
  expect_eq "$(get wifidog)" "$declaration<WIFIDOG><ENABLE>0</ENABLE><ID></ID><NAME></NAME><PORT>2060</PORT><MAXCON>50</MAXCON><INTERVAL>60</INTERVAL><TIMEOUT>5</TIMEOUT><AUTH_SERVER>portal.example.net</AUTH_SERVER><AUTH_SERVER_SSL>0</AUTH_SERVER_SSL><AUTH_SERVER_PORT>80</AUTH_SERVER_PORT><AUTH_SERVER_PATH>/wifidog/</AUTH_SERVER_PATH><AUTH_TRUST_URL></AUTH_TRUST_URL><AUTH_TRUST_MAC></AUTH_TRUST_MAC></WIFIDOG>" "stock GET"
  expect_eq "$(post wifidog '<WIFIDOG><ENABLE>1</ENABLE><AUTH_TRUST_MAC>3c:15:c2:a1:07:5e</AUTH_TRUST_MAC></WIFIDOG>')" "$ok" "POST"
  expect_eq "$(cat "$CMDLOG")" "$(printf '%s\n' /sbin/fw\ stop /sbin/fw3\ stop '/etc/init.d/myqos stop' \
    '/etc/init.d/wifidogsh stop' /sbin/fw\ start /sbin/fw3\ start '/etc/init.d/wifidogsh start' '/etc/init.d/myqos start')" "cycle"
  expect_contains "$(cat "$DEV/root/sim/loaded/wifidog")" "option auth_trust_mac '3c:15:c2:a1:07:5e'" "loaded"
}

test_clcloud_client_loads_committed_settings() {
  dev_up ap
  expect_eq "$(get clcloud)" "$declaration<CLCLOUD><DISABLE>1</DISABLE><URL>cloud.example.net</URL><USER></USER></CLCLOUD>" "stock GET"
  expect_eq "$(post clcloud '<CLCLOUD><DISABLE>0</DISABLE><URL>cloud.example.net</URL><USER>site-17</USER></CLCLOUD>')" "$ok" "POST"
  expect_eq "$(cat "$CMDLOG")" "/etc/init.d/cloudmg restart" "commands"
  expect_contains "$(cat "$DEV/root/sim/loaded/clcloud")" "option user 'site-17'" "loaded by the client"
  expect_contains "$(cat "$DEV/root/etc/config/clcloud")" "option disable '0'" "committed"
}

test_changemode_passes_the_protocol_as_one_word_then_reboots() {
  dev_up ap
  expect_eq "$(get changemode)" "$declaration<MODE><PROTOCOL>0</PROTOCOL></MODE>" "stock GET"
  expect_eq "$(post changemode '<MODE><PROTOCOL></PROTOCOL></MODE>')" "$(envelope 3 'FORMAT ERROR')" "empty"
  # A line feed would add a variable to the boot loader's environment.
  expect_eq "$(post changemode '<MODE><PROTOCOL>a&#10;super=x</PROTOCOL></MODE>')" "$(envelope 3 'FORMAT ERROR')" "line feed"
  dev_running || fail "a refused switch rebooted"
  post changemode '<MODE><PROTOCOL>1;touch /tmp/owned</PROTOCOL></MODE>' >/dev/null || true
  wait_for 10 test -s "$DEV/run/ended" || fail "device still runs after the switch"
  expect_eq "$(cat "$DEV/run/ended")" restart "how the device ended"
  expect_eq "$(cat "$DEV/root/sim/commands.log")" "$(printf '%s\n' '/usr/sbin/fw_printenv mode' \
    '/usr/sbin/changemode.sh 1;touch /tmp/owned' /sbin/reboot)" "commands"
  [ ! -e "$DEV/root/tmp/owned" ] || fail "the protocol text ran as a command"
  expect_eq "$(cat "$DEV/root/sim/changemode.calls")" "1 '1;touch /tmp/owned'" "one argument"
}

test_changemode_shows_a_multi_line_mode_as_one_line() {
  dev_up ap
  dev_exec sh -c "printf 'mode= 4\\n\\t7 \\n' >/sim/state/fw_env"
  expect_eq "$(get changemode)" "$declaration<MODE><PROTOCOL>4 7</PROTOCOL></MODE>" "two lines"
  dev_exec sh -c ': >/sim/state/fw_env'
  expect_eq "$(get changemode)" "$declaration<MODE><PROTOCOL>0</PROTOCOL></MODE>" "unset"
}

test_usb_lists_mounted_partitions_once() {
  dev_up ap
  expect_eq "$(get usb)" "$declaration<USB></USB>" "no disk"
  dev_exec /sim/bin/usb-plug sdx1 32m
  dev_exec /sim/bin/usb-plug sdx10 64m 1024
  dev_exec sh -c 'echo "/dev/sdy1: TYPE=\"vfat\"" >>/sim/state/blkid' # listed, not mounted
  expect_eq "$(get usb)" "$declaration<USB><DEVICE><NAME>/dev/sdx1</NAME><SIZE>32.0M</SIZE><USED>0</USED><AVAILABLE>32.0M</AVAILABLE><PERCENT>0%</PERCENT></DEVICE><DEVICE><NAME>/dev/sdx10</NAME><SIZE>64.0M</SIZE><USED>1.0M</USED><AVAILABLE>63.0M</AVAILABLE><PERCENT>2%</PERCENT></DEVICE></USB>" \
    "each partition once"
  dev_exec /sim/bin/usb-unplug sdx10
  expect_not_contains "$(get usb)" "sdx10" "unplugged"
}

test_superauth_and_dbmode() {
  dev_up ap
  expect_eq "$(post superauth '<SUPERAUTH><SUPER_NAME>super</SUPER_NAME><SUPER_PASSWD>7375706572236170</SUPER_PASSWD></SUPERAUTH>')" "$ok" "right password"
  expect_eq "$(post superauth '<S><SUPER_NAME>super</SUPER_NAME><SUPER_PASSWD>7375706572</SUPER_PASSWD></S>')" \
    "$(envelope 5 'Invalid passwd')" "wrong password"
  expect_eq "$(get superauth)" "" "GET"
  expect_eq "$(get dbmode)" "$declaration<MODE><DBMODE>0</DBMODE></MODE>" "stock dbmode"
  expect_eq "$(post dbmode '<MODE><DBMODE>1</DBMODE></MODE>')" "$ok" "POST dbmode"
  expect_contains "$(cat "$DEV/root/etc/config/system")" "option dbmode '1'" "committed"
}
