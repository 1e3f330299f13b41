# Helpers of the end-to-end tests, sourced by tests/e2e/run into every test.
# A test is a function test_NAME in a file test_TOPIC.sh; it runs in its own
# bash with "set -euo pipefail" and fails on the first failing command or
# assertion. Environment from the runner: E2E_REPO, E2E_BIN (build/bin),
# E2E_WORK (this test's scratch folder), E2E_SHMTOOL, E2E_RAWCLIENT and
# E2E_WIREPEER (static helpers, see shmtool.c, rawclient.c and wirepeer.c).
# shellcheck shell=bash

devsim=$E2E_REPO/sim/devsim

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

expect_eq() {
  local actual=$1 expected=$2 what=${3:-value}
  [ "$actual" = "$expected" ] || fail "$what: expected [$expected], got [$actual]"
}

expect_contains() {
  local text=$1 part=$2 what=${3:-text}
  case $text in
    *"$part"*) ;;
    *) fail "$what: [$part] not in [$text]" ;;
  esac
}

expect_not_contains() {
  local text=$1 part=$2 what=${3:-text}
  case $text in
    *"$part"*) fail "$what: [$part] unexpectedly in [$text]" ;;
  esac
}

# The result envelope for a code and message.
envelope() {
  printf '<?xml version="1.0" encoding="utf-8"?><RESULT><CODE>%s</CODE><MESSAGE>%s</MESSAGE></RESULT>' "$1" "$2"
}

# Polls a command until it succeeds, for at most SECONDS (default 5).
wait_for() {
  local seconds=$1 tries=0
  shift
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -lt $((seconds * 20)) ] || return 1
    sleep 0.05
  done
}

# dev_up NAME [devsim up options]: starts device NAME; sets DEV (its state
# folder), SOCK (host path of its request socket) and CMDLOG (its command log).
dev_up() {
  local name=$1 out
  shift
  DEV=$E2E_WORK/$name
  echo "$DEV" >>"$E2E_WORK/devices"
  out=$("$devsim" up --state "$DEV" --bin "$E2E_BIN" "$@") || fail "device $name did not start"
  SOCK=$(sed -n 's/^socket //p' <<<"$out")
  CMDLOG=$(sed -n 's/^log //p' <<<"$out")
  [ -S "$SOCK" ] || fail "no socket at [$SOCK]"
}

dev_down() {
  "$devsim" down --state "${1:-$DEV}"
}

dev_running() {
  "$devsim" status --state "${1:-$DEV}" >/dev/null 2>&1
}

# dev_exec CMD [ARG...]: runs a command inside the current device.
dev_exec() {
  "$devsim" exec --state "$DEV" -- "$@"
}

# peer_exec CABLE CMD [ARG...]: runs a host command at the far end of one of
# the current device's cables (wire0, wire1).
peer_exec() {
  local cable=$1
  shift
  "$devsim" peer --state "$DEV" --cable "$cable" -- "$@"
}

# Prints "SUPERVISOR WORKER" pids (device view): the supervisor is the pallad
# whose parent is not a pallad (procd's), the worker its child.
agent_pids() {
  dev_exec ps -o pid,ppid,args | awk '
    $3 == "/usr/sbin/pallad" { parent[$1] = $2 }
    END {
      for (p in parent) if (!(parent[p] in parent)) sup = p
      for (p in parent) if (parent[p] == sup) worker = p
      print sup, worker
    }'
}

# dev_install HOSTFILE DEVPATH: copies a file into the running device, from
# inside it (never write into DIR/root from the host: see sim/README.md).
dev_install() {
  dev_exec sh -c "cat >'$2' && chmod 755 '$2'" <"$1"
}

# request TEXT [TIMEOUT]: sends TEXT as it is (use $'...' for line feeds)
# and prints the reply, or nothing when none came. Fails only on a usage
# error: the tests compare what came back.
request() {
  printf '%s' "$1" | "$E2E_BIN/pallactl" --socket "$SOCK" --timeout "${2:-30}" raw 2>/dev/null ||
    [ $? -ne 3 ]
}

# request_open TEXT SECONDS: sends TEXT but keeps the sending side open, and
# prints what comes back; status 3 when the agent kept the connection open.
request_open() {
  printf '%s' "$1" | "$E2E_RAWCLIENT" "$SOCK" "$2"
}

