// The store changes of one request, collected while the request is checked
// and run only after every check has passed, so that a refused request
// changes nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "agent/config.h"
#include "services/common/uci_command.h"
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
  // A constant store command line of the handler's own.
  void run(std::string command) { changes_.push_back({kind::run, std::move(command), {}}); }

  // What a store read of path gives once the changes planned so far are
  // staged, over the store as it is now: the last planned value of the path,
  // nothing after a removal of it or of its section (a set to the empty text
  // removes), items added to its list. Paths are compared as written: a plan
  // reads through its own changes where it reads a path as it changes it.
  std::string get(const std::string& path) const { return read_through(changes_.size(), path); }

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
          uci_run(c.path);
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

  // The value of path after the first end changes.
  std::string read_through(size_t end, const std::string& path) const {
    for (size_t i = end; i-- > 0;) {
      const change& c = changes_[i];
      bool removal = c.what == kind::remove || (c.what == kind::set && c.value.empty());
      if (removal && covers(c.path, path)) return "";
      if (c.what == kind::set && c.path == path) return c.value;
      if (c.what == kind::add_list && c.path == path) {
        std::string list = read_through(i, path);
        return list.empty() ? c.value : list + " " + c.value;
      }
    }
    return cfg_get(path);
  }
  // True when removing removed takes path away: the same path or a section
  // (or option) that holds it.
  static bool covers(const std::string& removed, const std::string& path) {
    return path.compare(0, removed.size(), removed) == 0 &&
           (path.size() == removed.size() || path[removed.size()] == '.');
  }
  std::vector<change> changes_;
};
