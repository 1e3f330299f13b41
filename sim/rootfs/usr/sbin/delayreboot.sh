#!/bin/sh
# Delayed restart stand-in: waits the given seconds, then restarts this
# device.
/sim/bin/log-cmd "$0" "$@"
sleep "${1:-0}"
exec /bin/busybox reboot
