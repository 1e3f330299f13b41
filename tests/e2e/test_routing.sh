# Request routing through the device's real socket.
# shellcheck shell=bash

no_service=$(envelope 1 'NO SERVICE')
not_supported=$(envelope 2 'NOT SUPPORT SERVICE')
format_error=$(envelope 3 'FORMAT ERROR')

test_service_names_match_exactly() {
  dev_up ap
  expect_eq "$(request $'GET /route/networks/lan\n\n')" "$no_service" "longer name"
  expect_eq "$(request $'GET /route/net/lan\n\n')" "$no_service" "prefix of a name"
  expect_eq "$(request $'GET /route/Network/lan\n\n')" "$no_service" "other case"
  expect_eq "$(request $'GET /route//lan\n\n')" "$no_service" "empty name"
  expect_not_contains "$(request $'GET /route/network/lan\n\n')" "$no_service" "GET network"
  expect_not_contains "$(request $'GET /route/wireless/vap/2g?x\n\n')" "$no_service" \
    "GET with a query"
}

test_each_table_is_its_own() {
  dev_up ap
  # uplink and usb are GET-only, login and passwd POST-only.
  expect_eq "$(request $'POST /route/uplink\n<A/>\n\n')" "$no_service" "POST uplink"
  expect_eq "$(request $'POST /route/usb/x\n<A/>\n\n')" "$no_service" "POST usb"
  expect_eq "$(request $'GET /route/login\n\n')" "$no_service" "GET login"
  expect_eq "$(request $'GET /route/passwd/x\n\n')" "$no_service" "GET passwd"
  expect_eq "$(request $'POST /route/nosuch\n<A/>\n\n')" "$no_service" "POST unknown"
  expect_not_contains "$(request $'POST /route/login\n<LOGIN/>\n\n')" "$no_service" "POST login"
}

test_method_comes_from_the_request_line() {
  dev_up ap
  expect_eq "$(request $'PUT /route/x\n\n')" "$not_supported" "PUT"
  expect_eq "$(request $'HELLO\n\n')" "$not_supported" "no method"
  expect_eq "$(request $'\n\n')" "$not_supported" "empty request"
  expect_eq "$(request $'get /route/network/lan\n\n')" "$not_supported" "lower-case get"
  # A body holding the letters GET does not make a change request a read: as
  # a GET, "login\n<LOGIN>..." would be an unknown service.
  expect_not_contains "$(request $'POST /route/login\n<LOGIN><USER_NAME>GET</USER_NAME></LOGIN>\n\n')" \
    "$no_service" "POST with GET in the body"
  expect_eq "$(request $'PUT /route/x\nGET\n\n')" "$not_supported" "GET only in the body"
}

test_malformed_route_is_format_error() {
  dev_up ap
  # POST without a line feed after the service: no body can follow.
  expect_eq "$(request $'POST /route/login\n\n')" "$format_error" "POST without body"
  expect_eq "$(request $'POST /route/system/basic\n\n')" "$format_error" "POST sub-path without body"
  # "route" with no '/' after it names no service.
  expect_eq "$(request $'GET route\n\n')" "$format_error" "GET route without slash"
  expect_eq "$(request $'POST route\n<A/>\n\n')" "$format_error" "POST route without slash"
}

test_requests_without_route_get_no_reply() {
  dev_up ap
  expect_eq "$(request $'GET /index.html\n\n')" "" "GET without route or opcode"
  expect_eq "$(request $'POST /cgi-bin/x\nbody\n\n')" "" "POST without route"
  # The agent still serves afterwards.
  expect_eq "$(request $'PUT /x\n\n')" "$not_supported" "next request"
}

test_incomplete_requests_are_never_answered() {
  dev_up ap
  local status=0 reply
  # Carriage returns before the line feeds: the terminator is never seen,
  # the agent keeps waiting.
  reply=$(request_open $'GET /route/network/lan\r\n\r\n' 1) || status=$?
  expect_eq "$status" 3 "CRLF request still open"
  expect_eq "$reply" "" "CRLF reply"
  # The peer closing before the terminator: closed without a reply.
  expect_eq "$(request $'GET /route/network/lan\n')" "" "half request"
  # A waiting client does not block the next one for good.
  expect_eq "$(request $'PUT /x\n\n')" "$not_supported" "next request"
}

test_request_size_limit_is_16384_bytes() {
  dev_up ap
  local head='GET /route/nosuch/' pad status reply
  # Exactly 16384 bytes with the terminator: served.
  pad=$(head -c $((16384 - ${#head} - 2)) /dev/zero | tr '\0' x)
  expect_eq "$(request_open "$head$pad"$'\n\n' 5)" "$no_service" "16384-byte request"
  # One byte more: the buffer fills without a terminator, the connection is
  # closed without reply.
  status=0
  reply=$(request_open "${head}x$pad"$'\n\n' 5) || status=$?
  expect_eq "$status" 0 "oversized request closed"
  expect_eq "$reply" "" "oversized request reply"
  expect_eq "$(request $'PUT /x\n\n')" "$not_supported" "next request"
}

test_many_clients_one_after_another() {
  dev_up ap
  local i pids=() out=$E2E_WORK/replies
  mkdir -p "$out"
  for i in $(seq 1 40); do
    request $'GET /route/nosuch'"$i"$'\n\n' >"$out/$i" &
    pids+=($!)
  done
  for i in "${pids[@]}"; do
    wait "$i"
  done
  for i in $(seq 1 40); do
    expect_eq "$(cat "$out/$i")" "$no_service" "reply $i"
  done
}
