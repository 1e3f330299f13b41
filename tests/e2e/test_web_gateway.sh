# The web server's gateway to the agent (routegw as /cgi-bin/route), driven
# with curl from a client at the far end of the LAN cable.
# shellcheck shell=bash

xhr='X-Requested-With: XMLHttpRequest'
admin_login='<LOGIN><USER_NAME>admin</USER_NAME><PASSWD>61646d696e</PASSWD></LOGIN>'

# Starts a device and gives the far end of its LAN cable an address.
lan_device() {
  dev_up ap --trace "$@"
  LAN_CABLE=wire0
  ! grep -q '^ethernet=family' "$DEV/root/sim/board" || LAN_CABLE=wire1
  peer_exec "$LAN_CABLE" ip addr add 192.168.1.10/24 dev "$LAN_CABLE"
  JAR=$E2E_WORK/cookies
  : >"$JAR"
}

# web PATH [curl options]: one request from the LAN client with the cookie
# jar; prints the HTTP status, a line feed and the body. The answer's
# headers are left in $E2E_WORK/headers.
web() {
  local path=$1
  shift
  peer_exec "$LAN_CABLE" curl -s -m 30 -b "$JAR" -c "$JAR" -D "$E2E_WORK/headers" \
    -o "$E2E_WORK/body" -w '%{http_code}\n' "$@" "http://192.168.1.1$path"
  cat "$E2E_WORK/body"
}

web_login() {
  expect_eq "$(web /cgi-bin/route/login -H "$xhr" --data "$admin_login")" "200
$(envelope 0 OK)" "login"
}

# The number of requests the agent has read.
agent_requests() {
  grep -c '/route' "$DEV/agent.log" || true
}

test_gateway_maps_requests_of_a_session() {
  lan_device
  web_login
  expect_contains "$(cat "$E2E_WORK/headers")" 'Set-Cookie: session=admin:' "cookie"
  expect_contains "$(cat "$E2E_WORK/headers")" 'HttpOnly; SameSite=Strict' "cookie flags"
  expect_eq "$(web /cgi-bin/route/network/lan)" "200
$(request $'GET /route/network/lan\n\n')" "GET"
  local headers
  headers=$(tr -d '\r' <"$E2E_WORK/headers")
  local header
  for header in 'Content-Type: application/xml; charset=utf-8' 'Cache-Control: no-store' \
    'X-Content-Type-Options: nosniff' "Content-Security-Policy: default-src 'self'"; do
    expect_contains "$headers" "$header" "headers"
  done
  expect_contains "$(web '/cgi-bin/route/wireless/nonstainfo?active=1')" '<ID>00</ID>' "GET with a query"
  expect_eq "$(web /cgi-bin/route/dhcp -H "$xhr" --data $'<DHCP>\n<LEASETIME>6h</LEASETIME>\n</DHCP>\n')" "200
$(envelope 0 OK)" "POST"
  expect_eq "$(dev_exec uci get dhcp.lan.leasetime)" 6h "stored"
  # The agent closes a body without elements unanswered.
  expect_eq "$(web /cgi-bin/route/system/basic -H "$xhr" --data '<SYSTEM/>' | head -1)" 502 "no reply"
  expect_eq "$(web /cgi-bin/route/logout -H "$xhr" -X POST)" "200
$(envelope 0 OK)" "logout"
  expect_eq "$(web /cgi-bin/route/network/lan)" "401
$(envelope 5 'LOGIN REQUIRED')" "after logout"
}

