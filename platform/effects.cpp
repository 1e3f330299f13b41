#include "platform/effects.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/reboot.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/errno_text.h"
#include "platform/owned_fd.h"
#include "platform/shell.h"

extern char** environ;

namespace {

// The search path the device's shell uses when PATH is not set.
constexpr const char* default_path = "/sbin:/usr/sbin:/bin:/usr/bin";

bool is_executable_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where the shell finds a command: the name itself when it holds a slash,
// else the first executable file of that name in the directories of PATH
// (an empty entry is the current directory). Empty when there is none;
// error then tells "not found" (ENOENT) from "not executable" (EACCES).
std::string find_program(const std::string& name, int& error) {
  error = ENOENT;
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) {
    if (is_executable_file(name)) return name;
    if (access(name.c_str(), F_OK) == 0) error = EACCES;
    return "";
  }
  const char* search = std::getenv("PATH");
  std::string dirs = search ? search : default_path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (is_executable_file(candidate)) return candidate;
    if (access(candidate.c_str(), F_OK) == 0) error = EACCES;
    start = end + 1;
  }
  return "";
}

// The wait status the shell gives for a command it could not start, after
// printing its message.
int report_not_started(const std::string& name, int error) {
  if (error == ENOENT)
    std::fprintf(stderr, "sh: %s: not found\n", name.c_str());
  else
    std::fprintf(stderr, "sh: %s: %s\n", name.c_str(), errno_text(error));
  std::fflush(stderr);
  return (error == ENOENT ? 127 : 126) << 8;
}

// True for a file that is neither a binary nor names its interpreter ("#!"):
// the shell runs such a file as a script. Deciding it here, rather than from
// the spawn's ENOEXEC alone, also holds where the spawn cannot report the
// exec failure back (under user-mode emulation the child just ends with 127).
bool needs_shell(const std::string& path) {
  char head[4] = {};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  const char elf_magic[4] = {0x7f, 'E', 'L', 'F'};
  if (n >= 4 && std::memcmp(head, elf_magic, 4) == 0) return false;
  return !(n >= 2 && head[0] == '#' && head[1] == '!');
}

// Starts the program with the argument vector; input_fd, when not -1,
// becomes its standard input.
pid_t spawn_program(const std::string& path, const std::vector<std::string>& argv, int input_fd,
                    int& error) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input_fd >= 0) posix_spawn_file_actions_adddup2(&actions, input_fd, STDIN_FILENO);
  pid_t pid = -1;
  error = posix_spawn(&pid, path.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// Starts argv[0], found as the shell finds a command (a file that is not a
// binary runs as a shell script), and waits for it; the status is the one
// system(3) would give for the same command.
int run_found_program(const std::vector<std::string>& argv, int input_fd) {
  if (argv.empty()) return 0;
  int error = 0;
  std::string path = find_program(argv[0], error);
  if (path.empty()) return report_not_started(argv[0], error);
  bool script = needs_shell(path);
  pid_t pid = script ? -1 : spawn_program(path, argv, input_fd, error);
  if (script || (pid < 0 && error == ENOEXEC)) {
    // Not a binary: the shell runs such a file as a script.
    std::vector<std::string> shell_argv{"/bin/sh", path};
    shell_argv.insert(shell_argv.end(), argv.begin() + 1, argv.end());
    pid = spawn_program(shell_argv[0], shell_argv, input_fd, error);
  }
  if (pid < 0) {
    // No process to start the program in: system(3) reports that as -1.
    if (error == EAGAIN || error == ENOMEM) return -1;
    return report_not_started(argv[0], error);
  }
  return wait_for(pid);
}

// A descriptor reading the text from its start: an anonymous file in
// memory (or, on a kernel without those, an unnamed one in /tmp), so that a
// program reading it can never block the writer.
OwnedFd text_input(const std::string& text) {
  OwnedFd fd(memfd_create("input", MFD_CLOEXEC));
  if (fd.get() < 0) fd.reset(open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.get() < 0) return fd;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return OwnedFd();
    done += static_cast<size_t>(n);
  }
  if (lseek(fd.get(), 0, SEEK_SET) != 0) return OwnedFd();
  return fd;
}

class LibcEffects : public Effects {
 public:
  int run(const std::string& command) override { return std::system(command.c_str()); }

  int run_program(const std::vector<std::string>& argv, const std::string&) override {
    return run_found_program(argv, -1);
  }

  int run_program_input(const std::vector<std::string>& argv, const std::string& input,
                        const std::vector<std::string>&) override {
    OwnedFd fd = text_input(input);
    if (fd.get() < 0) {
      std::perror("store batch input");
      return -1;
    }
    return run_found_program(argv, fd.get());
  }

  std::string capture(const std::string& command, size_t max_bytes) override {
    int status;
    return capture_status(command, status, max_bytes);
  }

