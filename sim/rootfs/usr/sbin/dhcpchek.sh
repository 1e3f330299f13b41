#!/bin/sh
# Firmware DHCP watchdog stand-in: a long-running process for the agent to
# find with ps and stop.
/sim/bin/log-cmd "$0" "$@"
# Ends when sleep cannot run (the device's files are gone), instead of
# spinning.
while sleep 30; do
  :
done
