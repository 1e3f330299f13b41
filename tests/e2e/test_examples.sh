# The examples of README.md and sim/README.md, run as printed.
#
# Every fenced block runs line by line from the top of the repository, unless
# the line before it reads "<!-- not run: REASON -->". A line must end with
# status 0 unless its comment ends with "exit status N". Lines ending with a
# backslash continue on the next. The examples' state folder /tmp/ap1 becomes
# this test's own, so tests running at the same time cannot meet; a block
# that talks to the device without starting one gets one started first.
# shellcheck shell=bash

# example_blocks FILE DIR: writes each block to run into DIR/block.N.
example_blocks() {
  awk -v dir="$2" '
    /^```/ {
      if (inside) { inside = 0; close(out); next }
      inside = 1; skip = previous ~ /^<!-- not run:/
      if (!skip) out = sprintf("%s/block.%03d", dir, ++n)
      next
    }
    inside && !skip {
      if (sub(/\\$/, "")) { pending = pending $0; next }
      print pending $0 > out; pending = ""
    }
    { previous = $0 }' "$1"
}

# The status a line expects: N from a closing "exit status N", else 0.
expected_status() {
  if [[ $1 =~ exit\ status\ ([0-9]+)[^#]*$ ]]; then echo "${BASH_REMATCH[1]}"; else echo 0; fi
}

run_examples() {
  local file=$1 blocks=$E2E_WORK/blocks-${1//\//-} device=$E2E_WORK/ap1 block line status
  [ "$E2E_BIN" -ef "$E2E_REPO/build/bin" ] || fail "the examples use build/ of the repository"
  mkdir -p "$blocks"
  example_blocks "$E2E_REPO/$file" "$blocks"
  echo "$device" >>"$E2E_WORK/devices"
  cd "$E2E_REPO"
  for block in "$blocks"/block.*; do
    if grep -q /tmp/ap1 "$block" && ! grep -q 'devsim up' "$block"; then
      sim/devsim up --state "$device" >/dev/null || fail "no device for $block"
    fi
    mapfile -t lines <"$block"
    for line in "${lines[@]}"; do
      line=${line//\/tmp\/ap1/$device}
      echo "\$ $line"
      set +e
      eval "$line" </dev/null
      status=$?
      set -e
      expect_eq "$status" "$(expected_status "$line")" "exit status of [$line] in $file"
    done
    sim/devsim down --state "$device" >/dev/null
  done
}

test_readme_examples_work_as_printed() {
  run_examples README.md
}

test_sim_readme_examples_work_as_printed() {
  run_examples sim/README.md
}
