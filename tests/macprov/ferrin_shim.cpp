// Preloaded into ferrin by the tests. Appends every system() command line to
// $FERRIN_SHIM_LOG (created at load time, so the tests can tell the preload
// took effect) and, as $FERRIN_SHIM_FAIL says, makes a set-up step fail:
// "socket", "setsockopt1" (the first setsockopt) or "setsockopt2" (the second).
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool failing(const char* step) {
  const char* fail = std::getenv("FERRIN_SHIM_FAIL");
  return fail && std::strcmp(fail, step) == 0;
}

template <typename Function>
Function real_function(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int count_setsockopt() {
  static int calls = 0;
  return ++calls;
}

int fake_setsockopt(const char* real_name, int fd, int level, int name, const void* value,
                    unsigned length) {
  char step[32];
  std::snprintf(step, sizeof step, "setsockopt%d", count_setsockopt());
  if (failing(step)) {
    errno = EPERM;
    return -1;
  }
  using Setsockopt = int (*)(int, int, int, const void*, unsigned);
  auto real = real_function<Setsockopt>(real_name);
  return real ? real(fd, level, name, value, length) : -1;
}

__attribute__((constructor)) void announce_preload() {
  if (const char* path = std::getenv("FERRIN_SHIM_LOG")) {
    if (FILE* log = std::fopen(path, "a")) std::fclose(log);
  }
}

}  // namespace

extern "C" int socket(int domain, int type, int protocol) {
  if (failing("socket")) {
    errno = EMFILE;
    return -1;
  }
  auto real = real_function<int (*)(int, int, int)>("socket");
  return real ? real(domain, type, protocol) : -1;
}

// Both names: 32-bit C libraries with a 64-bit time_t call the second one.
extern "C" int setsockopt(int fd, int level, int name, const void* value, unsigned length) {
  return fake_setsockopt("setsockopt", fd, level, name, value, length);
}

extern "C" int __setsockopt64(int fd, int level, int name, const void* value, unsigned length) {
  return fake_setsockopt("__setsockopt64", fd, level, name, value, length);
}

extern "C" int system(const char* command) {
  if (const char* path = std::getenv("FERRIN_SHIM_LOG")) {
    if (FILE* log = std::fopen(path, "a")) {
      std::fprintf(log, "%s\n", command ? command : "(null)");
      std::fclose(log);
    }
  }
  auto real = real_function<int (*)(const char*)>("system");
  return real ? real(command) : -1;
}
