// Uplink probing: which WAN protocols answer on an interface. Each probe
// opens its own socket, sends one discovery message, waits a bounded time
// and closes everything it opened on every path; a failed step prints its
// message and makes the probe answer 0. The frame builders and the answer
// judges are pure, so their byte layouts can be checked on every processor.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 1 when a DHCP server answered the discovery on ifname within 2 s, else 0.
int dhcp_probe(const char* ifname);
// 1 when a PPPoE access concentrator answered the PADI on ifname with an
// acceptable PADO within 3 s, else 0.
int pppoe_probe(const char* ifname);

// The probes the uplink service runs; tests replace them.
struct uplink_probe_set {
  int (*dhcp)(const char* ifname);
  int (*pppoe)(const char* ifname);
};
extern uplink_probe_set uplink_probes;

// True when ifname fits an interface request (IFNAMSIZ - 1 characters);
// otherwise prints why the probe does not run. A longer name is never cut: a
// cut name would probe another interface.
bool probe_ifname_fits(const char* ifname);

// ---- DHCP discovery

inline constexpr size_t dhcp_message_size = 548;
// The DISCOVER for a transaction id and the interface's hardware address.
void dhcp_discover_build(uint32_t xid, const uint8_t mac[6], uint8_t out[dhcp_message_size]);
// True when a received datagram answers our DISCOVER: its transaction id and
// the first 6 bytes of its client hardware address are ours, and its sender
// is not one of the device's own addresses (a device is never its own
// uplink; its own DHCP server hears the broadcast too). The answer's op code
// and message type are not examined.
bool dhcp_answer_counts(const uint8_t* datagram, size_t length, uint32_t xid, const uint8_t mac[6],
                        in_addr sender, const std::vector<in_addr>& own_addresses);

// ---- PPPoE discovery

inline constexpr size_t pppoe_padi_size = 24;
inline constexpr size_t pppoe_frame_limit = 1520;
// The PADI: broadcast, from mac, asking for any service.
void pppoe_padi_build(const uint8_t mac[6], uint8_t out[pppoe_padi_size]);

// What the judge made of one received discovery frame: whether it is a PADO
// that ends the wait, the access concentrator's address, and the lines to
// print on standard output and standard error.
struct pado_verdict {
  bool accepted = false;
  uint8_t ac_mac[6] = {};
  std::string out;
  std::string err;
};
pado_verdict pado_judge(const uint8_t* frame, size_t length, const uint8_t own_mac[6]);