# The hex encoding requests carry passwords in.
hex_of() {
  printf '%s' "$1" | od -An -tx1 | tr -d ' \n'
}

# login NAME PASSWORD: prints the reply.
login() {
  request "$(printf 'POST /route/login\n<LOGIN><USER_NAME>%s</USER_NAME><PASSWD>%s</PASSWD></LOGIN>' \
    "$1" "$(hex_of "$2")")"$'\n\n'
}

# A UCI config folder with the stock files of the repository, for changing a
# few options before a device starts with --config.
stock_config() {
  local dir=$E2E_WORK/config-$1
  mkdir -p "$dir"
  cp "$E2E_REPO"/sim/rootfs/etc/config/* "$dir/"
  echo "$dir"
}

# set_option FILE SECTION NAME VALUE: sets an option in a stock config file,
# replacing its line or adding one at the end of the section. SECTION is the
# rest of the section's header line: "system", "interface 'lan'",
# "snmpd 'snmpd'". An empty VALUE leaves an ignored line (no option).
set_option() {
  local tmp=$1.new
  awk -v h="config $2" -v n="$3" -v v="$4" '
    BEGIN { q = sprintf("%c", 39); line = "\toption " n " " q v q }
    $0 == h && !done { insec = 1; print; next }
    insec && index($0, "\toption " n " ") == 1 { print line; done = 1; insec = 0; next }
    insec && $0 == "" { print line; done = 1; insec = 0 }
    { print }' "$1" >"$tmp"
  mv "$tmp" "$1"
}

# Bytes FROM..FROM+COUNT-1 of the device's token block, as upper-case hex
# (needs dev_install "$E2E_SHMTOOL" /tmp/shmtool).
block_bytes() {
  local block
  block=$(dev_exec /tmp/shmtool read 3134)
  echo "${block:$(($1 * 2)):$(($2 * 2))}"
}

# The login time field (offset 64), read in the device's byte order.
block_time() {
  local b
  b=$(block_bytes 64 4)
  if [ "$(printf '\001\000' | od -An -tu2 | tr -d ' ')" = 1 ]; then
    echo $((16#${b:6:2}${b:4:2}${b:2:2}${b:0:2}))
  else
    echo $((16#$b))
  fi
}

# image_at PATH: a shell command that writes a firmware image the device's
# sysupgrade accepts (it begins with the image header's magic) to PATH.
image_at() {
  echo "printf '\\047\\005\\031\\126image' >$1"
}

# iptables_calls: the argument vectors the device's iptables stand-in
# recorded (/sim/iptables.log), one call a line: the arguments after the
# program, each quoted as bash's printf %q quotes, joined by blanks.
iptables_calls() {
  local fields i=0 n line
  [ -s "$DEV/root/sim/iptables.log" ] || return 0
  mapfile -d '' fields <"$DEV/root/sim/iptables.log"
  while [ $i -lt ${#fields[@]} ]; do
    n=${fields[i]}
    line=$(printf '%q ' "${fields[@]:i+2:n-1}")
    echo "${line% }"
    i=$((i + n + 1))
  done
}

# syslog_sink [ADDRESS [PORT]]: a remote syslog server at the far end of the
# current device's cable wire0: ADDRESS (default 203.0.113.1, in the stock
# WAN subnet of router mode) on wire0, and socat there appending every
# datagram to port PORT (default 514) to SINKLOG ($DEV/remote-syslog.log).
# Returns once it listens; the device's down ends it.
syslog_sink() {
  local address=${1:-203.0.113.1} port=${2:-514}
  SINKLOG=$DEV/remote-syslog.log
  : >"$SINKLOG"
  "$devsim" peer --state "$DEV" --cable wire0 -- ip addr add "$address/24" dev wire0
  "$devsim" peer --state "$DEV" --cable wire0 -- \
    socat -u "UDP-RECV:$port,bind=$address" "OPEN:$SINKLOG,append" </dev/null >/dev/null 2>&1 &
  wait_for 5 eval '"$devsim" peer --state "$DEV" --cable wire0 -- ss -Hlun | grep -q "$address:$port "' ||
    fail "no syslog sink on $address:$port"
}
