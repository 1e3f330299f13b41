#include "tests/support/fake_effects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/paths.h"
#include "platform/uci/store.h"
#include "platform/uci/uci.h"

namespace fs = std::filesystem;

namespace {

// Option letters of the store tool that take a value, and those of them
// whose value is a file or directory.
bool takes_value(char letter) {
  return std::strchr("cCdfpPt", letter) != nullptr;
}
bool takes_path(char letter) {
  return letter != 'd';
}

}  // namespace

FakeEffects::FakeEffects() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pallad-fake-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  root_ = name.data();
  for (const char* dir : {paths::uci_confdir, "/tmp", "/var/run", "/proc/net", "/rom/etc/config"})
    fs::create_directories(host_path(dir));
}

FakeEffects::~FakeEffects() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

int FakeEffects::run(const std::string& command) {
  commands_.push_back(command);
  timeline_.push_back(command);
  std::string out;
  return apply_uci(command, out).value_or(0);
}

int FakeEffects::run_program(const std::vector<std::string>& argv,
                             const std::string& command_line) {
  commands_.push_back(command_line);
  timeline_.push_back(command_line);
  auto words = shell_words(command_line);
  if (words && *words != argv) ADD_FAILURE() << "words of \"" << command_line << "\" differ";
  std::string out;
  return apply_uci_words(argv, out).value_or(0);
}

int FakeEffects::run_program_input(const std::vector<std::string>& argv, const std::string& input,
                                   const std::vector<std::string>& command_lines) {
  size_t pos = 0;
  uci::ParseError error;
  std::vector<std::string> words;
  for (const std::string& line : command_lines) {
    commands_.push_back(line);
    timeline_.push_back(line);
    auto line_words = shell_words(line);
    if (line_words && !line_words->empty()) line_words->erase(line_words->begin());
    if (!uci::next_command(input, pos, words, error) || !line_words || words != *line_words)
      ADD_FAILURE() << "the batch does not read as \"" << line << "\"";
  }
  const std::string input_path = "/tmp/.fake-batch-input";
  put_file(input_path, input);
  std::vector<std::string> with_input{argv[0], "-f", input_path};
  with_input.insert(with_input.end(), argv.begin() + 1, argv.end());
  std::string out;
  int status = apply_uci_words(with_input, out).value_or(0);
  remove_file(input_path);
  return status;
}

std::string FakeEffects::capture(const std::string& command, size_t max_bytes) {
  commands_.push_back(command);
  timeline_.push_back(command);
  std::string out;
  if (auto canned = canned_output(command))
    out = *canned;
  else
    apply_uci(command, out);
  if (out.size() > max_bytes) out.resize(max_bytes);
  return out;
}

std::string FakeEffects::capture_status(const std::string& command, int& status, size_t max_bytes) {
  auto known = statuses_.find(command);
  status = known == statuses_.end() ? 0 : known->second;
  if (status == -1) {
    commands_.push_back(command);
    return {};
  }
  return capture(command, max_bytes);
}

bool FakeEffects::resolve_host(const std::string& name, host_answer& answer) {
  lookups_.push_back(name);
  auto known = hosts_.find(name);
  if (known == hosts_.end()) return false;
  answer = known->second;
  return true;
}

bool FakeEffects::read_file(const std::string& path, std::string& out, size_t max_bytes) {
  out.clear();
  std::ifstream in(host_path(path), std::ios::binary);
  if (!in) return false;
  std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  out = data.substr(0, max_bytes);
  return true;
}

