/* wirepeer: a scripted far end for the discovery probes. On one interface
 * it records the DHCP requests (UDP to port 67) and PPPoE discovery frames
 * that arrive, and answers every DHCPDISCOVER and every PADI with the
 * scripted replies, in the order given.
 *   wirepeer IFACE SECONDS [ACTION...]
 * DHCP actions (a datagram from port 67 to 255.255.255.255:68, sent from
 * IFACE's address):
 *   offer     right transaction id and hardware address, an OFFER
 *   nak       the same as a NAK
 *   xid       another transaction id
 *   mac       another station's hardware address
 * PPPoE actions (a frame to the PADI's source, from IFACE's MAC):
 *   pado      AC-Name "wirepeer", empty Service-Name and a 24-byte cookie
 *   noac      no AC-Name tag
 *   bcast     sent from ff:ff:ff:ff:ff:ff
 *   other     addressed to another station
 *   runt      16 bytes, shorter than the headers
 *   longtag   Service-Name, then an AC-Name whose length runs past the payload
 *   straddle  Service-Name, then 2 bytes: a tag header cut by the payload end
 * flood: every 0.6 s, a PADI of another station and a PADO for another host.
 * Lines on standard output: "ready" once listening, then "dhcp HEX" (the
 * UDP payload) and "pppoe HEX" (the whole frame) for each frame that
 * arrived, and "answered ACTION" for each reply sent. Ends after SECONDS. */
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static const uint8_t stranger[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x99};
static const uint8_t bystander[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x98};
static const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

static int raw_fd = -1, udp_fd = -1, ifindex;
static uint8_t own_mac[6];
static char** actions;
static int action_count;

static long long now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static void print_hex(const char* kind, const uint8_t* data, size_t length) {
  printf("%s ", kind);
  for (size_t i = 0; i < length; i++) printf("%02x", data[i]);
  printf("\n");
  fflush(stdout);
}

static void send_raw(const uint8_t* frame, size_t length) {
  struct sockaddr_ll to;
  memset(&to, 0, sizeof to);
  to.sll_family = AF_PACKET;
  to.sll_ifindex = ifindex;
  to.sll_halen = 6;
  memcpy(to.sll_addr, frame, 6);
  if (sendto(raw_fd, frame, length, 0, (struct sockaddr*)&to, sizeof to) < 0) perror("sendto");
}

static size_t put_tag(uint8_t* at, uint16_t type, uint16_t length, const void* value) {
  at[0] = type >> 8;
  at[1] = type & 0xff;
  at[2] = length >> 8;
  at[3] = length & 0xff;
  if (value) memcpy(at + 4, value, length);
  return 4 + (size_t)length;
}

/* A discovery frame with the given code and tags; returns its length. */
static size_t discovery_frame(uint8_t* frame, const uint8_t* to, const uint8_t* from, uint8_t code,
                              const uint8_t* tags, size_t tags_length) {
  memcpy(frame, to, 6);
  memcpy(frame + 6, from, 6);
  frame[12] = 0x88;
  frame[13] = 0x63;
  frame[14] = 0x11;
  frame[15] = code;
  frame[16] = frame[17] = 0;
  frame[18] = tags_length >> 8;
  frame[19] = tags_length & 0xff;
  memcpy(frame + 20, tags, tags_length);
  return 20 + tags_length;
}

static void answer_padi(const uint8_t* client, const char* action) {
  uint8_t tags[256], frame[300], cookie[24];
  size_t n = 0, length;
  const uint8_t* to = client;
  const uint8_t* from = own_mac;
  memset(cookie, 0xc5, sizeof cookie);
  if (!strcmp(action, "longtag")) {
    n += put_tag(tags + n, 0x0101, 0, NULL);
    n += put_tag(tags + n, 0x0102, 4, "wire");
    tags[n - 5] = 8; /* claims 8 bytes, 4 present */
  } else if (!strcmp(action, "straddle")) {
    n += put_tag(tags + n, 0x0101, 0, NULL);
    tags[n++] = 0x01;
    tags[n++] = 0x02;
  } else {
    if (strcmp(action, "noac") != 0) n += put_tag(tags + n, 0x0102, 8, "wirepeer");
    n += put_tag(tags + n, 0x0101, 0, NULL);
    n += put_tag(tags + n, 0x0104, sizeof cookie, cookie);
  }
  if (!strcmp(action, "bcast")) from = broadcast;
  if (!strcmp(action, "other")) to = bystander;
  length = discovery_frame(frame, to, from, 0x07, tags, n);
  if (!strcmp(action, "runt")) length = 16;
  send_raw(frame, length);
  printf("answered %s\n", action);
}

static void answer_discover(const uint8_t* request, size_t length, const char* action) {
  uint8_t reply[300];
  struct sockaddr_in to;
  if (length < 240) return;
  memset(reply, 0, sizeof reply);
  reply[0] = 2; /* BOOTREPLY */
  reply[1] = 1;
  reply[2] = 6;
  memcpy(reply + 4, request + 4, 4);
  memcpy(reply + 28, request + 28, 16);
  if (!strcmp(action, "xid")) reply[7] ^= 0x01;
  if (!strcmp(action, "mac")) memcpy(reply + 28, bystander, 6);
  reply[236] = 0x63;
  reply[237] = 0x82;
  reply[238] = 0x53;
  reply[239] = 0x63;
  reply[240] = 53;
  reply[241] = 1;
  reply[242] = strcmp(action, "nak") ? 2 : 6;
  reply[243] = 255;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(68);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  if (sendto(udp_fd, reply, sizeof reply, 0, (struct sockaddr*)&to, sizeof to) < 0) perror("send");
  printf("answered %s\n", action);
}

