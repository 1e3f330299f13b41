# The simulated device itself: its shell, stand-ins, clock and zone, how it
# ended, and what it keeps from its caller.
# shellcheck shell=bash

test_bare_names_reach_the_stand_ins() {
  dev_up ap
  dev_exec sh -c 'echo "0 4 * * * reboot" >/etc/crontabs/root'
  local before
  before=$(dev_exec /sim/applets/date +%s)
  dev_exec sh -c 'date 010100002001; crontab -r; ifconfig ath04 up; killall syslogd'
  expect_eq "$(cat "$CMDLOG")" "/bin/date 010100002001
/usr/bin/crontab -r
/sbin/ifconfig ath04 up
/usr/bin/killall syslogd" "command log"
  [ "$(dev_exec /sim/applets/date +%s)" -ge "$before" ] || fail "the clock was set"
  dev_exec test ! -e /etc/crontabs/root || fail "crontab -r left the root crontab"
  expect_contains "$(dev_exec ip link show ath04)" ",UP" "ath04 after ifconfig up"
  wait_for 5 eval '! dev_exec pidof syslogd >/dev/null' || fail "syslogd still runs"
}

test_ended_tells_restart_from_poweroff() {
  local case command expected
  for case in 'reboot:restart' 'reboot -f:restart' 'poweroff:poweroff' 'halt -f:poweroff'; do
    command=${case%%:*} expected=${case#*:}
    dev_up ap
    dev_exec sh -c "$command" || true
    wait_for 10 test -s "$DEV/run/ended" || fail "$command: no ended file"
    expect_eq "$(cat "$DEV/run/ended")" "$expected" "$command"
  done
  dev_up ap
  dev_exec kill -9 1 || true
  sleep 0.3
  dev_running || fail "init ended on a signal from inside"
  [ ! -e "$DEV/run/ended" ] || fail "a running device has an ended file"
}

test_zone_and_fixed_clock_reach_the_agent() {
  dev_up ap --faketime '@2026-03-02 09:05:03'
  expect_eq "$(dev_exec cat /etc/TZ)" CST-8 "/etc/TZ"
  # The lease expiry is printed in the zone of /tmp/TZ.
  local expiry doc
  read -r expiry _ < <(dev_exec head -n1 /tmp/dhcp.leases)
  doc=$(request $'GET /route/dhcp/clients\n\n')
  expect_contains "$doc" "<TIME>$(TZ=CST-8 date -d "@$expiry" '+%a %b %e %H:%M:%S %Y')" "lease time"
  # A login stamps the token block with the agent's clock.
  request $'POST /route/login\n\n<LOGIN><USER_NAME>admin</USER_NAME><PASSWD>61646d696e</PASSWD></LOGIN>\n\n' >/dev/null
  dev_install "$E2E_SHMTOOL" /tmp/shmtool
  local start stamp
  start=$(TZ=CST-8 date -d '2026-03-02 09:05:03' +%s)
  stamp=$(block_time)
  [ "$stamp" -ge "$start" ] && [ "$stamp" -lt $((start + 60)) ] || fail "login time $stamp, clock from $start"
}

test_gb2312_converter_inside() {
  dev_up ap
  dev_install /usr/bin/iconv /tmp/iconv
  expect_eq "$(printf '\304\343\272\303' | dev_exec /tmp/iconv -f GB2312 -t UTF-8)" "你好" "GB2312 text"
}

test_caller_descriptors_stay_outside() {
  local marker=$E2E_WORK/caller-file
  : >"$marker"
  exec 7<"$marker"
  dev_up ap
  exec 7<&-
  expect_eq "$(dev_exec sh -c 'ls -l /proc/[0-9]*/fd/ 2>/dev/null | grep -c caller-file' || true)" 0 \
    "caller's descriptor in the device"
  expect_eq "$(dev_exec ls /proc/1/fd | tr '\n' ' ')" "0 1 2 " "descriptors of init"
}

test_up_and_down_of_missing_folders() {
  local dir=$E2E_WORK/never err status=0
  "$devsim" up --state "$dir" --bin "$E2E_BIN" --board nosuch 2>/dev/null || status=$?
  expect_eq "$status" 1 "up with an unknown board"
  [ ! -e "$dir" ] || fail "a failed up left its new state folder"
  err=$("$devsim" down --state "$dir" 2>&1) || fail "down of a missing folder failed"
  expect_contains "$err" "no such state folder" "down of a missing folder"
}
