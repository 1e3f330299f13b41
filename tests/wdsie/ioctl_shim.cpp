// Stands in for the wireless driver when preloaded into tessel. Each private
// ioctl (0x8BF3, 0x8BF4) appends one line to $TESSEL_SHIM_LOG:
//   <request> <ifname> <length> <flags> <socket kind> <hex of the first length buffer bytes>
// A get (0x8BF3) then receives the bytes of $TESSEL_SHIM_ANSWER (hex) at
// buffer offset 8. With $TESSEL_SHIM_FAIL set, private ioctls fail with -1.
// Everything else goes to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/wireless.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

constexpr unsigned long kGetIoctl = 0x8BF3;
constexpr unsigned long kSetIoctl = 0x8BF4;
constexpr size_t kAnswerOffset = 8;

const char* socket_kind(int fd) {
  int domain = 0;
  int type = 0;
  socklen_t size = sizeof domain;
  getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size);
  size = sizeof type;
  getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size);
  bool cloexec = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
  if (domain == AF_INET && type == SOCK_DGRAM) return cloexec ? "inet-dgram-cloexec" : "inet-dgram";
  return "other";
}

void log_request(int fd, unsigned long request, const iwreq* record) {
  const char* path = std::getenv("TESSEL_SHIM_LOG");
  if (!path) return;
  FILE* log = std::fopen(path, "a");
  if (!log) return;
  std::fprintf(log, "%lx %.16s %u %u %s ", request, record->ifr_name, record->u.data.length,
               record->u.data.flags, socket_kind(fd));
  const unsigned char* data = static_cast<const unsigned char*>(record->u.data.pointer);
  for (unsigned i = 0; i < record->u.data.length; ++i) std::fprintf(log, "%02x", data[i]);
  std::fputs("\n", log);
  std::fclose(log);
}

void serve_answer(iwreq* record) {
  const char* hex = std::getenv("TESSEL_SHIM_ANSWER");
  if (!hex) return;
  unsigned char* answer = static_cast<unsigned char*>(record->u.data.pointer) + kAnswerOffset;
  size_t room = record->u.data.length - kAnswerOffset;
  for (size_t i = 0; i < room && hex[2 * i] && hex[2 * i + 1]; ++i) {
    char byte_text[3] = {hex[2 * i], hex[2 * i + 1], 0};
    answer[i] = static_cast<unsigned char>(std::strtoul(byte_text, nullptr, 16));
  }
}

int stand_in_driver(int fd, unsigned long request, void* argument) {
  iwreq* record = static_cast<iwreq*>(argument);
  log_request(fd, request, record);
  if (std::getenv("TESSEL_SHIM_FAIL")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if (request == kGetIoctl) serve_answer(record);
  return 0;
}

int dispatch(const char* real_name, int fd, unsigned long request, void* argument) {
  if (request == kGetIoctl || request == kSetIoctl) return stand_in_driver(fd, request, argument);
  auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, real_name));
  if (!real) {
    errno = ENOSYS;
    return -1;
  }
  return real(fd, request, argument);
}

// Creates the log at load time so the tests can tell the preload took effect.
__attribute__((constructor)) void announce_preload() {
  if (const char* path = std::getenv("TESSEL_SHIM_LOG")) {
    if (FILE* log = std::fopen(path, "a")) std::fclose(log);
  }
}

}  // namespace

// Both names: 32-bit C libraries with a 64-bit time_t call the second one.
extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return dispatch("ioctl", fd, request, argument);
}

extern "C" int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return dispatch("__ioctl_time64", fd, request, argument);
}