static int is_dhcp_action(const char* a) {
  return !strcmp(a, "offer") || !strcmp(a, "nak") || !strcmp(a, "xid") || !strcmp(a, "mac");
}

static void flood(void) {
  static const uint8_t any_service[4] = {0x01, 0x01, 0x00, 0x00};
  uint8_t frame[64];
  send_raw(frame, discovery_frame(frame, broadcast, stranger, 0x09, any_service, 4));
  send_raw(frame, discovery_frame(frame, bystander, own_mac, 0x07, any_service, 4));
}

static void take_frame(const uint8_t* frame, size_t length, int outgoing) {
  uint16_t type;
  if (length < 14) return;
  type = (uint16_t)(frame[12] << 8 | frame[13]);
  if (type == 0x8863 && length >= 20) {
    if (outgoing || !memcmp(frame + 6, stranger, 6)) return;
    print_hex("pppoe", frame, length);
    if (frame[15] != 0x09) return;
    for (int i = 0; i < action_count; i++)
      if (!is_dhcp_action(actions[i]) && strcmp(actions[i], "flood"))
        answer_padi(frame + 6, actions[i]);
  } else if (type == 0x0800 && length >= 14 + 20 + 8) {
    const uint8_t* ip = frame + 14;
    size_t header = (size_t)(ip[0] & 0x0f) * 4;
    const uint8_t* udp;
    if (ip[9] != 17 || length < 14 + header + 8) return;
    udp = ip + header;
    if ((udp[2] << 8 | udp[3]) != 67) return;
    if (!outgoing) print_hex("dhcp", udp + 8, length - 14 - header - 8);
    if (udp[8] != 1) return;
    for (int i = 0; i < action_count; i++)
      if (is_dhcp_action(actions[i]))
        answer_discover(udp + 8, length - 14 - header - 8, actions[i]);
  }
}

static int open_sockets(const char* ifname) {
  struct ifreq request;
  struct sockaddr_ll link;
  struct sockaddr_in local;
  int on = 1;
  raw_fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  udp_fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (raw_fd < 0 || udp_fd < 0) return perror("socket"), -1;
  memset(&request, 0, sizeof request);
  snprintf(request.ifr_name, sizeof request.ifr_name, "%s", ifname);
  if (ioctl(raw_fd, SIOCGIFHWADDR, &request) < 0) return perror("SIOCGIFHWADDR"), -1;
  memcpy(own_mac, request.ifr_hwaddr.sa_data, 6);
  if (ioctl(raw_fd, SIOCGIFINDEX, &request) < 0) return perror("SIOCGIFINDEX"), -1;
  ifindex = request.ifr_ifindex;
  memset(&link, 0, sizeof link);
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_ALL);
  link.sll_ifindex = ifindex;
  if (bind(raw_fd, (struct sockaddr*)&link, sizeof link) < 0) return perror("bind"), -1;
  setsockopt(udp_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(udp_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (setsockopt(udp_fd, SOL_SOCKET, SO_BINDTODEVICE, ifname, strlen(ifname)) < 0)
    return perror("SO_BINDTODEVICE"), -1;
  memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = htons(67);
  /* Another server may hold port 67: then answer from any port. */
  bind(udp_fd, (struct sockaddr*)&local, sizeof local);
  return 0;
}

int main(int argc, char** argv) {
  long long end, next_flood;
  int flooding = 0;
  if (argc < 3) {
    fprintf(stderr, "usage: wirepeer IFACE SECONDS [ACTION...]\n");
    return 2;
  }
  actions = argv + 3;
  action_count = argc - 3;
  for (int i = 0; i < action_count; i++) flooding |= !strcmp(actions[i], "flood");
  if (open_sockets(argv[1]) != 0) return 1;
  end = now_ms() + (long long)(atof(argv[2]) * 1000);
  next_flood = now_ms();
  printf("ready\n");
  fflush(stdout);
  for (long long now = now_ms(); now < end; now = now_ms()) {
    uint8_t frame[2048];
    struct sockaddr_ll from;
    socklen_t from_len = sizeof from;
    struct pollfd watched = {raw_fd, POLLIN, 0};
    long long wait = end - now;
    ssize_t n;
    if (flooding) {
      if (now >= next_flood) {
        flood();
        next_flood = now + 600;
      }
      if (next_flood - now < wait) wait = next_flood - now;
    }
    if (poll(&watched, 1, (int)wait) <= 0) continue;
    n = recvfrom(raw_fd, frame, sizeof frame, 0, (struct sockaddr*)&from, &from_len);
    if (n > 0) take_frame(frame, (size_t)n, from.sll_pkttype == PACKET_OUTGOING);
    fflush(stdout);
  }
  return 0;
}