test_gateway_refusals_reach_nothing() {
  lan_device
  web_login
  local before path status
  before=$(agent_requests)
  local -a cases=(
    "400 /cgi-bin/route/network/l%20an"
    "400 /cgi-bin/route/network/lan%0d%0aX"
    "400 /cgi-bin/route/system/a..b"
    "400 /cgi-bin/route/system/a:b"
    "400 /cgi-bin/route/network/lan?a=%41"
    "400 /cgi-bin/route/network/lan?a=/b"
    "405 /cgi-bin/route/upload/backup"
  )
  for c in "${cases[@]}"; do
    read -r status path <<<"$c"
    expect_eq "$(web "$path" | head -1)" "$status" "GET $path"
  done
  expect_eq "$(web /cgi-bin/route/network/lan -X PUT | head -1)" 405 "PUT"
  expect_eq "$(web /cgi-bin/route/network/lan -X DELETE | head -1)" 405 "DELETE"
  expect_eq "$(web /cgi-bin/route/dhcp --data '<DHCP/>' | head -1)" 403 "POST without the header"
  expect_eq "$(web /cgi-bin/route/network/lan -H 'Origin: http://evil.example' | head -1)" 403 "foreign origin"
  expect_eq "$(web /cgi-bin/route/dhcp -H "$xhr" --data $'<DHCP>\n\n</DHCP>' | head -1)" 400 "blank line in body"
  head -c 16384 /dev/zero | tr '\0' x >"$E2E_WORK/big"
  expect_eq "$(web /cgi-bin/route/dhcp -H "$xhr" --data-binary "@$E2E_WORK/big" | head -1)" 400 "body too large"
  expect_eq "$(JAR=/dev/null web /cgi-bin/route/network/lan -H 'Cookie: session=admin:0123456789abcdef' |
    head -1)" 401 "forged token"
  expect_eq "$(agent_requests)" "$before" "requests the agent read"
  # Every request names the route, so the factory queries stay out of reach.
  local reply
  reply=$(web '/cgi-bin/route/?opcode=1')
  expect_not_contains "$reply" 'Content-type: text/html' "factory reply"
  expect_not_contains "$reply" 'pd_' "factory reply"
}

test_gateway_session_rules() {
  lan_device
  web_login
  cp "$JAR" "$E2E_WORK/first"
  web_login
  local second=$JAR
  JAR=$E2E_WORK/first
  expect_eq "$(web /cgi-bin/route/network/lan | head -1)" 401 "session replaced by a new login"
  JAR=$second
  expect_eq "$(web /cgi-bin/route/network/lan | head -1)" 200 "the new session"
  # A login straight at the agent replaces the token too.
  login admin admin >/dev/null
  expect_eq "$(web /cgi-bin/route/network/lan | head -1)" 401 "token replaced in the block"
  # Idle: the record says the session was last used 31 minutes ago.
  web_login
  # shellcheck disable=SC2016 # the device's shell expands them
  dev_exec sh -c 'f=/var/run/routegw/session-admin; read -r t l u <$f
    printf "%s %10d %20d\n" $t $l $((u - 1860)) >$f'
  expect_eq "$(web /cgi-bin/route/network/lan | head -1)" 401 "idle session"
  # The idle limit of the store: 1 minute.
  dev_exec sh -c 'uci set system.@system[0].web_idle=1; uci commit system'
  web_login
  # shellcheck disable=SC2016 # awk's field
  expect_eq "$(dev_exec awk '{ print $2 }' /var/run/routegw/session-admin)" 60 "idle limit"
}

test_gateway_limits_failed_logins() {
  lan_device
  local wrong='<LOGIN><USER_NAME>admin</USER_NAME><PASSWD>77726f6e67</PASSWD></LOGIN>' i before
  for i in 1 2 3 4 5; do
    expect_eq "$(web /cgi-bin/route/login -H "$xhr" --data "$wrong")" "200
$(envelope 5 'Invalid passwd')" "wrong login $i"
  done
  before=$(agent_requests)
  expect_eq "$(web /cgi-bin/route/login -H "$xhr" --data "$admin_login")" "429
$(envelope 5 'TOO MANY LOGINS')" "right login while blocked"
  expect_eq "$(agent_requests)" "$before" "requests the agent read"
}

