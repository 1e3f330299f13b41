// Passwords as requests carry them (hex-encoded) and as the store keeps them
// (plain text), shared by the login and the super-user check.
#pragma once

#include <cstddef>

// Longest password a request may carry, after hex decoding.
inline constexpr size_t password_limit = 127;
// A password buffer: the text, zero-filled behind it.
inline constexpr size_t secret_size = password_limit + 1;

// True when hex is a password text: a non-empty, even number of hex digits
// whose decoded text holds no zero byte. Anything else counts as no password
// at all, so that no request can name or store an empty one.
bool hex_password_valid(const char* hex);

// Decodes a hex-encoded password into out, zero-filled behind the text.
// False when the decoded text is longer than password_limit.
bool decode_secret(const char* hex, char (&out)[secret_size]);

// Compares every byte, so the time taken does not tell where the first
// difference lies.
inline bool same_bytes(const void* a, const void* b, size_t length) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  unsigned difference = 0;
  for (size_t i = 0; i < length; ++i) difference |= static_cast<unsigned>(x[i] ^ y[i]);
  return difference == 0;
}
bool same_secret(const char (&a)[secret_size], const char (&b)[secret_size]);
