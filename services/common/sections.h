// Sections the services keep at the end of a package's list of one type and
// remove from there ("firewall.@rule[-1]", "network.@qos[-1]").
#pragma once

#include <string>

#include "agent/config.h"
#include "services/common/uci_command.h"

// Store path of section index of a type: "firewall.@rule[3]".
inline std::string section_path(const std::string& package, const std::string& type, int index) {
  return package + ".@" + type + "[" + std::to_string(index) + "]";
}

// Number of sections of a type, counted up to the first index that does not
// resolve.
inline int section_count(const std::string& package, const std::string& type) {
  int count = 0;
  while (!cfg_get(section_path(package, type, count)).empty()) ++count;
  return count;
}

// Runs delete_command (which removes "package.@type[-1]") while sections of
// the type are left and removable() accepts the last one. Each delete must
// take the last section away: one that fails (store locked, no space left)
// ends the loop instead of repeating it for ever. Returns how many went.
template <typename Accept>
int delete_last_sections(const std::string& package, const std::string& type,
                         const char* delete_command, Accept removable) {
  int left = section_count(package, type);
  int removed = 0;
  while (left > 0 && removable()) {
    uci_run(delete_command);
    --left;
    if (!cfg_get(section_path(package, type, left)).empty()) break;
    ++removed;
  }
  return removed;
}
