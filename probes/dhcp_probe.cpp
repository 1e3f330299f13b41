// DHCP discovery probe: one broadcast DHCPDISCOVER on an interface, then at
// most 2 s of listening on port 68 for the first answer to it.
#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/effects.h"
#include "platform/owned_fd.h"
#include "probes/probe_io.h"
#include "probes/probes.h"

namespace {

constexpr uint16_t client_port = 68;
constexpr uint16_t server_port = 67;
constexpr int64_t answer_window_ms = 2000;

constexpr size_t xid_at = 4;
constexpr size_t secs_at = 8;
constexpr size_t flags_at = 10;
constexpr size_t chaddr_at = 28;
constexpr size_t cookie_at = 236;
constexpr size_t options_at = 240;

void put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

void put32(uint8_t* at, uint32_t value) {
  put16(at, static_cast<uint16_t>(value >> 16));
  put16(at + 2, static_cast<uint16_t>(value));
}

uint32_t get32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
         static_cast<uint32_t>(at[2]) << 8 | at[3];
}

bool is_own_address(in_addr sender, const std::vector<in_addr>& own_addresses) {
  for (const in_addr& own : own_addresses)
    if (own.s_addr == sender.s_addr) return true;
  return false;
}

// The UDP socket on port 68 of the interface, with its hardware address;
// prints the failing step's message and gives -1 (mac untouched) on failure.
int open_client_socket(const char* ifname, uint8_t mac[6]) {
  int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd < 0) {
    std::printf("Error: Could not create socket!");
    return -1;
  }
  OwnedFd owned(fd);
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
    std::printf("Error: Could not set reuse address option on DHCP socket!");
    return -1;
  }
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
    std::printf("Error: Could not set broadcast option on DHCP socket!");
    return -1;
  }
  ifreq request{};
  if (!ifreq_for(ifname, request)) return -1;
  if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, &request, sizeof request) < 0) {
    std::printf("Error: Could not bind socket to interface %s.  Check your privileges...\n",
                ifname);
    return -1;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(client_port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    std::printf("Error: Could not bind to DHCP socket (port %d)!  Check your privileges...\n",
                client_port);
    return -1;
  }
  if (ioctl(fd, SIOCGIFHWADDR, &request) < 0) {
    std::printf("Error: Could not get hardware address of interface '%s'\n", ifname);
    return -1;
  }
  std::memcpy(mac, request.ifr_hwaddr.sa_data, 6);
  return owned.release();
}

}  // namespace

void dhcp_discover_build(uint32_t xid, const uint8_t mac[6], uint8_t out[dhcp_message_size]) {
  std::memset(out, 0, dhcp_message_size);
  out[0] = 1;  // BOOTREQUEST
  out[1] = 1;  // Ethernet
  out[2] = 6;
  put32(out + xid_at, xid);
  put16(out + secs_at, 255);
  put16(out + flags_at, 0x8000);  // broadcast answers
  std::memcpy(out + chaddr_at, mac, 6);
  static const uint8_t cookie[] = {0x63, 0x82, 0x53, 0x63};
  std::memcpy(out + cookie_at, cookie, sizeof cookie);
  static const uint8_t message_type_discover[] = {53, 1, 1};
  std::memcpy(out + options_at, message_type_discover, sizeof message_type_discover);
}

bool dhcp_answer_counts(const uint8_t* datagram, size_t length, uint32_t xid, const uint8_t mac[6],
                        in_addr sender, const std::vector<in_addr>& own_addresses) {
  if (length < chaddr_at + 6) return false;
  if (get32(datagram + xid_at) != xid) return false;
  if (std::memcmp(datagram + chaddr_at, mac, 6) != 0) return false;
  return !is_own_address(sender, own_addresses);
}

void dhcp_discovery::start(const char* ifname) {
  socket_.reset(open_client_socket(ifname, mac_));
  if (!socket_.ok()) return;
  own_addresses_ = own_ipv4_addresses();
  std::srand(static_cast<unsigned>(fx().now()));
  xid_ = static_cast<uint32_t>(random());
  uint8_t message[dhcp_message_size];
  dhcp_discover_build(xid_, mac_, message);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server_port);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  window_end_ms_ = monotonic_ms() + answer_window_ms;
  // A failed send is not fatal: the window is waited out all the same.
  sendto(socket_.get(), message, sizeof message, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool dhcp_discovery::take() {
  uint8_t answer[dhcp_message_size] = {};
  sockaddr_in sender{};
  socklen_t sender_len = sizeof sender;
  ssize_t n = recvfrom(socket_.get(), answer, sizeof answer, 0,
                       reinterpret_cast<sockaddr*>(&sender), &sender_len);
  if (n <= 0) return false;
  answered_ = dhcp_answer_counts(answer, static_cast<size_t>(n), xid_, mac_, sender.sin_addr,
                                 own_addresses_);
  return answered_;
}

bool dhcp_discovery::finish() {
  std::printf("DHCP restul:%d\n", answered_ ? 1 : 0);
  return answered_;
}
