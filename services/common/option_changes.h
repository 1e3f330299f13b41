// Store changes a POST makes from its request elements: checked together
// before the first one is staged, so a refused request stages nothing.
#pragma once

#include <string>
#include <vector>

#include "agent/config.h"

// One option and the text the request gives it.
struct option_change {
  std::string path;
  std::string value;
};
using option_changes = std::vector<option_change>;

// True when the store can take every value (cfg_value_stageable).
inline bool changes_stageable(const option_changes& changes) {
  for (const option_change& change : changes)
    if (!cfg_value_stageable(change.value)) return false;
  return true;
}

// Stages the changes in order, one `uci set` each.
inline void stage_changes(const option_changes& changes) {
  for (const option_change& change : changes) cfg_set(change.path, change.value);
}
