// The simulated device's kernel side of the radios: answers the wireless
// extensions' ioctls and the driver's station-list ioctl from the radio
// state, laying the answers out as the kernel does for the calling process
// (native byte order and word size, iw_point events without their pointer).
#pragma once

#include <string>
#include <vector>

#include "sim/radio/radio_state.h"

namespace simradio {

// request is a wireless-extensions ioctl or the station-list ioctl.
bool is_wireless_request(unsigned long request);

// Answers one such request with argument (a struct iwreq) as the kernel
// would: 0, or -1 with errno set (ENODEV for a missing interface,
// EOPNOTSUPP for one that is not wireless or a request the radio does not
// serve, E2BIG with the size needed for a buffer too small).
int answer_wireless_ioctl(RadioState& state, unsigned long request, void* argument);

// The bytes of the answers, for tests that build the same streams.
std::string scan_event_stream(RadioState& state, const std::string& ifname);
std::string station_records(const std::vector<wifi::Station>& stations);

}  // namespace simradio
