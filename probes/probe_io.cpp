#include "probes/probe_io.h"

#include <ifaddrs.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "probes/probes.h"

int wait_readable(int fd, int64_t deadline_ms) {
  // poll rather than select: no limit on the descriptor's number.
  for (;;) {
    int64_t left = deadline_ms - monotonic_ms();
    if (left <= 0) return 0;
    pollfd watched{fd, POLLIN, 0};
    int ready = poll(&watched, 1, static_cast<int>(left));
    if (ready > 0) return 1;
    if (ready < 0 && errno != EINTR) return -1;
  }
}

bool probe_ifname_fits(const char* ifname) {
  if (std::strlen(ifname) < IFNAMSIZ) return true;
  std::printf("Error: interface name '%s' is too long\n", ifname);
  return false;
}

bool ifreq_for(const char* ifname, ifreq& request) {
  if (std::strlen(ifname) >= IFNAMSIZ) return false;
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.ifr_name, ifname, std::strlen(ifname));
  return true;
}

std::vector<in_addr> own_ipv4_addresses() {
  std::vector<in_addr> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
      addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
  }
  freeifaddrs(list);
  return addresses;
}
