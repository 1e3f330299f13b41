// The `uci` command-line tool: option parsing, the commands and their exact
// output, messages and exit codes.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/errno_text.h"
#include "platform/uci/store.h"
#include "platform/uci/uci.h"

namespace uci {
namespace {

constexpr int exit_usage = 255;

const char usage_text[] =
    " [<options>] <command> [<arguments>]\n\n"
    "Commands:\n"
    "\tbatch\n"
    "\texport     [<config>]\n"
    "\timport     [<config>]\n"
    "\tchanges    [<config>]\n"
    "\tcommit     [<config>]\n"
    "\tadd        <config> <section-type>\n"
    "\tadd_list   <config>.<section>.<option>=<string>\n"
    "\tdel_list   <config>.<section>.<option>=<string>\n"
    "\tshow       [<config>[.<section>[.<option>]]]\n"
    "\tget        <config>.<section>[.<option>]\n"
    "\tset        <config>.<section>[.<option>]=<value>\n"
    "\tdelete     <config>[.<section>[[.<option>][=<id>]]]\n"
    "\trename     <config>.<section>[.<option>]=<name>\n"
    "\trevert     <config>[.<section>[.<option>]]\n"
    "\treorder    <config>.<section>=<position>\n"
    "\n"
    "Options:\n"
    "\t-c <path>  set the search path for config files (default: /etc/config)\n"
    "\t-C <path>  set the search path for config override files (default: /var/run/uci)\n"
    "\t-d <str>   set the delimiter for list values in uci show\n"
    "\t-f <file>  use <file> as input instead of stdin\n"
    "\t-m         when importing, merge data into an existing package\n"
    "\t-n         name unnamed sections on export (default)\n"
    "\t-N         don't name unnamed sections\n"
    "\t-p <path>  add a search path for config change files\n"
    "\t-P <path>  add a search path for config change files and use as default\n"
    "\t-t <path>  set save path for config change files\n"
    "\t-q         quiet mode (don't print error messages)\n"
    "\t-s         force strict mode (stop on parser errors, default)\n"
    "\t-S         disable strict mode\n"
    "\t-X         do not use extended syntax on 'show'\n";

enum class Command {
  get,
  set,
  add_list,
  del_list,
  remove,
  rename,
  revert,
  reorder,
  show,
  changes,
  commit,
  exportp,
  import,
  batch,
  add,
  help,
  unknown
};

Command command_named(const std::string& word) {
  static const std::pair<const char*, Command> names[] = {
      {"get", Command::get},           {"set", Command::set},
      {"add_list", Command::add_list}, {"del_list", Command::del_list},
      {"delete", Command::remove},     {"del", Command::remove},
      {"rename", Command::rename},     {"ren", Command::rename},
      {"revert", Command::revert},     {"reorder", Command::reorder},
      {"show", Command::show},         {"changes", Command::changes},
      {"commit", Command::commit},     {"export", Command::exportp},
      {"add", Command::add},           {"help", Command::help},
      {"import", Command::import},     {"batch", Command::batch},
  };
  for (const auto& [name, command] : names)
    if (strcasecmp(word.c_str(), name) == 0) return command;
  return Command::unknown;
}

bool has_blank(const std::string& s) {
  return s.find_first_of(" \t\r\n") != std::string::npos;
}

bool leading_int(const std::string& text, long& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  out = std::strtol(begin, &end, 10);
  return end != begin;
}

class Tool {
 public:
  Tool(std::string& out, std::string& err, const Dirs& defaults, const Flush* flush)
      : out_(out), err_(err), flush_(flush) {
    store_.confdir = defaults.confdir;
    store_.overridedir = defaults.overridedir;
    store_.delta_dirs = {defaults.savedir};
  }

  int run(const std::vector<std::string>& argv) {
    argv0_ = argv.empty() ? "uci" : argv[0];
    std::vector<std::string> args;
    if (!parse_options(argv, args)) return usage(0);
    if (args.empty()) return usage(0);
    int status = dispatch(command_named(args[0]), args);
    return status == exit_usage ? usage(exit_usage) : status;
  }

 private:
  // ---- options ----