bool FakeEffects::write_file(const std::string& path, const std::string& data) {
  std::ofstream file(host_path(path), std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << data;
  file.close();
  return !file.fail();
}

bool FakeEffects::remove_file(const std::string& path) {
  return unlink(host_path(path).c_str()) == 0;
}

bool FakeEffects::touch_file(const std::string& path) {
  int fd = open(host_path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  timespec times[2] = {{now_, 0}, {now_, 0}};
  bool touched = futimens(fd, times) == 0;
  return close(fd) == 0 && touched;
}

bool FakeEffects::exists(const std::string& path) {
  return access(host_path(path).c_str(), F_OK) == 0;
}

std::vector<std::string> FakeEffects::list_dir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(host_path(path), error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int FakeEffects::socket_ioctl(unsigned long request, void* argument) {
  if (ioctl_handler_) return ioctl_handler_(request, argument);
  errno = ENODEV;
  return -1;
}

bool FakeEffects::random_bytes(void* buf, size_t n) {
  if (random_fails_) return false;
  auto* bytes = static_cast<unsigned char*>(buf);
  for (size_t i = 0; i < n; ++i) bytes[i] = random_next_++;
  return true;
}

int FakeEffects::send_signal(pid_t pid, int sig) {
  signals_.emplace_back(pid, sig);
  timeline_.push_back("kill " + std::to_string(pid) + " " + std::to_string(sig));
  return 0;
}

void FakeEffects::sync_storage() {
  timeline_.push_back("sync");
}

int FakeEffects::reboot_system(int command) {
  reboots_.push_back(command);
  char text[32];
  std::snprintf(text, sizeof text, "reboot %x", static_cast<unsigned>(command));
  timeline_.push_back(text);
  return 0;
}

void FakeEffects::exit_process(int status) {
  throw FakeExit{status};
}

std::string FakeEffects::host_path(const std::string& path) {
  return !path.empty() && path[0] == '/' ? root_ + path : root_ + "/" + path;
}

void FakeEffects::on_capture(const std::string& command, const std::string& output) {
  exact_outputs_[command] = output;
}

void FakeEffects::on_capture_prefix(const std::string& prefix, const std::string& output) {
  prefix_outputs_[prefix] = output;
}

void FakeEffects::put_file(const std::string& path, const std::string& data) {
  std::string target = host_path(path);
  fs::create_directories(fs::path(target).parent_path());
  std::ofstream(target, std::ios::binary | std::ios::trunc) << data;
}

std::string FakeEffects::file_text(const std::string& path) {
  std::string data;
  read_file(path, data);
  return data;
}

void FakeEffects::write_config(const std::string& package, const std::string& text) {
  put_file(std::string(paths::uci_confdir) + "/" + package, text);
}

std::string FakeEffects::read_config(const std::string& package) {
  return file_text(std::string(paths::uci_confdir) + "/" + package);
}

std::optional<std::string> FakeEffects::canned_output(const std::string& command) const {
  auto exact = exact_outputs_.find(command);
  if (exact != exact_outputs_.end()) return exact->second;
  const std::string* best = nullptr;
  size_t best_length = 0;
  for (const auto& [prefix, output] : prefix_outputs_) {
    if (command.compare(0, prefix.size(), prefix) == 0 && (!best || prefix.size() > best_length)) {
      best = &output;
      best_length = prefix.size();
    }
  }
  if (best) return *best;
  return std::nullopt;
}

std::optional<int> FakeEffects::apply_uci(const std::string& command, std::string& out) {
  auto words = shell_words(command);
  if (!words) return std::nullopt;
  return apply_uci_words(*words, out);
}

std::optional<int> FakeEffects::apply_uci_words(const std::vector<std::string>& words,
                                                std::string& out) {
  if (words.empty() || (words[0] != "uci" && words[0] != "/sbin/uci")) return std::nullopt;
  uci::Dirs defaults;
  defaults.confdir = host_path(defaults.confdir);
  defaults.savedir = host_path(defaults.savedir);
  defaults.overridedir = host_path(defaults.overridedir);
  std::string err;
  int status = uci::cli(uci_argv(words), out, err, defaults);
  uci_errors_ += err;
  return status;
}

// The tool's arguments with every file or directory option value placed under
// the root. Options are read as the tool reads them: letters may be grouped
// ("-qc DIR"), a value follows its letter or is the next word, "--" ends them.
std::vector<std::string> FakeEffects::uci_argv(const std::vector<std::string>& words) {
  std::vector<std::string> argv{words[0]};
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") {
      argv.insert(argv.end(), words.begin() + static_cast<long>(i), words.end());
      break;
    }
    argv.push_back(word);
    if (word.size() < 2 || word[0] != '-') continue;
    for (size_t j = 1; j < word.size(); ++j) {
      if (!takes_value(word[j])) continue;
      bool rooted = takes_path(word[j]);
      if (j + 1 < word.size()) {
        std::string value = word.substr(j + 1);
        if (rooted && !value.empty()) argv.back() = word.substr(0, j + 1) + host_path(value);
      } else if (i + 1 < words.size()) {
        const std::string& value = words[++i];
        argv.push_back(rooted && !value.empty() ? host_path(value) : value);
      }
      break;
    }
  }
  return argv;
}
