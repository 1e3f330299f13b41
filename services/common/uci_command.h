// Store changes written as the services' own "/sbin/uci ..." command lines.
#pragma once

#include <string>
#include <utility>

#include "platform/effects.h"
#include "platform/shell.h"

// Runs a store command line of the services' own ("/sbin/uci add firewall
// rule"): its words go to the store tool without a shell, in the request's
// store batch. A line that is more than plain words goes to the shell.
inline void uci_run(const std::string& command_line) {
  auto words = shell_words(command_line);
  bool store = words && !words->empty() && ((*words)[0] == "uci" || (*words)[0] == "/sbin/uci");
  if (store)
    store_command(std::move(*words), command_line);
  else
    fx().run(command_line);
}

// Runs "/sbin/uci set PATH=VALUE" with the value as one shell word; an
// empty value stays empty (it unsets the option), and plain values keep
// their plain command line.
inline void uci_set_word(const std::string& path, const char* value) {
  std::string text = value ? value : "";
  uci_run("/sbin/uci set " + path + "=" + (text.empty() ? "" : shell_quote(text)));
}
inline void uci_set_word(const std::string& path, const std::string& value) {
  uci_set_word(path, value.c_str());
}
