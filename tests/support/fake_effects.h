// The test implementation of the side-effect seam. Every instance owns a
// temporary root directory that stands for "/" (system paths map to root +
// path). Commands are recorded in order; `uci ...` and `/sbin/uci ...`
// commands are applied to the store under the root by the store library, so a
// test can check both the exact command lines and the resulting store.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/effects.h"
#include "platform/shell.h"

// Thrown by FakeEffects::exit_process so a test can catch a process exit.
struct FakeExit {
  int status;
};

class FakeEffects : public Effects {
 public:
  FakeEffects();
  ~FakeEffects() override;
  FakeEffects(const FakeEffects&) = delete;
  FakeEffects& operator=(const FakeEffects&) = delete;

  int run(const std::string& command) override;
  // Records command_line as run() does and applies a store command's argument
  // vector; a test fails when the line does not split into those words.
  int run_program(const std::vector<std::string>& argv, const std::string& command_line) override;
  // Records each of command_lines as run_program does and applies a store
  // batch with the store tool; a test fails when a line of the batch does
  // not read as the words of its command line.
  int run_program_input(const std::vector<std::string>& argv, const std::string& input,
                        const std::vector<std::string>& command_lines) override;
  std::string capture(const std::string& command, size_t max_bytes = 65536) override;
  std::string capture_status(const std::string& command, int& status,
                             size_t max_bytes = 65536) override;
  bool resolve_host(const std::string& name, host_answer& answer) override;
  bool read_file(const std::string& path, std::string& out, size_t max_bytes = 1 << 20) override;
  bool write_file(const std::string& path, const std::string& data) override;
  bool remove_file(const std::string& path) override;
  // Sets the times to the fake clock's now().
  bool touch_file(const std::string& path) override;
  bool exists(const std::string& path) override;
  std::vector<std::string> list_dir(const std::string& path) override;
  // Answered by the handler given to on_ioctl; without one, no interface
  // exists (ENODEV).
  int socket_ioctl(unsigned long request, void* argument) override;
  time_t now() override { return now_; }
  long long now_us() override { return now_us_ ? now_us_ : now_ * 1000000LL; }
  // Starts at 0 and moves only by the sleeps.
  int64_t monotonic_ms() override { return monotonic_ms_; }
  void sleep_ms(unsigned ms) override {
    sleeps_.push_back(ms);
    monotonic_ms_ += ms;
  }
  bool random_bytes(void* buf, size_t n) override;
  int send_signal(pid_t pid, int sig) override;
  void sync_storage() override;
  int reboot_system(int command) override;
  [[noreturn]] void exit_process(int status) override;
  std::string host_path(const std::string& path) override;

  // The temporary directory standing for "/".
  const std::string& root() const { return root_; }

  // Every command given to run, run_program or capture, in order, and each
  // command of a batch given to run_program_input.
  const std::vector<std::string>& commands() const { return commands_; }
  void clear_commands() {
    commands_.clear();
    timeline_.clear();
  }
  // What the store tool printed on standard error so far (helps a failing test).
  const std::string& uci_errors() const { return uci_errors_; }

  // Canned standard output for commands that are not store commands (or to
  // override one): by exact command, or by prefix (the longest prefix wins).
  void on_capture(const std::string& command, const std::string& output);
  void on_capture_prefix(const std::string& prefix, const std::string& output);

  // Exit status capture_status reports for a command (0 when not set; -1
  // stands for a command that could not be started, and gives no output).
  void on_status(const std::string& command, int status) { statuses_[command] = status; }

  // Host name answers for resolve_host; a name without one fails to resolve.
  // Every name looked up is recorded in order.
  void on_resolve(const std::string& name, const host_answer& answer) { hosts_[name] = answer; }
  const std::vector<std::string>& lookups() const { return lookups_; }

  // Answers socket_ioctl: returns ioctl(2)'s result and sets errno itself.
  using ioctl_handler = std::function<int(unsigned long request, void* argument)>;
  void on_ioctl(ioctl_handler handler) { ioctl_handler_ = std::move(handler); }

  void set_now(time_t now) { now_ = now; }
  // Sets the microsecond clock (otherwise it follows set_now).
  void set_now_us(long long now_us) { now_us_ = now_us; }
  const std::vector<unsigned>& sleeps() const { return sleeps_; }
  // Random bytes are a fixed sequence; this makes random_bytes fail.
  void set_random_fails(bool fails) { random_fails_ = fails; }
  const std::vector<std::pair<pid_t, int>>& signals() const { return signals_; }
  const std::vector<int>& reboots() const { return reboots_; }
  // Commands, signals, syncs and reboots in the order they happened:
  // commands as given, the others as "kill PID SIG", "sync" and
  // "reboot COMMAND" (COMMAND in hex).
  const std::vector<std::string>& timeline() const { return timeline_; }

  // Fixture files. Paths are system paths; parent directories are created.
  void put_file(const std::string& path, const std::string& data);
  // Contents of a file under the root, or the empty text when it is missing.
  std::string file_text(const std::string& path);
  // The package file in /etc/config.
  void write_config(const std::string& package, const std::string& text);
  std::string read_config(const std::string& package);

 private:
  std::optional<std::string> canned_output(const std::string& command) const;
  // Applies a store command; nothing when the command is not one.
  std::optional<int> apply_uci(const std::string& command, std::string& out);
  std::optional<int> apply_uci_words(const std::vector<std::string>& words, std::string& out);
  std::vector<std::string> uci_argv(const std::vector<std::string>& words);

  std::string root_;
  std::vector<std::string> commands_;
  std::string uci_errors_;
  std::map<std::string, std::string> exact_outputs_;
  std::map<std::string, std::string> prefix_outputs_;
  std::map<std::string, int> statuses_;
  std::map<std::string, host_answer> hosts_;
  std::vector<std::string> lookups_;
  time_t now_ = 1700000000;
  long long now_us_ = 0;
  int64_t monotonic_ms_ = 0;
  ioctl_handler ioctl_handler_;
  std::vector<unsigned> sleeps_;
  bool random_fails_ = false;
  unsigned char random_next_ = 0;
  std::vector<std::pair<pid_t, int>> signals_;
  std::vector<int> reboots_;
  std::vector<std::string> timeline_;
};

// Installs an implementation for its lifetime and restores the previous one.
class EffectsGuard {
 public:
  explicit EffectsGuard(Effects& effects) : previous_(&fx()) { set_effects(&effects); }
  ~EffectsGuard() { set_effects(previous_); }
  EffectsGuard(const EffectsGuard&) = delete;
  EffectsGuard& operator=(const EffectsGuard&) = delete;

 private:
  Effects* previous_;
};

// Base fixture: a fresh fake installed for each test.
class FakeEffectsTest : public ::testing::Test {
 protected:
  FakeEffects fake;
  EffectsGuard guard{fake};
};