  bool parse_options(const std::vector<std::string>& argv, std::vector<std::string>& args) {
    for (size_t i = 1; i < argv.size(); ++i) {
      const std::string& a = argv[i];
      if (a == "--") {
        args.insert(args.end(), argv.begin() + static_cast<long>(i) + 1, argv.end());
        return true;
      }
      if (a.size() < 2 || a[0] != '-') {
        args.push_back(a);
        continue;
      }
      for (size_t j = 1; j < a.size(); ++j) {
        char letter = a[j];
        if (std::string_view("cCdfpPt").find(letter) == std::string_view::npos) {
          if (!flag(letter)) return false;
          continue;
        }
        std::string value;
        if (j + 1 < a.size()) {
          value = a.substr(j + 1);
        } else if (i + 1 < argv.size()) {
          value = argv[++i];
        } else {
          err_ += argv0_ + ": option requires an argument -- '" + letter + "'\n";
          return false;
        }
        option_with_value(letter, value);
        break;
      }
    }
    return true;
  }

  bool flag(char letter) {
    switch (letter) {
      case 'q':
        quiet_ = true;
        return true;
      case 's':
        strict_ = true;
        return true;
      case 'S':
        strict_ = false;
        return true;
      case 'X':
        real_names_ = true;
        return true;
      case 'n':
        name_on_export_ = true;
        return true;
      case 'N':
        name_on_export_ = false;
        return true;
      case 'm':
        merge_ = true;
        return true;
      case 'L':
        return true;
      default:
        err_ += argv0_ + ": invalid option -- '" + letter + "'\n";
        return false;
    }
  }

  void option_with_value(char letter, const std::string& value) {
    auto& dirs = store_.delta_dirs;
    switch (letter) {
      case 'c':
        store_.confdir = value;
        break;
      case 'C':
        store_.overridedir = value;
        break;
      case 'd':
        delimiter_ = value;
        break;
      case 'p':
        if (std::find(dirs.begin(), dirs.end(), value) == dirs.end())
          dirs.insert(dirs.end() - 1, value);
        break;
      case 'P':
        no_commit_ = true;
        set_savedir(value);
        break;
      case 't':
        set_savedir(value);
        break;
      case 'f':
        input_file_ = value;
        break;
      default:
        break;
    }
  }

  void set_savedir(const std::string& dir) {
    auto& dirs = store_.delta_dirs;
    dirs.erase(std::remove(dirs.begin(), dirs.end(), dir), dirs.end());
    dirs.push_back(dir);
  }

  // ---- messages ----

  int usage(int status) {
    err_ += "Usage: " + argv0_ + usage_text;
    return status;
  }

  void message(int error) {
    if (!quiet_) err_ += argv0_ + ": " + error_text(error) + "\n";
  }

  // A parse error; the errors a non-strict read skipped carry no prefix.
  void report_parse(const ParseError& p, bool prefixed) {
    if (quiet_) return;
    if (prefixed) err_ += argv0_ + ": ";
    err_ += std::string(error_text(err_parse)) + " (" + p.reason + ") at line " +
            std::to_string(p.line) + ", byte " + std::to_string(p.byte) + "\n";
  }

  int load_package(const std::string& name, Access access, Loaded& loaded) {
    int error = load(store_, name, access, strict_, loaded, kept_view(name));
    if (error == err_parse) report_parse(loaded.parse_error, true);
    if (error) {
      if (error != err_parse) message(error);
      return error;
    }
    for (const ParseError& p : loaded.skipped) report_parse(p, false);
    return ok;
  }

  // ---- views a batch keeps between its commands ----

  Loaded* kept_view(const std::string& package) {
    for (Loaded& view : views_)
      if (view.pkg.name == package) return &view;
    return nullptr;
  }

  // Keeps a command's view of its package (locks released) for the next
  // command of a batch; load takes it over while the files look the same.
  void keep_view(Loaded& loaded) {
    if (!in_batch_ || loaded.pkg.name.empty()) return;
    loaded.config_lock.reset();
    loaded.delta_lock.reset();
    if (Loaded* view = kept_view(loaded.pkg.name)) {
      *view = std::move(loaded);
      return;
    }
    if (views_.size() >= 8) views_.erase(views_.begin());
    views_.push_back(std::move(loaded));
  }

