// The numbered crash points of the test build.
#include <unistd.h>

#include "platform/uci/store.h"

namespace uci {

int crash_countdown = 0;

void crash_point() {
  if (crash_countdown > 0 && --crash_countdown == 0) ::_exit(crash_status);
}

}  // namespace uci
