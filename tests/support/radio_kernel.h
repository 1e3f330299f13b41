// Serves the seam's ioctls from radio-state files in a fake's tree, as the
// simulated device's kernel side serves the agent (sim/radio/wext_answers.h).
// A test that uses it links sim_radio.
#pragma once

#include <cerrno>
#include <string>

#include "sim/radio/wext_answers.h"
#include "tests/support/fake_effects.h"

class FakeTreeFiles : public simradio::StateFiles {
 public:
  bool read(const std::string& path, std::string& out) override {
    return fx().read_file(path, out);
  }
  bool exists(const std::string& path) override { return fx().exists(path); }
};

inline void serve_radio_state(FakeEffects& fake) {
  fake.on_ioctl([](unsigned long request, void* argument) {
    if (!simradio::is_wireless_request(request)) {
      errno = EOPNOTSUPP;
      return -1;
    }
    FakeTreeFiles files;
    simradio::RadioState state(files);
    return simradio::answer_wireless_ioctl(state, request, argument);
  });
}
