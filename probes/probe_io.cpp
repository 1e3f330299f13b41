#include "probes/probe_io.h"

#include <ifaddrs.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "probes/probes.h"

bool listen_for_answers(discovery* const* discoveries, size_t count) {
  if (count > discoveries_at_most) count = discoveries_at_most;
  pollfd watched[discoveries_at_most];
  discovery* owners[discoveries_at_most];
  // Every pass either takes a message or sleeps until the next window ends,
  // so the loop ends at the latest window whatever arrives.
  for (;;) {
    const int64_t now = monotonic_ms();
    int64_t next_end = 0;
    size_t polled = 0;
    for (size_t i = 0; i < count; i++) {
      discovery* d = discoveries[i];
      if (!d->listening()) continue;
      if (d->window_end_ms_ <= now) {
        d->listening_ = false;
        continue;
      }
      if (polled == 0 || d->window_end_ms_ < next_end) next_end = d->window_end_ms_;
      watched[polled] = pollfd{d->socket_.get(), POLLIN, 0};
      owners[polled++] = d;
    }
    if (polled == 0) return true;
    // poll rather than select: no limit on the descriptor's number.
    int ready = poll(watched, polled, static_cast<int>(next_end - now));
    if (ready < 0 && errno != EINTR) {
      for (size_t i = 0; i < polled; i++) owners[i]->listening_ = false;
      return false;
    }
    for (size_t i = 0; ready > 0 && i < polled; i++) {
      if (watched[i].revents && owners[i]->take()) owners[i]->listening_ = false;
    }
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