  struct KeptView {
    Tool& tool;
    Loaded& loaded;
    ~KeptView() { tool.keep_view(loaded); }
  };

  // ---- dispatch ----

  int dispatch(Command command, const std::vector<std::string>& args) {
    switch (command) {
      case Command::help:
        return usage(0);
      case Command::import:
        return args.size() <= 2 && !in_batch_ ? import(args) : exit_usage;
      case Command::batch:
        return args.size() == 1 && !in_batch_ ? batch() : exit_usage;
      case Command::add:
        return args.size() == 3 ? add(args[1], args[2]) : exit_usage;
      case Command::show:
      case Command::changes:
      case Command::commit:
      case Command::exportp:
        return package_command(command, args);
      case Command::unknown:
        return exit_usage;
      default:
        return args.size() == 2 ? section_command(command, args[1]) : exit_usage;
    }
  }

  // ---- commands on one path ----

  int section_command(Command command, const std::string& argument) {
    Path path;
    if (int error = parse_path(argument, path)) {
      message(error);
      return 1;
    }
    bool reads = command == Command::get || command == Command::revert;
    Loaded loaded;
    KeptView keep{*this, loaded};
    if (load_package(path.package, reads ? Access::read : Access::stage, loaded)) return 1;
    Found found;
    if (int error = resolve(loaded.pkg, path, found)) {
      message(error);
      return 1;
    }
    if (path.has_value && reads) return 1;
    std::vector<Delta> changes;
    int error = ok;
    switch (command) {
      case Command::get:
        return get(loaded.pkg, found);
      case Command::revert:
        return revert(path);
      case Command::set:
        error = set(loaded.pkg, path, found, changes);
        break;
      case Command::add_list:
        error = add_list(path, found, changes);
        break;
      case Command::del_list:
        error = del_list(loaded.pkg, path, found, changes);
        break;
      case Command::remove:
        if (path.has_value && !leading_int(path.value, index_)) return 1;
        error = remove(loaded.pkg, path, found, changes);
        break;
      case Command::rename:
        error = rename(loaded.pkg, path, found, changes);
        break;
      case Command::reorder:
        error = reorder(loaded.pkg, path, found, changes);
        break;
      default:
        break;
    }
    if (error == ok && !changes.empty()) error = uci::append(loaded, changes);
    if (error) {
      message(error);
      return 1;
    }
    return 0;
  }

  int get(const Package& pkg, const Found& found) {
    if (!found.complete) {
      message(err_notfound);
      return 1;
    }
    if (found.section == npos) return 0;
    const Section& s = pkg.sections[found.section];
    if (found.option == npos)
      out_ += s.type + "\n";
    else
      out_ += value_text(s.options[found.option], false) + "\n";
    return 0;
  }

  int revert(const Path& path) {
    RevertTarget target;
    if (path.has_section) target.section = path.section;
    if (path.has_option) target.option = path.option;
    uci::revert(store_, path.package, target);
    return 0;
  }

  static Delta change(Op op, const Path& path, bool with_value, const std::string& value) {
    Delta d;
    d.op = op;
    d.section = path.section;
    d.option = path.has_option ? path.option : std::string();
    d.has_value = with_value;
    if (with_value) d.value = value;
    return d;
  }

  int set(const Package& pkg, const Path& path, const Found& found, std::vector<Delta>& changes) {
    if (!path.has_value || !path.has_section) return err_invalid;
    if (path.has_option) {
      if (found.section == npos) return err_invalid;
      if (path.value.empty()) {
        if (found.option != npos) changes.push_back(change(Op::remove, path, false, {}));
        return ok;
      }
      const Section& s = pkg.sections[found.section];
      bool same = found.option != npos && !s.options[found.option].is_list &&
                  s.options[found.option].value == path.value;
      if (!same) changes.push_back(change(Op::set, path, true, path.value));
      return ok;
    }
    if (path.value.empty()) {
      if (found.section != npos) changes.push_back(change(Op::remove, path, false, {}));
      return ok;
    }
    if (!valid_type(path.value)) return err_invalid;
    if (found.section == npos && path.extended) return err_invalid;
    if (found.section != npos && pkg.sections[found.section].type == path.value) return ok;
    changes.push_back(change(Op::set, path, true, path.value));
    return ok;
  }

