// Our UCI-compatible configuration store: the reading library the agent uses
// in place of libuci, and the command-line tool as a callable function (the
// `uci` program is a thin main around it; tests call it directly).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace uci {

// Where the store lives. savedir is the directory of staged changes that is
// always read (the device's /tmp/.uci); overridedir, when it holds a file of
// the package, is used instead of confdir's file (empty: none).
struct Dirs {
  std::string confdir = "/etc/config";
  std::string savedir = "/tmp/.uci";
  std::string overridedir = "/var/run/uci";
};

// Resolves an extended path ("network.lan.ipaddr", "wireless.@wifi-iface[-1]",
// "network.lan") against the package as it is now: its file with every
// staged change applied. Fills value with a section's type, an option's
// string, or a list's items joined by single blanks. Returns false (value
// empty) when the package cannot be loaded or the path does not resolve
// completely. Parsed packages are cached; a cached package is used only while
// its config and delta files are unchanged (a stat each: device, inode, size,
// mtime and ctime to the nanosecond), so other processes' changes show at once.
bool get(const Dirs& dirs, std::string_view path, std::string& value);

// The real name of the section a path resolves to ("network.@qos[-1]" gives
// the generated name of an anonymous section), read the same way as get.
// False (name empty) when the path names no section or does not resolve.
bool section_name(const Dirs& dirs, std::string_view path, std::string& name);

// How many sections of a type the package has as it is now, read the same
// way as get, in one pass (counting with get, "@TYPE[0]", "@TYPE[1]", ...
// until one does not resolve, takes a lookup per section). False (count 0)
// when the package cannot be loaded.
bool count_sections(const Dirs& dirs, std::string_view package, std::string_view type,
                    size_t& count);

// The command-line tool. argv is the full argument vector (argv[0] is the
// program name as invoked and appears in messages). What the tool prints
// goes to out and err; the return value is its exit status.
int cli(const std::vector<std::string>& argv, std::string& out, std::string& err);

// The same with other built-in directories: defaults.confdir and
// defaults.overridedir are what -c and -C default to, and defaults.savedir
// plays /tmp/.uci (always read, and where changes go unless -t/-P say
// otherwise). Lets a test apply device command lines to a temporary store.
int cli(const std::vector<std::string>& argv, std::string& out, std::string& err,
        const Dirs& defaults);

// The program's form: a batch hands what it printed so far to flush after
// each of its commands (which writes and empties it), so output and errors
// come out in the order they happen.
using Flush = std::function<void(std::string& out, std::string& err)>;
int cli(const std::vector<std::string>& argv, std::string& out, std::string& err,
        const Flush& flush);

}  // namespace uci
