# Start-up and supervision of the agent inside the device.
# shellcheck shell=bash

# Prints "SUPERVISOR WORKER" pids (device view): the supervisor is the pallad
# whose parent is init, the worker its child.
agent_pids() {
  dev_exec ps -o pid,ppid,args | awk '
    $3 == "/usr/sbin/pallad" { parent[$1] = $2 }
    END {
      for (p in parent) if (parent[p] == 1) sup = p
      for (p in parent) if (parent[p] == sup) worker = p
      print sup, worker
    }'
}

test_agent_daemonises_with_one_worker() {
  dev_up ap
  local sup worker
  read -r sup worker < <(agent_pids)
  [ -n "$sup" ] || fail "no supervisor (a pallad whose parent is init)"
  [ -n "$worker" ] || fail "no worker under supervisor $sup"
  expect_eq "$(dev_exec ps -o args | grep -c '^/usr/sbin/pallad')" 2 "pallad processes"
}

test_killed_worker_is_replaced_at_once() {
  dev_up ap
  local sup worker sup2 worker2 reply
  read -r sup worker < <(agent_pids)
  dev_exec kill -9 "$worker"
  # The very next request is served (the new worker binds the socket again).
  reply=$(request $'PUT /x\n\n' 5)
  expect_eq "$reply" "$(envelope 2 'NOT SUPPORT SERVICE')" "request after the kill"
  read -r sup2 worker2 < <(agent_pids)
  expect_eq "$sup2" "$sup" "supervisor"
  [ -n "$worker2" ] && [ "$worker2" != "$worker" ] || fail "worker not replaced ($worker -> $worker2)"
  # And again, with SIGTERM.
  dev_exec kill "$worker2"
  expect_eq "$(request $'PUT /x\n\n' 5)" "$(envelope 2 'NOT SUPPORT SERVICE')" "after SIGTERM"
}

test_token_block_is_zeroed_and_survives_the_worker() {
  dev_up ap
  dev_install "$E2E_SHMTOOL" /tmp/shmtool
  local zeros sup worker block
  zeros=$(printf '%0136d' 0)
  expect_eq "$(dev_exec /tmp/shmtool size 3134)" 68 "token block size"
  expect_eq "$(dev_exec /tmp/shmtool read 3134)" "$zeros" "token block at start"
  dev_exec /tmp/shmtool write 3134 0 'token-A'
  dev_exec /tmp/shmtool write 3134 61 'token-Z'
  read -r sup worker < <(agent_pids)
  dev_exec kill -9 "$worker"
  expect_eq "$(request $'PUT /x\n\n' 5)" "$(envelope 2 'NOT SUPPORT SERVICE')" "request after the kill"
  block=$(dev_exec /tmp/shmtool read 3134)
  expect_eq "${block:0:14}" 746F6B656E2D41 "first bytes"
  expect_eq "${block:122:14}" 746F6B656E2D5A "last bytes"
  expect_eq "${block:14:108}" "$(printf '%0108d' 0)" "bytes between"
}

test_devices_have_their_own_token_blocks() {
  dev_up ap1
  local first=$DEV
  dev_install "$E2E_SHMTOOL" /tmp/shmtool
  dev_exec /tmp/shmtool write 3134 0 'only-here'
  dev_up ap2
  dev_install "$E2E_SHMTOOL" /tmp/shmtool
  expect_eq "$(dev_exec /tmp/shmtool read 3134)" "$(printf '%0136d' 0)" "second device's block"
  DEV=$first
  expect_eq "$(dev_exec /tmp/shmtool read 3134 | cut -c1-18)" 6F6E6C792D68657265 "first device's block"
}
