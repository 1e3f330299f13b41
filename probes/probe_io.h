// The small socket layer the probes share: one poll loop that listens for
// the answers of several discoveries at once, interface request records
// filled with a bound, and the device's own IPv4 addresses.
#pragma once

#include <net/if.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/owned_fd.h"

// One discovery sent on the wire and listening for its answers: its socket
// and the end of its answer window on the monotonic clock. A discovery whose
// socket could not be opened does not listen at all.
class discovery {
 public:
  virtual ~discovery() = default;
  bool listening() const { return socket_.ok() && listening_; }

 protected:
  OwnedFd socket_;
  int64_t window_end_ms_ = 0;

 private:
  // Reads one message from the readable socket; true when it ends this
  // discovery's wait (an answer counted, or a failed read).
  virtual bool take() = 0;

  bool listening_ = true;
  friend bool listen_for_answers(discovery* const* discoveries, size_t count);
};

inline constexpr size_t discoveries_at_most = 4;

// Listens on every discovery (the first discoveries_at_most) in one poll
// loop until each has ended its wait or reached the end of its window,
// whichever comes first; the loop is bounded by the latest window whatever
// arrives. False when poll failed (errno kept); the discoveries still
// listening then stop.
bool listen_for_answers(discovery* const* discoveries, size_t count);

// An interface request record holding ifname; false (record untouched) when
// the name does not fit.
bool ifreq_for(const char* ifname, ifreq& request);

// Every IPv4 address of the device's interfaces, loopback included.
std::vector<in_addr> own_ipv4_addresses();
