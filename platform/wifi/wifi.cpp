#include "platform/wifi/wifi.h"

#include <climits>
#include <cmath>

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
  double mw = std::pow(10.0, dbm / 10.0);
  return mw >= INT_MAX ? INT_MAX : static_cast<int>(std::lround(mw));
}

}  // namespace wifi
