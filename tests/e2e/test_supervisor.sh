# Start-up and supervision of the agent inside the device.
# shellcheck shell=bash

# The supervisor replaces a worker at once only when it ran for more than a
# second; tests that kill one let it age that long first.
let_worker_age() {
  sleep 1.1
}

# kill_worker SIGNAL PID: ends the worker and waits until it is gone, so the
# next request cannot reach its dying listener.
kill_worker() {
  dev_exec kill "$1" "$2"
  wait_for 5 process_gone "$2" || fail "worker $2 still there"
}

process_gone() {
  ! dev_exec kill -0 "$1" 2>/dev/null
}

# The agent answers: used with wait_for 1, a replacement that came at once
# rather than after the pause for workers that end early.
serving() {
  [ "$(request $'PUT /x\n\n' 5)" = "$(envelope 2 'NOT SUPPORT SERVICE')" ]
}

test_agent_runs_with_one_worker() {
  dev_up ap
  local sup worker
  read -r sup worker < <(agent_pids)
  [ -n "$sup" ] || fail "no supervisor (a pallad whose parent is not a pallad)"
  [ -n "$worker" ] || fail "no worker under supervisor $sup"
  expect_eq "$(dev_exec ps -o args | grep -c '^/usr/sbin/pallad')" 2 "pallad processes"
}

test_killed_worker_is_replaced_at_once() {
  dev_up ap
  local sup worker sup2 worker2
  read -r sup worker < <(agent_pids)
  let_worker_age
  kill_worker -9 "$worker"
  wait_for 1 serving || fail "not served after the kill"
  read -r sup2 worker2 < <(agent_pids)
  expect_eq "$sup2" "$sup" "supervisor"
  [ -n "$worker2" ] && [ "$worker2" != "$worker" ] || fail "worker not replaced ($worker -> $worker2)"
  # And again, with SIGTERM.
  let_worker_age
  kill_worker -TERM "$worker2"
  wait_for 1 serving || fail "not served after SIGTERM"
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
  let_worker_age
  kill_worker -9 "$worker"
  wait_for 1 serving || fail "not served after the kill"
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

# A worker that cannot bind the socket ends at once; the supervisor then
# waits a second before each new fork instead of spinning.
test_supervisor_backs_off_while_the_socket_cannot_be_bound() {
  dev_up ap
  local sup sup2 worker forks
  read -r sup worker < <(agent_pids)
  dev_exec sh -c 'rm /tmp/route && mkdir /tmp/route'
  dev_exec kill -9 "$worker"
  # Process ids handed out in the device in 3 s: the workers and this shell's own.
  forks=$(dev_exec sh -c 'a=$(cat /proc/sys/kernel/ns_last_pid); sleep 3
    b=$(cat /proc/sys/kernel/ns_last_pid); echo $((b - a))')
  [ "$forks" -le 12 ] || fail "$forks processes started in 3 s"
  dev_exec rmdir /tmp/route
  wait_for 5 test -S "$DEV/root/tmp/route" || fail "no worker bound the socket again"
  expect_eq "$(request $'PUT /x\n\n' 5)" "$(envelope 2 'NOT SUPPORT SERVICE')" "request after"
  read -r sup2 worker < <(agent_pids)
  expect_eq "$sup2" "$sup" "supervisor"
}

# The device starts the agent through its procd init script, as a board
# does: stop, start and restart go through it, and procd starts a killed
# supervisor again (after the 5 s pause of its respawn setting). A worker
# never outlives its supervisor.
test_init_script_stops_starts_restarts_and_respawns() {
  dev_up ap
  local sup worker sup2 worker2
  read -r sup worker < <(agent_pids)
  dev_exec /etc/init.d/pallad stop
  wait_for 5 process_gone "$worker" || fail "worker $worker still there after stop"
  process_gone "$sup" || fail "supervisor $sup still there after stop"
  [ -z "$(request $'PUT /x\n\n' 2)" ] || fail "served after stop"
  dev_exec /etc/init.d/pallad start
  wait_for 5 serving || fail "not served after start"
  read -r sup worker < <(agent_pids)
  dev_exec /etc/init.d/pallad restart
  wait_for 5 process_gone "$worker" || fail "worker $worker still there after restart"
  wait_for 5 serving || fail "not served after restart"
  read -r sup2 worker2 < <(agent_pids)
  [ -n "$sup2" ] && [ "$sup2" != "$sup" ] || fail "restart kept supervisor $sup"
  dev_exec kill -9 "$sup2"
  wait_for 5 process_gone "$worker2" || fail "worker $worker2 outlived its supervisor"
  wait_for 10 serving || fail "not served again after the supervisor was killed"
  read -r sup worker < <(agent_pids)
  [ -n "$sup" ] && [ "$sup" != "$sup2" ] && [ -n "$worker" ] || fail "no new supervisor and worker"
}