test_gateway_backup_download_and_uploads() {
  lan_device
  # The web server gives the backup to no one, however the path is written.
  dev_exec sh -c 'echo secret >/tmp/old.tar.gz; ln -s /tmp/old.tar.gz /www/bakfile.bin'
  for path in /bakfile.bin //bakfile.bin /./bakfile.bin /%62akfile.bin '/bakfile.bin?x=1'; do
    expect_eq "$(web "$path" | head -1)" 401 "$path"
  done
  expect_eq "$(web /cgi-bin/route/download/backup | head -1)" 401 "download without a session"
  web_login
  web /cgi-bin/route/system/backup >/dev/null
  peer_exec "$LAN_CABLE" curl -s -b "$JAR" -o "$E2E_WORK/backup.tar.gz" -D "$E2E_WORK/headers" \
    http://192.168.1.1/cgi-bin/route/download/backup
  expect_contains "$(cat "$E2E_WORK/headers")" 'Content-Disposition: attachment' "attachment"
  cmp "$E2E_WORK/backup.tar.gz" "$DEV/root/$(dev_exec readlink /www/bakfile.bin)" || fail "downloaded archive"

  expect_eq "$(web /cgi-bin/route/upload/backup -H "$xhr" --data-binary "@$E2E_WORK/backup.tar.gz")" "200
<?xml version=\"1.0\" encoding=\"utf-8\"?><UPLOAD><URL>web-backup.tar.gz</URL><SIZE>$(stat -c %s "$E2E_WORK/backup.tar.gz")</SIZE></UPLOAD>" \
    "backup upload"
  cmp "$E2E_WORK/backup.tar.gz" "$DEV/root/tmp/web-backup.tar.gz" || fail "uploaded archive"
  head -c $((1024 * 1024 + 1)) /dev/zero >"$E2E_WORK/big"
  expect_eq "$(web /cgi-bin/route/upload/backup -H "$xhr" --data-binary "@$E2E_WORK/big" | head -1)" 413 "too large"
  expect_eq "$(web /cgi-bin/route/upload/firmware --data-binary "@$E2E_WORK/big" | head -1)" 403 "without the header"

  # A /tmp without room: a small file system of its own, the agent's socket
  # and the gateway's records reached through links.
  dev_exec sh -c 'mkdir /sim/tmp && mount --bind /tmp /sim/tmp && mount -t tmpfs -o size=1m tmpfs /tmp &&
    ln -s /sim/tmp/route /tmp/route && ln -s /sim/tmp/run /tmp/run'
  expect_eq "$(web /cgi-bin/route/upload/firmware -H "$xhr" --data 'image' | head -1)" 507 "no room"
  dev_exec sh -c 'umount -l /tmp'

  eval "$(image_at "$E2E_WORK/firmware.bin")"
  expect_contains "$(web /cgi-bin/route/upload/firmware -H "$xhr" --data-binary "@$E2E_WORK/firmware.bin")" \
    '<URL>web-firmware.bin</URL>' "firmware upload"
  # The device ends with its web server: no answer, or 502.
  web /cgi-bin/route/system/active -H "$xhr" \
    --data '<SYSTEM><ACT>Upgrade</ACT><URL>web-firmware.bin</URL><SAVE_CFG>1</SAVE_CFG></SYSTEM>' >/dev/null || true
  wait_for 10 test -s "$DEV/run/ended" || fail "device still running"
  expect_eq "$(cat "$DEV/run/ended")" restart "how the device ended"
}

# The boards differ in how the LAN port is made: a switch VLAN on eth0, or
# eth1 of its own.
test_lan_client_reaches_the_device_on_both_kinds_of_board() {
  local board
  for board in switch dual9344; do
    lan_device --board "$board"
    expect_eq "$(web /cgi-bin/route/network/lan)" "401
$(envelope 5 'LOGIN REQUIRED')" "board $board"
    dev_down
  done
}

test_devsim_web_forwards_a_host_port() {
  local port=18080
  while [ -n "$(ss -Hltn "sport = :$port")" ]; do port=$((port + 1)); done
  dev_up ap --web "$port"
  expect_eq "$(curl -s -m 10 "http://127.0.0.1:$port/cgi-bin/route/network/lan")" "$(envelope 5 'LOGIN REQUIRED')" \
    "through the host port"
  dev_down
  expect_eq "$(ss -Hltn "sport = :$port")" "" "port after down"
}
