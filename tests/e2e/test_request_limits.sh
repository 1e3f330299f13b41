# Clients that hold connections without completing a request.
# shellcheck shell=bash

# 1 100 connections that send one byte each (more than the agent serves
# descriptors): the oldest give way to new clients, a slow but progressing
# client is served, and every idle one is closed 10 s after its accept.
test_idle_connections_give_way_and_time_out() {
  dev_up ap
  local held=$E2E_WORK/held started
  started=$(date +%s%N)
  "$E2E_RAWCLIENT" --hold 1100 "$SOCK" 12 >"$held" &
  wait_for 20 grep -q '^open' "$held" || fail "connections not opened"
  expect_eq "$(cat "$held")" "open 1100" "idle connections"
  expect_eq "$(request $'GET /route/nosuch\n\n' 5)" "$(envelope 1 'NO SERVICE')" "a normal request"
  expect_eq "$(printf 'GET /route/nosuch\n\n' | "$E2E_RAWCLIENT" "$SOCK" 5 50)" \
    "$(envelope 1 'NO SERVICE')" "a client sending a byte every 50 ms"
  wait
  expect_eq "$(tail -n 1 "$held")" "closed 1100" "idle connections closed by the agent"
  [ $((($(date +%s%N) - started) / 1000000000)) -ge 10 ] || fail "closed before 10 s"
}

# One idle connection alone is closed after 10 s, not before.
test_idle_connection_is_closed_after_ten_seconds() {
  dev_up ap
  local status=0 started took
  started=$(date +%s%N)
  request_open 'GET /route/nos' 15 || status=$?
  took=$((($(date +%s%N) - started) / 1000000))
  expect_eq "$status" 0 "closed by the agent"
  [ "$took" -ge 9900 ] && [ "$took" -le 14500 ] || fail "closed after $took ms"
}
