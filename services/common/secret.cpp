#include "services/common/secret.h"

#include <cstring>

#include "agent/config.h"

bool hex_password_valid(const char* hex) {
  if (!hex || !*hex) return false;
  for (const char* pair = hex; *pair; pair += 2) {
    if (hex_digit_value(pair[0]) < 0 || hex_digit_value(pair[1]) < 0) return false;
    if (pair[0] == '0' && pair[1] == '0') return false;
  }
  return true;
}

bool decode_secret(const char* hex, char (&out)[secret_size]) {
  // Only the first secret_size bytes decide, so decode just their digits.
  char digits[2 * secret_size + 1] = {};
  std::strncpy(digits, hex, 2 * secret_size);
  char decoded[secret_size + 1] = {};
  hex_decode(digits, decoded);
  size_t length = std::strlen(decoded);
  if (length > password_limit) return false;
  std::memset(out, 0, sizeof out);
  std::memcpy(out, decoded, length);
  return true;
}

bool same_secret(const char (&a)[secret_size], const char (&b)[secret_size]) {
  return same_bytes(a, b, secret_size);
}
