// PPPoE discovery probe: one PADI on an interface, then at most 3 s of
// listening for the first acceptable PADO. No PADR follows, so no session
// opens.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "agent/server.h"
#include "platform/owned_fd.h"
#include "probes/probe_io.h"
#include "probes/probes.h"

namespace {

constexpr uint16_t ethertype_discovery = 0x8863;
constexpr uint8_t code_padi = 0x09;
constexpr uint8_t code_pado = 0x07;
constexpr size_t header_size = 20;  // Ethernet 14, PPPoE 6
constexpr unsigned payload_limit = 1494;
constexpr int wanted_mtu = 1500;
constexpr int64_t pado_window_ms = 3000;
constexpr size_t printed_bytes_limit = 20;

enum tag_type : uint16_t {
  tag_end_of_list = 0x0000,
  tag_service_name = 0x0101,
  tag_ac_name = 0x0102,
  tag_ac_cookie = 0x0104,
  tag_relay_session_id = 0x0110,
  tag_service_name_error = 0x0201,
  tag_ac_system_error = 0x0202,
  tag_generic_error = 0x0203,
};

uint16_t get16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

bool is_broadcast(const uint8_t* mac) {
  static const uint8_t all_ones[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  return std::memcmp(mac, all_ones, 6) == 0;
}

struct tags_seen {
  bool service_name = false;
  bool ac_name = false;
};

// " %02x" per byte for at most the first 20 bytes, "..." when there are more.
void append_bytes(std::string& out, const char* label, const uint8_t* value, uint16_t length) {
  out += label;
  for (size_t i = 0; i < length && i < printed_bytes_limit; i++) appendf(out, " %02x", value[i]);
  if (length > printed_bytes_limit) out += "...";
  out += '\n';
}

void take_tag(uint16_t type, uint16_t length, const uint8_t* value, tags_seen& seen,
              std::string& out) {
  const int shown = length;
  const char* text = reinterpret_cast<const char*>(value);
  switch (type) {
    case tag_service_name:
      seen.service_name = true;
      if (length) appendf(out, "       Service-Name: %.*s\n", shown, text);
      break;
    case tag_ac_name:
      seen.ac_name = true;
      appendf(out, "Access-Concentrator: %.*s\n", shown, text);
      break;
    case tag_ac_cookie:
      append_bytes(out, "Got a cookie:", value, length);
      break;
    case tag_relay_session_id:
      append_bytes(out, "Got a Relay-ID:", value, length);
      break;
    case tag_service_name_error:
      appendf(out, "Got a Service-Name-Error tag: %.*s\n", shown, text);
      break;
    case tag_ac_system_error:
      appendf(out, "Got a System-Error tag: %.*s\n", shown, text);
      break;
    case tag_generic_error:
      appendf(out, "Got a Generic-Error tag: %.*s\n", shown, text);
      break;
    default:
      break;
  }
}

// Walks the tags of a frame whose payload was received whole. A tag is taken
// only when its header and its whole value lie inside the payload.
tags_seen parse_tags(const uint8_t* frame, uint16_t payload, pado_verdict& verdict) {
  tags_seen seen;
  unsigned version = frame[14] >> 4;
  unsigned type = frame[14] & 0x0f;
  if (version != 1) {
    appendf(verdict.err, "Invalid PPPoE version (%u)\n", version);
    return seen;
  }
  if (type != 1) {
    appendf(verdict.err, "Invalid PPPoE type (%u)\n", type);
    return seen;
  }
  if (payload > payload_limit) {
    appendf(verdict.err, "Invalid PPPoE packet length (%u)\n", payload);
    return seen;
  }
  const uint8_t* tags = frame + header_size;
  size_t at = 0;
  while (at + 4 <= payload) {
    uint16_t tag = get16(tags + at);
    uint16_t length = get16(tags + at + 2);
    if (tag == tag_end_of_list) break;
    if (at + 4 + length > payload) {
      appendf(verdict.err, "Invalid PPPoE tag length (%u)\n", length);
      break;
    }
    take_tag(tag, length, tags + at + 4, seen, verdict.out);
    at += 4 + length;
  }
  return seen;
}

void print_step(const char* where, int line) {
  std::printf("##_____%s____%d___##\n", where, line);
}

// The discovery socket bound to the interface, with its Ethernet address;
// prints the failing step's message and gives -1 on failure. The socket is
// made with protocol 0 and gets the discovery Ethertype only at bind, so no
// frame of another interface is queued before it is bound.
int open_discovery_socket(const char* ifname, uint8_t mac[6]) {
  OwnedFd owned(socket(AF_PACKET, SOCK_RAW, 0));
  int fd = owned.get();
  if (fd < 0) {
    if (errno == EPERM)
      std::fprintf(stderr, "Cannot create raw socket -- pppoe must be run as root.\n");
    else
      std::perror("socket");
    return -1;
  }
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
    std::perror("setsockopt");
    return -1;
  }
  ifreq request{};
  if (!ifreq_for(ifname, request)) return -1;
  if (ioctl(fd, SIOCGIFHWADDR, &request) < 0) {
    std::perror("ioctl(SIOCGIFHWADDR)");
    return -1;
  }
  std::memcpy(mac, request.ifr_hwaddr.sa_data, 6);
  if (mac[0] & 0x01) {
    std::fprintf(stderr, "Interface %.16s has broadcast/multicast MAC address??\n", ifname);
    return -1;
  }
  ifreq_for(ifname, request);
  if (ioctl(fd, SIOCGIFMTU, &request) < 0) {
    std::perror("ioctl(SIOCGIFMTU)");
    return -1;
  }
  if (request.ifr_mtu < wanted_mtu) {
    std::fprintf(stderr, "Interface %.16s has MTU of %d -- should be %d.\n", ifname,
                 request.ifr_mtu, wanted_mtu);
    std::fprintf(stderr, "You may have serious connection problems.\n");
  }
  ifreq_for(ifname, request);
  if (ioctl(fd, SIOCGIFINDEX, &request) < 0) {
    std::perror("ioctl(SIOCFIGINDEX): Could not get interface index");
    return -1;
  }
  sockaddr_ll link{};
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ethertype_discovery);
  link.sll_ifindex = request.ifr_ifindex;
  if (bind(fd, reinterpret_cast<sockaddr*>(&link), sizeof link) < 0) {
    std::perror("bind");
    return -1;
  }
  return owned.release();
}

}  // namespace

