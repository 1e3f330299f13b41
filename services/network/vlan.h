// User VLANs: what the mode switch needs of the "vlan" service.
#pragma once

// Stages the removal of every user VLAN (its switch section and its bridge
// interface) and, on switch boards, gives the ports back to the built-in LAN
// and WAN maps. Commits nothing.
void clear_extra_vlans();
