# The system service in a simulated device: the dashboard, settings, backup
# and restore, the device actions (each ends only its own device) and the
# operating-mode switch with its couplings.
# shellcheck shell=bash

post_system() {
  request "POST /route/system/$1"$'\n'"$2"$'\n\n' "${3:-30}"
}

# The text of the first element NAME of a document.
element() {
  sed -n "s|.*<$1>\\([^<]*\\)</$1>.*|\\1|p" <<<"$2" | head -n1
}

# The device ended as ENDED says (restart, poweroff).
expect_ended() {
  wait_for 10 test -s "$DEV/run/ended" || fail "device did not end"
  expect_eq "$(cat "$DEV/run/ended")" "$1" "how the device ended"
}

# The device ended by the given reboot(2) command, and the agent's strace
# shows a sync() just before it.
expect_restart_after_sync() {
  if [ "$1" = LINUX_REBOOT_CMD_POWER_OFF ]; then expect_ended poweroff; else expect_ended restart; fi
  local trace
  trace=$(grep -E 'sync\(\)|reboot\(' "$DEV/root/sim/agent.strace")
  expect_contains "$trace" "sync()" "strace"
  expect_contains "$(grep -A1 'sync()' <<<"$trace" | tail -n1)" "$1" "reboot after sync"
}

test_basic_document_shows_the_login_right_of_this_worker() {
  local config reply
  config=$(stock_config right)
  set_option "$config/system" system root_user_name root
  dev_up ap --config "$config"
  reply=$(request $'GET /route/system/basic\n\n')
  expect_eq "$(element USER_RIGHT "$reply")" "" "before a login"
  expect_eq "$(element VERSION "$reply")" "$(dev_exec head -n1 /etc/lsb-version)" "version"
  expect_contains "$(dev_exec cat /etc/config/system)" "option version '$(element VERSION "$reply")'" \
    "committed version"
  expect_contains "$reply" $'\n</CTIME><UPTIME>' "CTIME line feed"
  [[ $(element UPTIME "$reply") =~ ^[0-9]+$ ]] || fail "uptime [$(element UPTIME "$reply")]"
  login admin admin >/dev/null
  expect_eq "$(element USER_RIGHT "$(request $'GET /route/system/basic\n\n')")" 2 "admin"
  login root root >/dev/null
  expect_eq "$(element USER_RIGHT "$(request $'GET /route/system/basic\n\n')")" 1 "root"
}

test_basic_settings_are_committed_and_telnet_restarts_in_order() {
  dev_up ap
  expect_eq "$(post_system basic '<S><SYSDEVNAME>only</SYSDEVNAME></S>')" "" "no element applied"
  expect_eq "$(post_system basic '<S><SYSDEVGROUP>lab &amp; co</SYSDEVGROUP><SYSDEVNAME>a&lt;b</SYSDEVNAME><RST_BT_DISABLE>1</RST_BT_DISABLE><TELNET_ENABLE>1</TELNET_ENABLE></S>')" \
    "$(envelope 0 OK)" "all four"
  local stored
  stored=$(dev_exec cat /etc/config/system)
  for line in "option sysdevgroup 'lab & co'" "option sysdevname 'a<b'" "option rst_disabled '1'" \
    "option tn_disable '0'"; do
    expect_contains "$stored" "$line" "committed"
  done
  expect_eq "$(dev_exec cat /tmp/kkk)" rst "reset-button file"
  wait_for 5 grep -q 'telnet restart' "$CMDLOG" || fail "no telnet restart"
  expect_eq "$(grep telnet "$CMDLOG")" $'/etc/init.d/telnet stop\n/etc/init.d/telnet restart' "order"
  local reply
  reply=$(request $'GET /route/system/basic\n\n')
  expect_contains "$reply" "<SYSDEVGROUP>lab &amp; co</SYSDEVGROUP><SYSDEVNAME>a&lt;b</SYSDEVNAME>" "escaped"
  expect_contains "$reply" "<RST_BT_DISABLE>1</RST_BT_DISABLE><FREQ_MODE>0</FREQ_MODE><TELNET_ENABLE>1</TELNET_ENABLE></SYSTEM>" "flags"
}

test_traffic_lists_every_interface_of_the_device() {
  dev_up ap
  local reply names
  reply=$(request $'GET /route/system/traffic\n\n')
  names=$(grep -o '<NAME>[^<]*</NAME>' <<<"$reply" | sed 's/<[^>]*>//g' | sort | tr '\n' ' ')
  expect_eq "$names" "$(dev_exec sh -c "sed -n '3,\$p' /proc/net/dev | cut -d: -f1 | tr -d ' '" | sort | tr '\n' ' ')" "interfaces"
  expect_contains "$reply" "</TRAFFIC></SYSTEM>" "whole document"
}

