// libsim-wext.so: preloaded into the agent inside the simulated device, it
// answers the agent's wireless ioctls from the radio state under /sim/radio
// (wext_answers.h), where a board's kernel and radio driver would. Every
// other ioctl goes on to the C library.
//
// On loading into the agent it takes itself out of LD_PRELOAD, so the
// commands the agent starts run without it.
#include <dlfcn.h>
#include <errno.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/radio/wext_answers.h"

namespace {

using ioctl_function = int (*)(int, unsigned long, ...);

constexpr const char* library_name = "libsim-wext.so";

// LD_PRELOAD without this library (entries are separated by blanks or colons).
std::string preload_without_us(const char* list) {
  std::string kept;
  std::string text = list;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(" :", pos);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty() || entry.find(library_name) != std::string::npos) continue;
    kept += (kept.empty() ? "" : " ") + entry;
  }
  return kept;
}

__attribute__((constructor)) void leave_children_alone() {
  // Programs that start the agent (a tracer) keep it for the agent.
  if (std::strcmp(program_invocation_short_name, "pallad") != 0) return;
  const char* list = std::getenv("LD_PRELOAD");
  if (!list) return;
  std::string kept = preload_without_us(list);
  if (kept.empty())
    unsetenv("LD_PRELOAD");
  else
    setenv("LD_PRELOAD", kept.c_str(), 1);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  if (simradio::is_wireless_request(request)) {
    int saved = errno;
    simradio::SystemFiles files;
    simradio::RadioState state(files);
    int result = simradio::answer_wireless_ioctl(state, request, argument);
    if (result == 0) errno = saved;
    return result;
  }
  static auto next = reinterpret_cast<ioctl_function>(dlsym(RTLD_NEXT, "ioctl"));
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd, request, argument);
}
