# Device actions (restart, reset, upgrade) end only the device that runs
# them; down leaves nothing behind.
# shellcheck shell=bash

# Starts devices "a" and "b"; DEV/SOCK stay on "a", B and B_SOCK name "b".
two_devices() {
  dev_up b
  B=$DEV B_SOCK=$SOCK
  dev_up a
  sleep 600 &
  SENTINEL=$!
  HOST_NAME=$(hostname)
}

# Checks that "a" has ended and that "b" and the host are untouched.
expect_only_a_ended() {
  wait_for 10 eval '! dev_running' || fail "device a still runs"
  expect_eq "$(SOCK=$B_SOCK request $'PUT /x\n\n' 5)" "$(envelope 2 'NOT SUPPORT SERVICE')" \
    "device b serves"
  dev_running "$B" || fail "device b stopped"
  kill -0 "$SENTINEL" 2>/dev/null || fail "a host process was killed"
  expect_eq "$(hostname)" "$HOST_NAME" "host name"
  kill "$SENTINEL"
}

test_reboot_syscall_ends_only_that_device() {
  two_devices
  dev_exec /sbin/reboot -n -f || true
  expect_only_a_ended
  expect_contains "$(cat "$DEV/root/sim/commands.log")" "/sbin/reboot -n -f" "command log"
}

test_factory_reset_ends_only_that_device() {
  two_devices
  [ -n "$(ls "$DEV/root/overlay")" ] || fail "stock overlay is empty"
  dev_exec sh -c '(sleep 0.2; kill -15 -1; rm -rf /overlay/*; reboot) >/dev/null 2>&1 &'
  expect_only_a_ended
  expect_eq "$(ls -A "$DEV/root/overlay")" "" "overlay of a"
  [ -n "$(ls "$B/root/overlay")" ] || fail "overlay of b emptied"
}

test_sysupgrade_ends_only_that_device() {
  two_devices
  dev_exec sh -c "$(image_at /tmp/fw.bin); /sbin/sysupgrade -n /tmp/fw.bin" || true
  expect_only_a_ended
  expect_eq "$(ls -A "$DEV/root/overlay")" "" "overlay after sysupgrade -n"
  expect_contains "$(cat "$DEV/root/sim/commands.log")" "/sbin/sysupgrade -n /tmp/fw.bin" "command log"
}

test_sysupgrade_keeps_settings_and_refuses_a_missing_image() {
  dev_up ap
  local status=0
  dev_exec /sbin/sysupgrade /tmp/missing.bin 2>/dev/null || status=$?
  expect_eq "$status" 1 "missing image"
  status=0
  dev_exec sh -c 'echo image >/tmp/bad.bin; /sbin/sysupgrade /tmp/bad.bin' 2>/dev/null || status=$?
  expect_eq "$status" 1 "image without a header"
  dev_running || fail "device ended on a missing or invalid image"
  dev_exec sh -c "$(image_at /tmp/fw.bin); /sbin/sysupgrade /tmp/fw.bin" || true
  wait_for 10 eval '! dev_running' || fail "device still runs"
  [ -n "$(ls "$DEV/root/overlay")" ] || fail "overlay emptied without -n"
}

test_delayed_reboot_ends_the_device() {
  dev_up ap
  dev_exec sh -c 'delayreboot.sh 1 >/dev/null 2>&1 &'
  dev_running || fail "device ended before the delay"
  wait_for 10 eval '! dev_running' || fail "device still runs"
  expect_contains "$(cat "$DEV/root/sim/commands.log")" "/usr/sbin/delayreboot.sh 1" "command log"
}

# Namespace identities of the device's init, e.g. "pid:[4026532311]", and
# the network namespaces at the far ends of its cables.
device_namespaces() {
  local upid ipid ns f
  upid=$(cat "$DEV/run/unshare.pid")
  ipid=$(cut -d' ' -f1 "/proc/$upid/task/$upid/children")
  for ns in pid net mnt uts ipc user; do
    readlink "/proc/$ipid/ns/$ns"
  done
  for f in "$DEV"/run/wire*.pid; do
    readlink "/proc/$(cat "$f")/ns/net"
  done
  echo "$ipid" >"$E2E_WORK/init.pid"
}

# Processes (not zombies: the host's init reaps the ended unshare process
# when it gets to it) that are in one of the given namespaces.
processes_in() {
  local line pid stat
  find /proc/[0-9]*/ns/ -maxdepth 1 -type l -printf '%l %p\n' 2>/dev/null |
    grep -F -f <(sed 's/$/ /' <<<"$1") |
    while read -r line; do
      pid=${line#* /proc/}
      pid=${pid%%/*}
      stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
      stat=${stat##*) }
      [ "${stat%% *}" = Z ] || echo "$line"
    done
}

expect_no_trace() {
  local namespaces=$1 links_before=$2
  expect_eq "$(processes_in "$namespaces")" "" "processes in the device's namespaces"
  if grep -F -- "$DEV" /proc/self/mountinfo; then fail "mounts left under $DEV"; fi
  expect_eq "$(ls /sys/class/net | tr '\n' ' ')" "$links_before" "host interfaces"
  ! dev_running || fail "status still says running"
}

test_down_leaves_nothing() {
  local links namespaces
  links=$(ls /sys/class/net | tr '\n' ' ')
  dev_up ap --board dual9344
  namespaces=$(device_namespaces)
  expect_eq "$(grep -c '^net:' <<<"$namespaces")" 3 "device and two cable ends"
  peer_exec wire1 sleep 60 &
  # The holder of wire1's far end and the peer.
  wait_for 5 eval '[ "$(processes_in "$(tail -n1 <<<"$namespaces")" | wc -l)" -eq 2 ]' || fail "peer did not start"
  dev_down
  expect_no_trace "$namespaces" "$links"
}

test_down_after_init_was_killed_leaves_nothing() {
  local links namespaces
  links=$(ls /sys/class/net | tr '\n' ' ')
  dev_up ap
  namespaces=$(device_namespaces)
  kill -9 "$(cat "$E2E_WORK/init.pid")"
  dev_down
  expect_no_trace "$namespaces" "$links"
  # The same state folder serves a fresh device again.
  dev_up ap
  expect_eq "$(request $'PUT /x\n\n')" "$(envelope 2 'NOT SUPPORT SERVICE')" "restarted device"
}

test_down_finds_a_device_whose_folder_was_deleted() {
  local links namespaces
  links=$(ls /sys/class/net | tr '\n' ' ')
  dev_up ap
  namespaces=$(device_namespaces)
  rm -rf "$DEV"
  dev_down
  expect_no_trace "$namespaces" "$links"
}