  int add_list(const Path& path, const Found& found, std::vector<Delta>& changes) {
    if (!path.has_value || !path.has_option || found.section == npos) return err_invalid;
    changes.push_back(change(Op::list_add, path, true, path.value));
    return ok;
  }

  int del_list(const Package& pkg, const Path& path, const Found& found,
               std::vector<Delta>& changes) {
    if (!path.has_value || !path.has_option || found.section == npos) return err_invalid;
    if (found.option == npos || !pkg.sections[found.section].options[found.option].is_list)
      return ok;
    changes.push_back(change(Op::list_del, path, true, path.value));
    return ok;
  }

  int remove(const Package& pkg, const Path& path, const Found& found,
             std::vector<Delta>& changes) {
    if (!path.has_section) return err_invalid;
    if (!found.complete) return err_notfound;
    if (path.has_option && path.has_value) {
      const Option& o = pkg.sections[found.section].options[found.option];
      if (o.is_list) {
        if (index_ >= 0 && static_cast<size_t>(index_) < o.items.size())
          changes.push_back(change(Op::remove, path, true, path.value));
        return ok;
      }
    }
    changes.push_back(change(Op::remove, path, false, {}));
    return ok;
  }

  int rename(const Package& pkg, const Path& path, const Found& found,
             std::vector<Delta>& changes) {
    if (!path.has_value || !path.has_section) return err_invalid;
    if (!found.complete) return err_notfound;
    // A record with an invalid name would be dropped on every later read.
    if (!valid_name(path.value)) return err_invalid;
    if (!path.has_option && path.value != path.section && pkg.find(path.value))
      return err_duplicate;
    changes.push_back(change(Op::rename, path, true, path.value));
    return ok;
  }

  int reorder(const Package& pkg, const Path& path, const Found& found,
              std::vector<Delta>& changes) {
    if (found.section == npos || !path.has_value) return err_notfound;
    size_t position = std::strtoul(path.value.c_str(), nullptr, 10);
    size_t last = pkg.sections.size() - 1;
    if (std::min(position, last) == found.section) return ok;
    Delta d;
    d.op = Op::reorder;
    d.section = path.section;
    d.has_value = true;
    d.value = std::to_string(position);
    changes.push_back(std::move(d));
    return ok;
  }

  // ---- add ----

  // The next generated name, skipping names a named section already uses
  // so the add really adds.
  static std::string fresh_anonymous_name(const Package& pkg, const std::string& type) {
    unsigned number = pkg.created + 1;
    std::string name = anonymous_name(number, type);
    while (pkg.find(name)) name = anonymous_name(++number, type);
    return name;
  }

  static Delta section_change(Op op, const std::string& section, const std::string& value) {
    Delta d;
    d.op = op;
    d.section = section;
    d.has_value = true;
    d.value = value;
    return d;
  }

  int add(const std::string& package, const std::string& type) {
    Loaded loaded;
    KeptView keep{*this, loaded};
    if (int error = load_package(package, Access::stage, loaded)) return error;
    if (!valid_type(type)) {
      message(err_invalid);
      return err_invalid;
    }
    std::string name = fresh_anonymous_name(loaded.pkg, type);
    if (int error = uci::append(loaded, {section_change(Op::add, name, type)})) {
      message(error);
      return error;
    }
    out_ += name + "\n";
    return 0;
  }

  // ---- import and batch ----

  // The whole input: the -f file, else standard input.
  int read_input(std::string& text) {
    Fd file;
    int fd = STDIN_FILENO;
    if (!input_file_.empty()) {
      file = Fd(::open(input_file_.c_str(), O_RDONLY | O_CLOEXEC));
      if (!file.ok()) {
        if (!quiet_) err_ += argv0_ + ": " + errno_text(errno) + "\n";
        return 1;
      }
      fd = file.get();
    }
    char buf[8192];
    while (true) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        message(err_io);
        return 1;
      }
      if (n == 0) return 0;
      text.append(buf, static_cast<size_t>(n));
    }
  }

