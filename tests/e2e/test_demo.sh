# ./scripts/demo, as a person runs it.
# shellcheck shell=bash

demo() {
  "$E2E_REPO/scripts/demo" --build-dir "$(dirname "$E2E_BIN")" --state "$E2E_WORK/demo" "$@"
}

test_demo_runs_and_stops_its_device() {
  local out
  out=$(demo 2>&1) || fail "demo failed: $out"
  expect_contains "$out" '$ pallactl get system/basic' "request shown"
  expect_contains "$out" '<CODE>1</CODE>' "reply to the unknown service"
  expect_contains "$out" "dhcp.@host[0].mac='3c:15:c2:a1:07:5e'" "the static lease it posted"
  expect_not_contains "$out" $'\033' "terminal escapes in output that is no terminal"
  expect_contains "$out" "socket $E2E_WORK/demo/root/tmp/route" "device started"
  [ ! -e "$E2E_WORK/demo" ] || fail "demo left its device folder"
}

test_demo_keep_leaves_a_device_to_talk_to() {
  local out
  echo "$E2E_WORK/demo" >>"$E2E_WORK/devices"
  out=$(demo --keep 2>&1) || fail "demo failed: $out"
  expect_contains "$out" "sim/devsim down --state $E2E_WORK/demo" "how to stop it"
  DEV=$E2E_WORK/demo SOCK=$E2E_WORK/demo/root/tmp/route
  dev_running || fail "device not running after --keep"
  expect_eq "$(request $'GET /route/networks/lan\n\n')" "$(envelope 1 'NO SERVICE')" "request"
  # The commands it prints work as printed (the last one stops the device).
  local line
  while IFS= read -r line; do
    echo "\$ $line"
    eval "$line" </dev/null >/dev/null || fail "printed command failed: $line"
  done < <(sed -n '/== The device keeps running/,$ s/^  //p' <<<"$out")
  ! dev_running || fail "the printed stop command left the device running"
}

# The demo installs with one line per step; the package tools' output goes to
# a log that is named when a step fails. Fake package tools: every package
# missing, the install noisy and failing.
test_install_steps_are_one_line_each_with_the_log_named_on_failure() {
  local fake=$E2E_WORK/fake log=$E2E_WORK/setup.log out
  mkdir -p "$fake"
  printf '#!/bin/sh\nexit 1\n' >"$fake/dpkg-query"
  printf '#!/bin/sh\n[ "$1" = update ] && exit 0\necho "Unpacking libfoo ..."\nexit 100\n' >"$fake/apt-get"
  chmod +x "$fake/dpkg-query" "$fake/apt-get"
  out=$(PATH=$fake:$PATH "$E2E_REPO/scripts/install-deps" --log "$log" 2>&1) && fail "a failed install passed"
  expect_eq "$(head -n1 <<<"$out")" "updating the package lists" "first step"
  expect_contains "$out" "packages (about a minute)..." "install step"
  expect_contains "$out" "failed; the full log is $log" "the log named"
  expect_not_contains "$out" "Unpacking" "package tool output on the terminal"
  expect_contains "$(cat "$log")" "Unpacking libfoo" "package tool output in the log"
}
