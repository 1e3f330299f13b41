// The longest request the agent takes on its socket, its terminating blank
// line included; a longer one is closed without a reply. Clients that build
// requests (the web gateway) size what they send by it.
#pragma once

#include <cstddef>

inline constexpr size_t request_limit = 16384;
