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

// Number of sections of a type.
inline int section_count(const std::string& package, const std::string& type) {
  return cfg_section_count(package, type);
}

// Removes the sections of a type from the end of the list: walks back from
// the last one while removable(section path) accepts it, then runs
// delete_command (which removes "package.@type[-1]") once for each. All reads
// come before the first delete, so the deletes go out together in the
// request's one store batch instead of one store run per section. Returns how
// many were removed.
template <typename Accept>
int delete_last_sections(const std::string& package, const std::string& type,
                         const char* delete_command, Accept removable) {
  int count = section_count(package, type);
  int removed = 0;
  while (removed < count && removable(section_path(package, type, count - 1 - removed))) ++removed;
  for (int i = 0; i < removed; ++i) uci_run(delete_command);
  return removed;
}
