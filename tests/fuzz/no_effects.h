// An Effects that does nothing, for fuzz targets: nothing a fuzzed request
// asks for may reach the host.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/effects.h"

class NoEffects : public Effects {
 public:
  int run(const std::string&) override { return 0; }
  int run_program(const std::vector<std::string>&, const std::string&) override { return 0; }
  int run_program_input(const std::vector<std::string>&, const std::string&,
                        const std::vector<std::string>&) override {
    return 0;
  }
  std::string capture(const std::string&, size_t) override { return {}; }
  std::string capture_status(const std::string&, int& status, size_t) override {
    status = -1;
    return {};
  }
  bool resolve_host(const std::string&, host_answer&) override { return false; }
  bool read_file(const std::string&, std::string&, size_t) override { return false; }
  bool write_file(const std::string&, const std::string&) override { return true; }
  bool remove_file(const std::string&) override { return true; }
  bool touch_file(const std::string&) override { return true; }
  bool exists(const std::string&) override { return false; }
  std::vector<std::string> list_dir(const std::string&) override { return {}; }
  int socket_ioctl(unsigned long, void*) override {
    errno = ENODEV;
    return -1;
  }
  time_t now() override { return 0; }
  int64_t monotonic_ms() override { return 0; }
  long long now_us() override { return 0; }
  void sleep_ms(unsigned) override {}
  bool random_bytes(void* buf, size_t n) override {
    std::memset(buf, 0x5a, n);
    return true;
  }
  int send_signal(pid_t, int) override { return 0; }
  void sync_storage() override {}
  int reboot_system(int) override { return 0; }
  [[noreturn]] void exit_process(int) override { std::abort(); }
  std::string host_path(const std::string& path) override { return "/nonexistent" + path; }
};
