// Uplink probing: which WAN protocols answer on an interface. Each discovery
// opens its own socket, sends one message and listens a bounded time; both
// listen in one window, and everything opened is closed on every path. A
// failed step prints its message and counts as no answer. The frame builders
// and the answer judges are pure, so their byte layouts can be checked on
// every processor.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "probes/probe_io.h"

// What answered on the uplink: a DHCP server, a PPPoE access concentrator.
struct uplink_found {
  bool dhcp = false;
  bool pppoe = false;
};

// Sends the DHCP discovery and the PPPoE discovery on ifname together and
// listens for both at once: the DHCP wait ends at the first valid answer or
// after 2 s, the PPPoE wait at the first acceptable PADO or after 3 s, and
// the probe as soon as both have ended.
uplink_found uplink_probe(const char* ifname);

// The probe the uplink service runs; tests replace it.
extern uplink_found (*uplink_prober)(const char* ifname);

// True when ifname fits an interface request (IFNAMSIZ - 1 characters);
// otherwise prints why the probe does not run. A longer name is never cut: a
// cut name would probe another interface.
bool probe_ifname_fits(const char* ifname);

// ---- DHCP discovery

inline constexpr size_t dhcp_message_size = 548;

// One DHCP discovery: a DISCOVER broadcast from port 68 of the interface,
// then listening there for the first answer to it.
class dhcp_discovery final : public discovery {
 public:
  // Opens the socket and sends the DISCOVER; after a failed step (its
  // message printed) the discovery does not listen.
  void start(const char* ifname);
  // Prints the outcome line; true when a valid answer arrived.
  bool finish();

 private:
  bool take() override;

  uint32_t xid_ = 0;
  uint8_t mac_[6] = {};
  std::vector<in_addr> own_addresses_;
  bool answered_ = false;
};

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

// One PPPoE discovery: a PADI on the interface, then listening for the first
// acceptable PADO. No PADR follows, so no session opens.
class pppoe_discovery final : public discovery {
 public:
  // Opens the discovery socket and sends the PADI; after a failed step (its
  // message printed) the discovery does not listen.
  void start(const char* ifname);
  // Prints the outcome lines; true when an acceptable PADO arrived.
  bool finish();

 private:
  bool take() override;

  uint8_t mac_[6] = {};
  bool sent_ = false;
  bool read_failed_ = false;
  bool answered_ = false;
};

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