  // `import [PKG]`: config text from the input replaces each package's file
  // (the text names its packages with `package` statements when no PKG is
  // given), or with -m is staged into the existing packages.
  int import(const std::vector<std::string>& args) {
    std::vector<Package> packages;
    if (args.size() == 2) {
      Path path;
      if (int error = parse_path(args[1], path)) {
        message(error);
        return 1;
      }
      packages.push_back(Package{});
      packages.back().name = path.package;
    }
    std::string text;
    if (int status = read_input(text)) return status;
    ParseError error;
    std::vector<ParseError> skipped;
    bool parsed = packages.empty() ? parse_packages(text, packages, error, strict_, &skipped)
                                   : parse_config(text, packages.back(), error, strict_, &skipped);
    for (const ParseError& p : skipped) report_parse(p, false);
    if (!parsed) {
      report_parse(error, true);
      return 1;
    }
    for (const Package& pkg : packages) {
      int status = merge_ ? merge(pkg) : replace_config(store_, pkg);
      if (status) {
        if (!merge_) message(status);
        return 1;
      }
    }
    return 0;
  }

  // Stages the imported sections and options into the existing package:
  // named sections are created or retyped, anonymous ones added, options
  // set and list items appended, as if the text followed the package's file.
  int merge(const Package& imported) {
    Loaded loaded;
    KeptView keep{*this, loaded};
    if (int error = load_package(imported.name, Access::stage, loaded)) return error;
    Package pkg = loaded.pkg;  // append applies the changes to the view itself
    std::vector<Delta> changes;
    auto record = [&](Delta d) {
      apply(pkg, d);
      changes.push_back(std::move(d));
    };
    for (const Section& s : imported.sections) {
      std::string name = s.name;
      const Section* existing = s.anonymous ? nullptr : pkg.find(name);
      if (s.anonymous) {
        name = fresh_anonymous_name(pkg, s.type);
        record(section_change(Op::add, name, s.type));
      } else if (!existing || existing->type != s.type) {
        record(section_change(Op::set, name, s.type));
      }
      for (const Option& o : s.options) {
        Delta d = section_change(o.is_list ? Op::list_add : Op::set, name, o.value);
        d.option = o.name;
        if (o.is_list) {
          for (const std::string& item : o.items) {
            d.value = item;
            record(d);
          }
          continue;
        }
        const Option* now = pkg.find(name)->find(o.name);
        if (!now || now->is_list || now->value != o.value) record(d);
      }
    }
    if (changes.empty()) return ok;
    if (int error = uci::append(loaded, changes)) {
      message(error);
      return error;
    }
    return ok;
  }

  // `batch`: one command per line of the input, without the program name,
  // each saved before the next runs; `exit` ends it. Errors are reported
  // and the batch goes on; it always ends with status 0.
  int batch() {
    std::string text;
    if (int status = read_input(text)) return status;
    in_batch_ = true;
    size_t pos = 0;
    std::vector<std::string> words;
    ParseError error;
    while (next_command(text, pos, words, error)) {
      if (words.empty()) continue;
      if (strcasecmp(words[0].c_str(), "exit") == 0) break;
      if (dispatch(command_named(words[0]), words) == exit_usage) usage(exit_usage);
      if (flush_) (*flush_)(out_, err_);
    }
    if (!error.reason.empty()) report_parse(error, true);
    return 0;
  }

  // ---- commands on whole packages ----

  int package_command(Command command, const std::vector<std::string>& args) {
    if (args.size() > 2) return exit_usage;
    if (args.size() == 2) {
      Path path;
      if (int error = parse_path(args[1], path)) {
        message(error);
        return 1;
      }
      return on_package(command, path);
    }
    for (const std::string& name : list_packages(store_.confdir)) {
      Path path;
      path.package = name;
      on_package(command, path);
    }
    return 0;
  }

  int on_package(Command command, Path& path) {
    Loaded loaded;
    KeptView keep{*this, loaded};
    Access access = command == Command::commit && !no_commit_ ? Access::commit : Access::read;
    if (load_package(path.package, access, loaded)) return 1;
    switch (command) {
      case Command::show:
        return show(loaded.pkg, path);
      case Command::changes:
        show_changes(loaded.pkg);
        return 0;
      case Command::exportp:
        out_ += "package " + loaded.pkg.name + "\n" + format_config(loaded.pkg, name_on_export_);
        return 0;
      case Command::commit:
        if (no_commit_) return 0;
        if (int error = uci::commit(loaded)) {
          message(error);
          return 1;
        }
        return 0;
      default:
        return 0;
    }
  }

