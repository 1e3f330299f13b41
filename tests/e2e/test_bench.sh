# The benchmarks that run in a simulated device.
# shellcheck shell=bash

test_benchmark_ends_its_device() {
  local out left
  out=$(TMPDIR=$E2E_WORK "$E2E_REPO/bench/settings_bench.sh" "$(dirname "$E2E_BIN")" 1 2>&1) ||
    fail "benchmark failed: $out"
  expect_contains "$out" "-- POST /log (REMOTE)" "the benchmark's last figure"
  # The device's init, its cable holders and so every process of the device
  # carry the device's folder on their command line.
  left=$(pgrep -af -- "$E2E_WORK/bench\." || true)
  [ -z "$left" ] || fail "processes of the benchmark's device left: $left"
  ! compgen -G "$E2E_WORK/bench.*" >/dev/null || fail "the benchmark left its folder"
}
