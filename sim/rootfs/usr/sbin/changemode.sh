#!/bin/sh
# Management-protocol switch stand-in: records the call and stores the new
# mode in the boot-loader environment. /sim/changemode.calls gets one line
# per call, the number of arguments and each in single quotes, so that no
# argument (0) and one empty argument (1 '') differ.
/sim/bin/log-cmd "$0" "$@"
line=$#
for arg in "$@"; do
  line="$line '$arg'"
done
echo "$line" >>/sim/changemode.calls
[ $# -gt 0 ] || exit 0
env=/sim/state/fw_env
awk 'index($0, "mode=") == 1 { skip = 1; next } skip && /^\t/ { next } { skip = 0; print }' "$env" >"$env.new"
echo "mode=$1" >>"$env.new"
mv "$env.new" "$env"
