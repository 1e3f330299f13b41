// Linked into pallad-unbatched only: every store change of a request starts
// its own `uci`, as before store batches, so that tests/e2e can compare the
// stores the two leave.
#include "platform/effects.h"

namespace {

const bool unbatched = (set_store_batching(false), true);

}  // namespace
