// Feeds arbitrary request texts to the router. Handlers are spies and every
// side effect is swallowed, so nothing a request asks for reaches the host.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "agent/server.h"
#include "platform/effects.h"
#include "tests/fuzz/no_effects.h"

namespace {

int spy_get(int fd, char* sub_path, size_t len, char* rest) {
  if (sub_path && std::strlen(sub_path) != len) abort();
  if (rest) (void)std::strlen(rest);
  return send_all(fd, "x", 1);
}

int spy_post(int, char* body, size_t len, char* sub_path) {
  if (std::strlen(body) != len || body[0] != '\n') abort();
  if (sub_path && sub_path > body) abort();
  return 0;
}

const get_service gets[] = {{"network", spy_get}, {"system", spy_get}, {nullptr, nullptr}};
const post_service posts[] = {{"network", spy_post}, {"login", spy_post}, {nullptr, nullptr}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NoEffects no_effects;
  set_effects(&no_effects);
  if (size > 16382) return 0;
  static char buffer[16384];
  std::memcpy(buffer, data, size);
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  route_request_with(fds[0], buffer, size, gets, posts);
  char sink[1024];
  while (recv(fds[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  close(fds[0]);
  close(fds[1]);
  return 0;
}
