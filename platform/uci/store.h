// Internals of the configuration store shared by the reading library and the
// command-line tool: the in-memory package, the config and delta file
// grammars, paths, and the locked file operations.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/owned_fd.h"

namespace uci {

// Error numbers, as the command-line tool returns them for `add`.
enum Error {
  ok = 0,
  err_nomem = 1,
  err_invalid = 2,
  err_notfound = 3,
  err_io = 4,
  err_parse = 5,
  err_duplicate = 6,
  err_unknown = 7,
};

const char* error_text(int error);

// ---- names and values ----

bool valid_name(std::string_view s);     // section and option names
bool valid_package(std::string_view s);  // package (file) names
bool valid_type(std::string_view s);     // section types
bool valid_value(std::string_view s);    // no control characters but tab, CR, LF
std::string anonymous_name(unsigned number, std::string_view type);
// 'text' with every ' written as '\''.
std::string quoted(std::string_view text);

// ---- the package in memory ----

struct Option {
  std::string name;
  bool is_list = false;
  std::string value;               // a string option
  std::vector<std::string> items;  // a list option
};

struct Section {
  std::string name;
  std::string type;
  bool anonymous = false;
  std::vector<Option> options;

  Option* find(std::string_view option_name);
  const Option* find(std::string_view option_name) const;
};

enum class Op : char {
  set = '=',
  add = '+',
  remove = '-',
  rename = '@',
  reorder = '^',
  list_add = '|',
  list_del = '~',
};

// One staged change, always with the real section name.
struct Delta {
  Op op = Op::set;
  std::string section;
  std::string option;  // empty: the change is about the section
  bool has_value = false;
  std::string value;
};

struct Package {
  std::string name;
  std::vector<Section> sections;
  unsigned created = 0;       // sections created so far; numbers anonymous names
  std::vector<Delta> staged;  // well-formed records of every delta file, in order

  Section* find(std::string_view section_name);
  const Section* find(std::string_view section_name) const;
  Section& create(std::string name, std::string type, bool anonymous);
};

// Sets a string option in place (a list becomes a string), or appends it.
void set_option(Section& s, const std::string& name, const std::string& value);
// Appends a list item; a string option becomes a list starting with it.
void add_list_item(Section& s, const std::string& name, const std::string& value);

// Applies one change with replay semantics; false when it does not apply.
bool apply(Package& pkg, const Delta& delta);

// ---- file grammars ----

struct ParseError {
  std::string reason;
  int line = 0;
  int byte = 0;
};

// Reads config text into pkg. Strict: stops at the first error (returns
// false). Non-strict: appends each error to skipped and goes on.
bool parse_config(std::string_view text, Package& pkg, ParseError& error, bool strict,
                  std::vector<ParseError>* skipped);

// Reads import text: each `package NAME` statement starts (or continues)
// the package of that name; sections before the first one are an error.
bool parse_packages(std::string_view text, std::vector<Package>& packages, ParseError& error,
                    bool strict, std::vector<ParseError>* skipped);

// Reads the next command of a batch from text at pos: its words, read as
// config files read them, up to the line end or a ';'. Empty words for a
// blank or comment line. False at the end of the text, or on an error
// (error set).
bool next_command(std::string_view text, size_t& pos, std::vector<std::string>& words,
                  ParseError& error);

struct Record {
  bool valid = false;
  Delta delta;
  std::string_view raw;  // the record's text, for keeping malformed ones
};

std::vector<Record> parse_delta(std::string_view text, std::string_view package);

// Commit format; name_anonymous also names anonymous sections (export -n).
std::string format_config(const Package& pkg, bool name_anonymous);
// One delta file record, newline included.
std::string format_record(std::string_view package, const Delta& delta);

// ---- paths ----

struct Path {
  std::string package;
  std::string section;
  std::string option;
  std::string value;
  bool has_section = false;
  bool has_option = false;
  bool has_value = false;
  bool extended = false;  // section is not a plain name (@type[N] or invalid)
};

// Splits PACKAGE[.SECTION[.OPTION]][=VALUE]; err_parse when malformed.
int parse_path(std::string_view text, Path& path);

inline constexpr size_t npos = static_cast<size_t>(-1);

struct Found {
  size_t section = npos;
  size_t option = npos;
  bool complete = false;
};

// Finds the path's section and option in pkg; an extended section reference
// is replaced by the real name in path.section. err_invalid for a malformed
// extended reference, else ok (with complete telling whether all was found).
int resolve(const Package& pkg, Path& path, Found& found);

// ---- files ----

struct Store {
  std::string confdir;
  std::string overridedir;              // empty: no override directory
  std::vector<std::string> delta_dirs;  // read in order; the last one saves changes
};

using Fd = OwnedFd;

// What a file looked like when it was read; compared to see changes.
struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtime_sec = 0, mtime_nsec = 0, ctime_sec = 0, ctime_nsec = 0;
  bool operator==(const Stamp& o) const;
};

Stamp stamp_of(const std::string& path);
std::string config_file(const Store& store, std::string_view package);
std::string delta_file(const std::string& dir, std::string_view package);

enum class Access {
  read,    // shared locks while loading, released at the end
  stage,   // config shared + savedir delta exclusive (created), both kept
  commit,  // config exclusive + savedir delta exclusive (if any), both kept
};

struct Loaded {
  Package pkg;
  ParseError parse_error;
  std::vector<ParseError> skipped;  // non-strict parse
  unsigned applied = 0;             // delta records that applied
  std::string config_path;
  std::string savedir;        // the delta directory changes are saved in
  std::vector<Stamp> stamps;  // config file, then one per delta dir
  Fd config_lock;
  Fd delta_lock;
  mode_t config_mode = 0644;
};

// Loads the package under the locks access asks for. With earlier (a view a
// previous load left, locks released), its package is taken over instead of
// reading the files again when they still look the same.
int load(const Store& store, std::string_view package, Access access, bool strict, Loaded& loaded,
         Loaded* earlier = nullptr);
// Appends records to the savedir delta held by a stage load, and applies
// them to the loaded view as a replay would.
int append(Loaded& loaded, const std::vector<Delta>& deltas);
// Writes the package of a commit load (if anything applied) and empties the
// savedir delta.
int commit(Loaded& loaded);

// Replaces the package's config file by pkg in the commit format, or
// creates it with mode 0600. Staged changes stay staged.
int replace_config(const Store& store, const Package& pkg);

struct RevertTarget {
  std::string section;  // empty: the whole package
  std::string option;   // empty: the whole section
};
int revert(const Store& store, std::string_view package, const RevertTarget& target);

// Test builds end the process at each numbered step of a commit or revert
// in turn (the step set in crash_countdown), so a test can see what a
// process killed there leaves behind. Elsewhere the steps cost nothing.
#ifdef UCI_CRASH_POINTS
extern int crash_countdown;  // steps left to pass; 0: never end
inline constexpr int crash_status = 86;
void crash_point();
#else
inline void crash_point() {}
#endif

// Sorted names of the packages in the config directory.
std::vector<std::string> list_packages(const std::string& confdir);

}  // namespace uci
