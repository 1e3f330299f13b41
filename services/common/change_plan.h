// The store changes of one request, collected while the request is checked
// and run only after every check has passed, so that a refused request
// changes nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "agent/config.h"
#include "platform/effects.h"
#include "services/common/value_shapes.h"

// A request text that may go into the store and from there, line by line,
// into generated daemon files: no control character (line feeds included)
// and no DEL, and short enough for the store.
inline bool single_line_value(const std::string& text) {
  return free_of_controls(text) && cfg_value_stageable(text);
}

class change_plan {
 public:
  void set(std::string path, std::string value) {
    changes_.push_back({kind::set, std::move(path), std::move(value)});
  }
  void add_list(std::string path, std::string value) {
    changes_.push_back({kind::add_list, std::move(path), std::move(value)});
  }
  void remove(std::string path) { changes_.push_back({kind::remove, std::move(path), {}}); }
  // A constant command line of the handler's own.
  void run(std::string command) { changes_.push_back({kind::run, std::move(command), {}}); }

  // True when every value to be stored is a single_line_value.
  bool values_storable() const {
    for (const change& c : changes_) {
      if ((c.what == kind::set || c.what == kind::add_list) && !single_line_value(c.value))
        return false;
    }
    return true;
  }

  // True when the store can take every value to be stored as it is
  // (cfg_value_stageable: tab and line breaks allowed).
  bool values_stageable() const {
    for (const change& c : changes_) {
      if ((c.what == kind::set || c.what == kind::add_list) && !cfg_value_stageable(c.value))
        return false;
    }
    return true;
  }

  // Stages every change in the order it was planned.
  void apply() const {
    for (const change& c : changes_) {
      switch (c.what) {
        case kind::set:
          cfg_set(c.path, c.value);
          break;
        case kind::add_list:
          cfg_add_list(c.path, c.value);
          break;
        case kind::remove:
          cfg_delete(c.path);
          break;
        case kind::run:
          fx().run(c.path);
          break;
      }
    }
  }

 private:
  enum class kind { set, add_list, remove, run };
  struct change {
    kind what;
    std::string path;  // the command line for kind::run
    std::string value;
  };
  std::vector<change> changes_;
};
