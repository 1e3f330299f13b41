// sim-traffic IF BYTES: sends Ethernet frames of BYTES bytes in all out of
// interface IF, so that IF's tx_bytes (and on a veth pair the other end's
// rx_bytes) grow by exactly BYTES. The frames go to a link-local group
// address with a local experimental type: a bridge keeps them and no stack
// answers them.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t header_size = 14;
constexpr size_t max_frame = 1514;
constexpr unsigned short experimental_type = 0x88B5;

int fail(const char* what) {
  std::fprintf(stderr, "sim-traffic: %s: %s\n", what, std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  unsigned long long total = argc == 3 ? std::strtoull(argv[2], &end, 10) : 0;
  if (argc != 3 || !end || *end || (total > 0 && total < header_size)) {
    std::fprintf(stderr, "usage: sim-traffic IF BYTES (0, or 14 and more)\n");
    return 2;
  }
  unsigned index = if_nametoindex(argv[1]);
  if (!index) return fail(argv[1]);
  int sock = socket(AF_PACKET, SOCK_RAW, 0);
  if (sock < 0) return fail("socket");
  sockaddr_ll to = {};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(index);

  unsigned long long frames = (total + max_frame - 1) / max_frame;
  unsigned char frame[max_frame] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x02, 0, 0, 0, 0, 0x01};
  frame[12] = experimental_type >> 8;
  frame[13] = experimental_type & 0xFF;
  // Sizes as even as possible, so every frame holds at least its header.
  for (unsigned long long i = 0; i < frames; ++i) {
    size_t size = total / frames + (i < total % frames ? 1 : 0);
    if (sendto(sock, frame, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(size))
      return fail("send");
  }
  close(sock);
  return 0;
}
