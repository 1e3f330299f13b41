// Store changes written as the services' own "/sbin/uci set" command lines.
#pragma once

#include <string>

#include "platform/effects.h"
#include "platform/shell.h"

// Runs "/sbin/uci set PATH=VALUE" with the value as one shell word; an
// empty value stays empty (it unsets the option), and plain values keep
// their plain command line.
inline void uci_set_word(const std::string& path, const char* value) {
  std::string text = value ? value : "";
  fx().run("/sbin/uci set " + path + "=" + (text.empty() ? "" : shell_quote(text)));
}
inline void uci_set_word(const std::string& path, const std::string& value) {
  uci_set_word(path, value.c_str());
}
