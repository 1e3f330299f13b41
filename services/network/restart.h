// Restart sequences and helpers shared by the network services (network,
// dhcp, firewall, mgt) and the mode switch. Every command goes through fx()
// and is waited for; exit statuses are not examined.
#pragma once

// Operating mode ("system.@system[0].sys_mode", 1 to 5; 0 when unset).
int operating_mode();

// Stops and starts the firewall together with the services that hook into it
// (QoS, captive portal), in the order they depend on each other.
void firewall_cycle();
// Restarts samba on boards that carry it (hardver containing "MT").
void samba_cycle();
// Ends the DHCP-check helper script so that it cannot fight a LAN change.
void kill_dhcp_check();
// Moves the LAN gateway and DNS options between their live names (direction
// 1: the bridge modes use them) and their backup names (any other direction:
// router modes keep them aside). Stages only; the caller commits. Returns 0.
int swap_lan_gateway(int direction);
