# Interface status helpers (stand-in), sourced by callers. Each lookup is one
# line of the command log and answers from /sim/state/network/IFACE/FIELD
# (first line; empty when the file is missing).
# shellcheck shell=sh

__network_state() {
  # __network_state VAR IFACE FIELD
  __value=$(head -n1 "/sim/state/network/$2/$3" 2>/dev/null)
  eval "$1=\"\$__value\""
  [ -n "$__value" ]
}

network_get_ipaddr() { /sim/bin/log-cmd network_get_ipaddr "$@"; __network_state "$1" "$2" ipaddr; }
network_get_subnet() { /sim/bin/log-cmd network_get_subnet "$@"; __network_state "$1" "$2" subnet; }
network_get_gateway() { /sim/bin/log-cmd network_get_gateway "$@"; __network_state "$1" "$2" gateway; }
network_get_dnsserver() { /sim/bin/log-cmd network_get_dnsserver "$@"; __network_state "$1" "$2" dnsserver; }
network_get_device() { /sim/bin/log-cmd network_get_device "$@"; __network_state "$1" "$2" device; }
network_get_physdev() { /sim/bin/log-cmd network_get_physdev "$@"; __network_state "$1" "$2" device; }
network_is_up() { /sim/bin/log-cmd network_is_up "$@"; [ -n "$(head -n1 "/sim/state/network/$1/ipaddr" 2>/dev/null)" ]; }
