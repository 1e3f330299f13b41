// The "storage" service: three text slots in the worker's memory where a
// client parks data and fetches it again.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/server.h"
#include "agent/services.h"
#include "agent/worker_state.h"

namespace {

constexpr size_t slot_size = sizeof worker().storage_slots[0];

// The slot a sub-path names: its leading decimal number (after optional
// white space and sign, as atoi reads it), read from the text after the '/'
// up to the end of the line. Null unless that number is 1, 2 or 3.
char* named_slot(const char* sub_path, size_t length) {
  std::string digits(sub_path + 1, length - 1);
  digits = digits.substr(0, digits.find('\n'));
  errno = 0;
  long index = std::strtol(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || index < 1 || index > 3) return nullptr;
  return worker().storage_slots[index - 1];
}

}  // namespace

int storage_get(int fd, char* sub_path, size_t sub_path_len, char* /*rest*/) {
  if (!sub_path) return reply_result(fd, FORMAT_ERROR, "need index");
  const char* slot = named_slot(sub_path, sub_path_len);
  if (!slot) return reply_result(fd, FORMAT_ERROR, "Invalid index");
  send_all(fd, slot, std::strlen(slot));
  return 0;
}

// The body is stored as the request server hands it over, starting with the
// line feed that ends the request line.
int storage_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (!sub_path) return reply_code(fd, FORMAT_ERROR);
  char* slot = named_slot(sub_path, static_cast<size_t>(body - sub_path));
  if (!slot) return reply_result(fd, FORMAT_ERROR, "Invlid index");
  if (body_len < 1 || body_len >= slot_size) return reply_result(fd, FORMAT_ERROR, "Invlid  long");
  std::memset(slot, 0, slot_size);
  std::memcpy(slot, body, body_len);
  return 0;
}
