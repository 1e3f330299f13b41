#include "platform/wifi/wifi.h"

#include <climits>

#include "platform/wifi/sim_driver.h"

namespace wifi {
namespace {

SimDriver& sim_driver() {
  static SimDriver driver;
  return driver;
}

Backend* installed = nullptr;

Backend& current() {
  return installed ? *installed : sim_driver();
}

}  // namespace

Backend* backend(const std::string& ifname) {
  Backend& b = current();
  return b.handles(ifname) ? &b : nullptr;
}

void finish() {
  current().finish();
}

void set_backend(Backend* backend) {
  installed = backend;
}

int dbm_to_mw(int dbm) {
  // Each 10 dB multiplies by 10, each further 1 dB by 10^0.1; the result is
  // truncated, as the radio drivers' own tools print it.
  double mw = 1.0;
  for (int i = 0; i < dbm / 10; ++i) mw *= 10.0;
  for (int i = 0; i < dbm % 10; ++i) mw *= 1.25892541179;
  return mw >= INT_MAX ? INT_MAX : static_cast<int>(mw);
}

}  // namespace wifi
