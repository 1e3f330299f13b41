#include "platform/effects.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/random.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

class LibcEffects : public Effects {
 public:
  int run(const std::string& command) override { return std::system(command.c_str()); }

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

  time_t now() override { return std::time(nullptr); }

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

  int send_signal(pid_t pid, int sig) override { return kill(pid, sig); }

  void sync_storage() override { sync(); }

  int reboot_system(int command) override { return reboot(command); }

  [[noreturn]] void exit_process(int status) override { std::exit(status); }

  std::string host_path(const std::string& path) override { return path; }
};

LibcEffects libc_effects;
Effects* current = &libc_effects;

}  // namespace

Effects& fx() {
  return *current;
}

void set_effects(Effects* effects) {
  current = effects ? effects : &libc_effects;
}
