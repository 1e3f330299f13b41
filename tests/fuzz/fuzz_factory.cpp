// Feeds arbitrary query texts to the factory interface. Every side effect is
// swallowed (no command runs, no file is read or written), so an opcode 2
// query cannot reset the host.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/factory.h"
#include "platform/effects.h"
#include "tests/fuzz/no_effects.h"

namespace {

void check_pairs(const std::vector<query_pair>& pairs) {
  if (pairs.size() > query_pair_limit) abort();
  for (const query_pair& pair : pairs) {
    // Names and values never grow by decoding and hold no zero byte.
    if (pair.name.size() > query_name_limit || pair.value.size() > query_value_limit) abort();
    if (pair.name.find('\0') != std::string::npos || pair.value.find('\0') != std::string::npos)
      abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NoEffects no_effects;
  set_effects(&no_effects);
  if (size > 16382) return 0;
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  check_pairs(query_parse(text.data()));

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  factory_request(fds[0], text.data());
  char sink[4096];
  while (recv(fds[1], sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  close(fds[0]);
  close(fds[1]);
  return 0;
}