  int show(const Package& pkg, Path& path) {
    Found found;
    if (int error = resolve(pkg, path, found)) {
      message(error);
      return 1;
    }
    if (!found.complete) {
      message(err_notfound);
      return 1;
    }
    if (found.section == npos) {
      show_package(pkg);
    } else if (found.option == npos) {
      show_section(pkg, pkg.sections[found.section], pkg.sections[found.section].name);
    } else {
      const Section& s = pkg.sections[found.section];
      show_option(pkg.name + "." + s.name, s.options[found.option]);
    }
    return 0;
  }

  void show_package(const Package& pkg) {
    std::unordered_map<std::string, unsigned> seen;  // sections per type so far
    for (const Section& s : pkg.sections) {
      unsigned index = seen[s.type]++;
      if (s.anonymous && !real_names_)
        show_section(pkg, s, "@" + s.type + "[" + std::to_string(index) + "]");
      else
        show_section(pkg, s, s.name);
    }
  }

  void show_section(const Package& pkg, const Section& s, const std::string& shown_name) {
    std::string prefix = pkg.name + "." + shown_name;
    out_ += prefix + "=" + s.type + "\n";
    for (const Option& o : s.options) show_option(prefix, o);
  }

  void show_option(const std::string& prefix, const Option& o) {
    out_ += prefix + "." + o.name + "=" + value_text(o, true) + "\n";
  }

  std::string value_text(const Option& o, bool quote) const {
    if (!o.is_list) return quote ? quoted(o.value) : o.value;
    std::string text;
    for (size_t i = 0; i < o.items.size(); ++i) {
      if (i) text += delimiter_;
      text += quote || has_blank(o.items[i]) ? quoted(o.items[i]) : o.items[i];
    }
    return text;
  }

  void show_changes(const Package& pkg) {
    for (const Delta& d : pkg.staged) {
      std::string path = pkg.name + "." + d.section;
      if (!d.option.empty()) path += "." + d.option;
      switch (d.op) {
        case Op::remove:
          out_ += "-" + path + "\n";
          break;
        case Op::list_add:
          out_ += path + "+=" + quoted(d.value) + "\n";
          break;
        case Op::list_del:
          out_ += path + "-=" + quoted(d.value) + "\n";
          break;
        default:
          out_ += path + "=" + quoted(d.value) + "\n";
          break;
      }
    }
  }

  std::string& out_;
  std::string& err_;
  const Flush* flush_;
  std::string argv0_;
  Store store_;
  std::string delimiter_ = " ";
  bool quiet_ = false;
  bool strict_ = true;
  bool real_names_ = false;
  bool name_on_export_ = false;
  bool no_commit_ = false;
  bool merge_ = false;         // -m: import stages into existing packages
  bool in_batch_ = false;      // a batch runs neither batch nor import
  std::string input_file_;     // -f: input of import and batch
  std::vector<Loaded> views_;  // a batch's packages as its last commands left them
  long index_ = 0;             // list index of `delete ...=N`
};

int run_tool(const std::vector<std::string>& argv, std::string& out, std::string& err,
             const Dirs& defaults, const Flush* flush) {
  try {
    Tool tool(out, err, defaults, flush);
    return tool.run(argv);
  } catch (const std::bad_alloc&) {
    err += (argv.empty() ? std::string("uci") : argv[0]) + ": " + error_text(err_nomem) + "\n";
    return 1;
  }
}

}  // namespace

int cli(const std::vector<std::string>& argv, std::string& out, std::string& err,
        const Dirs& defaults) {
  return run_tool(argv, out, err, defaults, nullptr);
}

int cli(const std::vector<std::string>& argv, std::string& out, std::string& err) {
  return run_tool(argv, out, err, Dirs{}, nullptr);
}

int cli(const std::vector<std::string>& argv, std::string& out, std::string& err,
        const Flush& flush) {
  return run_tool(argv, out, err, Dirs{}, &flush);
}

}  // namespace uci