# The agent's clock stands at 09:05:03 UTC on 2 March 2026.
test_backup_then_restore_brings_the_settings_back() {
  local config
  config=$(stock_config utc)
  set_option "$config/system" system timezone UTC0
  dev_up ap --strace --config "$config" --faketime '2026-03-02 09:05:03'
  expect_contains "$(request $'GET /route/system/basic\n\n')" \
    $'<CTIME>Mon Mar  2 09:05:03 2026\n</CTIME>' "clock"
  expect_eq "$(request $'GET /route/system/backup\n\n')" \
    '<?xml version="1.0" encoding="utf-8"?><SYSTEM><URL>bakfile.bin</URL></SYSTEM>' "backup"
  local archive
  archive=$(dev_exec readlink /www/bakfile.bin)
  expect_eq "$archive" /tmp/backup-202632-9:5:3.tar.gz "archive name"
  dev_exec tar -tzf "$archive" | grep -qx 'etc/config/system' || fail "no system file in the archive"
  post_system basic '<S><SYSDEVGROUP>changed</SYSDEVGROUP><SYSDEVNAME>n</SYSDEVNAME></S>' >/dev/null
  expect_eq "$(post_system active '<A><ACT>Restore</ACT><URL>../etc/config/network</URL></A>')" \
    "$(envelope 3 'FORMAT ERROR')" "path escape"
  dev_running || fail "device ended on a refused restore"
  post_system active "<A><ACT>Restore</ACT><URL>${archive#/tmp/}</URL></A>" 5 >/dev/null || true
  expect_restart_after_sync LINUX_REBOOT_CMD_RESTART
  expect_contains "$(cat "$DEV/root/etc/config/system")" "option sysdevgroup 'default'" "restored"
}

test_restore_url_never_reaches_the_shell() {
  dev_up ap
  expect_eq "$(post_system active '<A><ACT>Restore</ACT><URL>x;touch /tmp/pwned</URL></A>')" \
    "$(envelope 3 'FORMAT ERROR')" "a path"
  # The agent works in /: an injected command would leave /pwned-N there.
  post_system active '<A><ACT>Restore</ACT><URL>x;touch pwned-1;$(touch pwned-2)</URL></A>' 5 \
    >/dev/null || true
  expect_ended restart
  expect_eq "$(ls "$DEV/root" | grep pwned || true)" "" "files made by the URL"
}

test_reboot_syncs_then_restarts_only_its_device() {
  dev_up other
  local other=$DEV
  dev_up ap --strace
  post_system active '<A><ACT>Reboot</ACT></A>' 5 >/dev/null || true
  expect_restart_after_sync LINUX_REBOOT_CMD_RESTART
  expect_contains "$(cat "$CMDLOG")" "/sbin/reboot -n -f" "command"
  dev_running "$other" || fail "the other device ended"
}

test_poweroff_asks_the_kernel_to_power_off() {
  dev_up ap --strace
  post_system active '<A><ACT>Poweroff</ACT></A>' 5 >/dev/null || true
  expect_restart_after_sync LINUX_REBOOT_CMD_POWER_OFF
}

test_reset_signals_everything_and_empties_the_overlay() {
  dev_up ap --strace
  [ -n "$(ls "$DEV/root/overlay")" ] || fail "stock overlay is empty"
  post_system active '<A><ACT>Reset</ACT></A>' 5 >/dev/null || true
  expect_ended restart
  expect_eq "$(ls -A "$DEV/root/overlay")" "" "overlay"
  expect_contains "$(cat "$DEV/root/sim/agent.strace")" "kill(-1, SIGTERM)" "kill -1"
}

test_upgrade_without_keeping_settings() {
  dev_up ap
  dev_exec sh -c "$(image_at /tmp/fw.bin)"
  expect_eq "$(post_system active '<A><ACT>Upgrade</ACT></A>')" "$(envelope 3 'FORMAT ERROR')" "no URL"
  post_system active '<A><ACT>Upgrade</ACT><URL>fw.bin</URL><SAVE_CFG>0</SAVE_CFG></A>' 5 >/dev/null || true
  expect_ended restart
  expect_contains "$(cat "$CMDLOG")" "/sbin/sysupgrade -n /tmp/fw.bin" "command"
  expect_eq "$(ls -A "$DEV/root/overlay")" "" "overlay after -n"
}

# After a switch the network service stores without restarting until the
# front end reads the DHCP clients.
test_mode_switch_commits_and_holds_restarts_until_dhcp_clients() {
  dev_up ap
  expect_eq "$(post_system active '<A><ACT>Mode</ACT><MODE>4x</MODE></A>')" "$(envelope 0 OK)" "switch"
  local network
  network=$(dev_exec cat /etc/config/network)
  expect_contains "$network" "option proto 'dhcp'" "LAN protocol"
  expect_contains "$network" "option ipaddr '192.168.188.253'" "LAN address"
  expect_contains "$(dev_exec cat /etc/config/system)" "option sys_mode '4'" "mode"
  expect_contains "$(dev_exec cat /etc/config/dhcp)" "option ignore '1'" "DHCP server"
  expect_eq "$(element SYS_MODE "$(request $'GET /route/system/basic\n\n')")" 4 "shown"
  local lan='<N><PROTO><TYPE>static</TYPE><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK></PROTO></N>'
  : >"$CMDLOG"
  request "POST /route/network/lan"$'\n'"$lan"$'\n\n' >/dev/null
  expect_not_contains "$(cat "$CMDLOG")" "network restart" "held"
  request $'GET /route/dhcp/clients\n\n' >/dev/null
  request "POST /route/network/lan"$'\n'"$lan"$'\n\n' >/dev/null
  expect_contains "$(cat "$CMDLOG")" "/etc/init.d/network restart" "released"
}
