// The small socket layer the two probes share: a deadline on the monotonic
// clock, interface request records filled with a bound, and the device's own
// IPv4 addresses.
#pragma once

#include <net/if.h>
#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "platform/clock.h"

// Waits until fd is readable or the deadline (monotonic_ms) has passed;
// after an interruption the wait goes on with the time left. Returns 1 when
// readable, 0 at the deadline, -1 on another failure (errno kept).
int wait_readable(int fd, int64_t deadline_ms);

// An interface request record holding ifname; false (record untouched) when
// the name does not fit.
bool ifreq_for(const char* ifname, ifreq& request);

// Every IPv4 address of the device's interfaces, loopback included.
std::vector<in_addr> own_ipv4_addresses();
