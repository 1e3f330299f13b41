# Clients that hold connections without completing a request.
# shellcheck shell=bash

# slow_request TEXT: TEXT and a blank line, one byte every 50 ms.
slow_request() {
  local text=$1$'\n\n' i
  for ((i = 0; i < ${#text}; i++)); do
    printf '%s' "${text:i:1}"
    sleep 0.05
  done
}

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
  expect_eq "$(slow_request 'GET /route/nosuch' | "$E2E_RAWCLIENT" "$SOCK" 5)" \
    "$(envelope 1 'NO SERVICE')" "a client sending a byte every 50 ms"
  wait
  expect_eq "$(tail -n 1 "$held")" "closed 1100" "idle connections closed by the agent"
  [ $((($(date +%s%N) - started) / 1000000)) -ge 9900 ] || fail "closed before 10 s"
}

