// The side-effect seam: every effect the agent has on the machine goes
// through this interface. The production implementation calls the C library;
// tests install a recording implementation (tests/support/fake_effects.h).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// What a host name lookup answered: address family, address length and the
// raw addresses in the order given.
struct host_answer {
  int family = 0;
  int length = 0;
  std::vector<std::string> addresses;
};

class Effects {
 public:
  virtual ~Effects() = default;

  // Runs a command through /bin/sh and waits for it, as system(3) does.
  virtual int run(const std::string& command) = 0;
  // Starts argv[0] with the argument vector, found through PATH as the shell
  // finds a command, and waits for it, without a shell in between. Returns
  // the status as run() would for command_line, the same command written for
  // the shell; a program that cannot be started is reported on standard
  // error as the shell reports it. command_line is only for implementations
  // that record commands: the program never sees it.
  virtual int run_program(const std::vector<std::string>& argv,
                          const std::string& command_line) = 0;
  // As run_program, with input on the program's standard input. command_lines
  // are the commands the input stands for, one per command it holds, in
  // order: only for implementations that record commands.
  virtual int run_program_input(const std::vector<std::string>& argv, const std::string& input,
                                const std::vector<std::string>& command_lines) = 0;
  // Runs a command through /bin/sh and returns at most max_bytes of what it
  // printed on standard output, as popen(3) does.
  virtual std::string capture(const std::string& command, size_t max_bytes = 65536) = 0;
  // As capture, and sets status to the command's exit status as pclose(3)
  // reports it, or to -1 when the command could not be started.
  virtual std::string capture_status(const std::string& command, int& status,
                                     size_t max_bytes = 65536) = 0;
  // Looks a host name up as gethostbyname(3) does; false when the lookup
  // fails. The answer is copied whole: it may be of another family or length
  // than IPv4, or hold no address at all.
  virtual bool resolve_host(const std::string& name, host_answer& answer) = 0;

  // Whole-file access to system paths (a test implementation maps them into
  // its fixture tree). read_file reads at most max_bytes.
  virtual bool read_file(const std::string& path, std::string& out, size_t max_bytes = 1 << 20) = 0;
  virtual bool write_file(const std::string& path, const std::string& data) = 0;
  virtual bool remove_file(const std::string& path) = 0;
  // Creates the file (empty) when it is missing and sets its access and
  // modification times to now, as touch(1) does.
  virtual bool touch_file(const std::string& path) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Entry names of a directory, without "." and "..", sorted.
  virtual std::vector<std::string> list_dir(const std::string& path) = 0;

  // An ioctl on a datagram socket kept for the process's life, for the
  // interface requests of the wireless extensions and the radio driver:
  // ioctl(2)'s result, with errno set when it fails.
  virtual int socket_ioctl(unsigned long request, void* argument) = 0;

  virtual time_t now() = 0;
  // Milliseconds on the monotonic clock, for deadlines (platform/clock.h).
  virtual int64_t monotonic_ms() = 0;
  // Wall-clock time in microseconds since the epoch, as gettimeofday(2)
  // gives it.
  virtual long long now_us() = 0;
  virtual void sleep_ms(unsigned ms) = 0;
  // Fills buf with n unpredictable bytes; false when no randomness can be had.
  virtual bool random_bytes(void* buf, size_t n) = 0;
  virtual int send_signal(pid_t pid, int sig) = 0;
  // Writes everything the kernel holds unwritten to storage, as sync(2) does.
  virtual void sync_storage() = 0;
  // reboot(2) with one of the RB_* commands.
  virtual int reboot_system(int command) = 0;
  [[noreturn]] virtual void exit_process(int status) = 0;

  // Where a system path lives on this host: the path itself on a device, a
  // fixture tree in tests. Code that must open a system file directly (the
  // configuration store reader) goes through this.
  virtual std::string host_path(const std::string& path) = 0;
};

// The implementation in use. Starts as the C library one. Store commands
// collected by an open store_batch are started first, so that every effect,
// store reads included, comes after the store changes made before it.
Effects& fx();
// Installs another implementation; nullptr restores the C library one.
void set_effects(Effects* effects);

// ---- store commands ----
//
// The store changes of a request are started as one `uci batch` holding the
// same commands in the same order, instead of one process per change: the
// tool applies and saves each line before the next one, as separate runs
// would, and goes on after a line it refuses.

// Runs one store command: words are the tool's argument vector, program
// first ("uci" or "/sbin/uci"), command_line the same command as a shell
// would read it (what recording implementations show). While a store_batch
// is open the command is collected; otherwise it starts at once without a
// shell. A word holding a zero byte could never have reached the tool whole,
// so such a command is dropped.
void store_command(std::vector<std::string> words, const std::string& command_line);

// Starts the collected store commands, if any, as one `uci batch` and waits
// for it.
void store_batch_flush();

// Collects the store commands run during its life (one request) into
// batches; a batch ends before any other effect (fx()) and when the scope
// ends. Scopes nest: only the outermost one ends the collecting.
class store_batch {
 public:
  store_batch();
  ~store_batch();
  store_batch(const store_batch&) = delete;
  store_batch& operator=(const store_batch&) = delete;
};

// Batching is on unless switched off; a test-only build of the agent
// switches it off to compare the store batches leave with the one that
// separate commands leave.
void set_store_batching(bool on);