  std::string capture_status(const std::string& command, int& status, size_t max_bytes) override {
    std::string out;
    status = -1;
    FILE* pipe = popen(command.c_str(), "re");
    if (!pipe) return out;
    char chunk[4096];
    size_t n;
    // Keep reading past max_bytes so the child never blocks on a full pipe.
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
      if (out.size() < max_bytes) out.append(chunk, std::min(n, max_bytes - out.size()));
    }
    status = pclose(pipe);
    return out;
  }

  bool resolve_host(const std::string& name, host_answer& answer) override {
    const hostent* host = gethostbyname(name.c_str());
    if (!host) return false;
    answer.family = host->h_addrtype;
    answer.length = host->h_length;
    answer.addresses.clear();
    size_t length = host->h_length > 0 ? static_cast<size_t>(host->h_length) : 0;
    // The list is null-terminated; a resolver never returns more than a few
    // dozen addresses, the bound only guards against a broken one.
    for (size_t i = 0; host->h_addr_list && host->h_addr_list[i] && i < 64; ++i)
      answer.addresses.emplace_back(host->h_addr_list[i], length);
    return true;
  }

  bool read_file(const std::string& path, std::string& out, size_t max_bytes) override {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[4096];
    ssize_t n;
    while (out.size() < max_bytes) {
      n = read(fd, chunk, std::min(sizeof chunk, max_bytes - out.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
  }

  bool write_file(const std::string& path, const std::string& data) override {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = write(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == data.size();
  }

  bool remove_file(const std::string& path) override { return unlink(path.c_str()) == 0; }

  bool touch_file(const std::string& path) override {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool touched = futimens(fd, nullptr) == 0;
    return close(fd) == 0 && touched;
  }

  bool exists(const std::string& path) override { return access(path.c_str(), F_OK) == 0; }

  std::vector<std::string> list_dir(const std::string& path) override {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  // A socket per call: nothing stays open between requests, and a worker
  // never holds a descriptor it does not need.
  int socket_ioctl(unsigned long request, void* argument) override {
    OwnedFd socket_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_fd.ok()) return -1;
    return ioctl(socket_fd.get(), request, argument);
  }

  time_t now() override { return std::time(nullptr); }

  int64_t monotonic_ms() override { return ::monotonic_ms(); }

  long long now_us() override {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000000LL + tv.tv_usec;
  }

  void sleep_ms(unsigned ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

  bool random_bytes(void* buf, size_t n) override {
    auto* p = static_cast<unsigned char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t got = getrandom(p + done, n - done, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done == n;
  }

  int send_signal(pid_t pid, int sig) override {
    // A worker ends with its supervisor, but one that signals every process
    // (a factory reset) has work left after the supervisor is gone: removing
    // the settings and restarting the device.
    if (pid == -1) prctl(PR_SET_PDEATHSIG, 0);
    return kill(pid, sig);
  }

  void sync_storage() override { sync(); }

  int reboot_system(int command) override { return reboot(command); }

  [[noreturn]] void exit_process(int status) override { std::exit(status); }

  std::string host_path(const std::string& path) override { return path; }
};

LibcEffects libc_effects;
Effects* current = &libc_effects;

// ---- store batches ----

struct pending_batch {
  int scopes = 0;     // open store_batch scopes
  std::string input;  // the batch lines
  std::vector<std::string> command_lines;
};

pending_batch batch;
// Apart from the batch, so that it is set before any initialisation runs.
bool batching = true;

// A character a batch line may hold outside quotes and read as itself:
// those of plain shell words, and the brackets of "@type[N]" paths.
bool is_plain_batch_char(char c) {
  return c == '[' || c == ']' || shell_is_plain(std::string_view(&c, 1));
}

// One word of a batch line, read by the tool's batch parser as the word
// itself: plain words as they are, others single-quoted as for the shell.
std::string batch_word(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) plain = plain && is_plain_batch_char(c);
  return plain ? word : shell_quote(word);
}

bool holds_zero_byte(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word.find('\0') != std::string::npos) return true;
  }
  return false;
}

}  // namespace

Effects& fx() {
  store_batch_flush();
  return *current;
}

void store_command(std::vector<std::string> words, const std::string& command_line) {
  if (words.empty() || holds_zero_byte(words)) return;
  if (batch.scopes == 0 || !batching) {
    fx().run_program(words, command_line);
    return;
  }
  for (size_t i = 1; i < words.size(); ++i) {
    if (i > 1) batch.input += ' ';
    batch.input += batch_word(words[i]);
  }
  batch.input += '\n';
  batch.command_lines.push_back(command_line);
}

void store_batch_flush() {
  if (batch.command_lines.empty()) return;
  std::string input;
  std::vector<std::string> command_lines;
  input.swap(batch.input);
  command_lines.swap(batch.command_lines);
  current->run_program_input({"uci", "batch"}, input, command_lines);
}

store_batch::store_batch() {
  ++batch.scopes;
}

store_batch::~store_batch() {
  if (--batch.scopes == 0) store_batch_flush();
}

void set_store_batching(bool on) {
  batching = on;
}

void set_effects(Effects* effects) {
  store_batch_flush();
  current = effects ? effects : &libc_effects;
}
