// The switch between the five operating modes of the device.
#pragma once

// Rewrites the network, DHCP, wireless and VLAN settings for the target mode
// (1 router, 2 bridged with a wireless station as WAN, 3 static bridge
// without DHCP server, 4 and 5 bridges with a DHCP-client LAN, 5 with WDS)
// and commits them; restarts nothing. A target outside 1..5 or equal to the
// current mode changes nothing. Returns 0.
int mode_switch(int target_mode);
