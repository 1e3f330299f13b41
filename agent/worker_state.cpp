#include "agent/worker_state.h"

worker_state& worker() {
  static worker_state state;
  return state;
}