void pppoe_padi_build(const uint8_t mac[6], uint8_t out[pppoe_padi_size]) {
  static const uint8_t after_source[] = {
      0x88,      0x63,  // discovery
      0x11,             // version 1, type 1
      code_padi,        //
      0x00,      0x00,  // session 0
      0x00,      0x04,  // payload length
      0x01,      0x01,  // Service-Name
      0x00,      0x00,  // empty: any service
  };
  std::memset(out, 0xff, 6);
  std::memcpy(out + 6, mac, 6);
  std::memcpy(out + 12, after_source, sizeof after_source);
}

pado_verdict pado_judge(const uint8_t* frame, size_t length, const uint8_t own_mac[6]) {
  pado_verdict verdict;
  // Shorter than the headers: its length field was never received.
  if (length < header_size) return verdict;
  uint16_t payload = get16(frame + 18);
  if (length < payload + header_size) {
    appendf(verdict.err, "Bogus PPPoE length field (%u)\n", payload);
    return verdict;
  }
  if (std::memcmp(frame, own_mac, 6) != 0 || frame[15] != code_pado) return verdict;
  const uint8_t* source = frame + 6;
  if (is_broadcast(source)) {
    verdict.err += "Ignoring PADO packet from broadcast MAC address\n";
    return verdict;
  }
  tags_seen seen = parse_tags(frame, payload, verdict);
  if (!seen.ac_name) {
    verdict.err += "Ignoring PADO packet with no AC-Name tag\n";
    return verdict;
  }
  if (!seen.service_name) {
    verdict.err += "Ignoring PADO packet with no Service-Name tag\n";
    return verdict;
  }
  verdict.accepted = true;
  std::memcpy(verdict.ac_mac, source, 6);
  verdict.out += "---------------------------recv PADO-----------------------\n";
  appendf(verdict.out, "AC-Ethernet-Address: %02x:%02x:%02x:%02x:%02x:%02x\n", source[0], source[1],
          source[2], source[3], source[4], source[5]);
  appendf(verdict.out, "##_____%s____%d___##\n", "waitForPADO", 414);
  appendf(verdict.out, "##_____%s____%d___##\n", "waitForPADO", 417);
  return verdict;
}

void pppoe_discovery::start(const char* ifname) {
  print_step("pppoe_discover", 558);
  socket_.reset(open_discovery_socket(ifname, mac_));
  if (!socket_.ok()) return;
  print_step("pppoe_discover", 560);
  uint8_t padi[pppoe_padi_size];
  pppoe_padi_build(mac_, padi);
  window_end_ms_ = monotonic_ms() + pado_window_ms;
  if (send(socket_.get(), padi, sizeof padi, 0) < 0) {
    std::fprintf(stderr, "send (sendPacket)\n");
    socket_.reset();
    return;
  }
  sent_ = true;
}

bool pppoe_discovery::take() {
  uint8_t frame[pppoe_frame_limit];
  ssize_t n = recv(socket_.get(), frame, sizeof frame, 0);
  if (n < 0) {
    std::fprintf(stderr, "recv (receivePacket)\n");
    read_failed_ = true;
    return true;
  }
  pado_verdict verdict = pado_judge(frame, static_cast<size_t>(n), mac_);
  std::fputs(verdict.out.c_str(), stdout);
  std::fputs(verdict.err.c_str(), stderr);
  answered_ = verdict.accepted;
  return answered_;
}

bool pppoe_discovery::finish() {
  if (answered_) {
    std::printf("##___conn->discoveryState = %d   \n", 1);
  } else if (sent_ && !read_failed_) {
    std::fprintf(stderr, "Timeout waiting for PADO packets\n");
  }
  return answered_;
}
