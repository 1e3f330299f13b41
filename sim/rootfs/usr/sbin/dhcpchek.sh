#!/bin/sh
# Firmware DHCP watchdog stand-in: a long-running process for the agent to
# find with ps and stop.
/sim/bin/log-cmd "$0" "$@"
while :; do
  sleep 30
done
