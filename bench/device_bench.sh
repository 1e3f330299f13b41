# The start shared by the benchmarks that run in a simulated device, sourced
# by them with their own arguments (BUILD_DIR [COUNT]) followed by devsim up
# options: sets repo, build, count, devsim, loadgen, state, sock and log,
# starts the device and ends it when the benchmark exits. send sends one
# request, post_cost gives the figures of one POST, bare_latency and
# get_latency the latency figures.
# shellcheck shell=bash
bench_device_up() {
  repo=$(cd "$(dirname "$0")/.." && pwd)
  build=$(cd "${1:?usage: $0 BUILD_DIR [COUNT]}" && pwd)
  count=${2:-500}
  shift $(($# < 2 ? $# : 2))
  devsim=$repo/sim/devsim
  loadgen=$build/bench/loadgen
  state=$(mktemp -d "${TMPDIR:-/tmp}/bench.XXXXXX")
  trap bench_device_down EXIT
  local out
  out=$("$devsim" up --state "$state/d" --bin "$build/bin" "$@")
  sock=$(sed -n 's/^socket //p' <<<"$out")
  log=$(sed -n 's/^log //p' <<<"$out")
}

# Ends the device the benchmark started. A failing `down` is reported and
# keeps the folder, so that the device can still be found and ended by hand.
bench_device_down() {
  if "$devsim" down --state "$state/d" >/dev/null; then
    rm -rf "$state"
  else
    echo "bench: could not end the device in $state/d" >&2
  fi
}

# The last PID handed out in the device's PID namespace.
last_pid() { "$devsim" exec --state "$state/d" -- cut -d' ' -f5 /proc/loadavg; }

send() {
  printf '%s' "$1" | "$build/bin/pallactl" --socket "$sock" raw >/dev/null
}

# post_cost NAME REQUEST: wall time, logged commands and processes of one POST.
post_cost() {
  local a b c start end probe
  a=$(last_pid)
  b=$(last_pid)
  probe=$((b - a))
  : >"$log"
  start=$(date +%s%N)
  send "$2"
  end=$(date +%s%N)
  c=$(last_pid)
  echo "-- $1: wall time $(((end - start) / 1000000)) ms, commands in the log $(wc -l <"$log"), processes started $((c - b - probe))"
}

# The heading of the latency figures and the bare round trip of this machine.
bare_latency() {
  echo "== latency, $count requests each (loadgen: one connection per request)"
  echo "-- bare round trip"
  "$loadgen" --bare --count "$count"
}

# get_latency PATH...: the latency of GET /route/PATH for each path.
get_latency() {
  local path
  for path in "$@"; do
    echo "-- GET /route/$path"
    "$loadgen" --socket "$sock" --count "$count" --request "GET /route/$path"$'\n\n'
  done
}
