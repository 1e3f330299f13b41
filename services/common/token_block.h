// The token block: System V shared memory that the login writes and other
// local processes (the web gateway) read to check login tokens.
//
// 68 bytes: slot 0 at offset 0 holds "root" and slot 1 at offset 32 holds
// "admin", each directly followed by the 16 lowercase hex digits of the
// account's token and a NUL; offset 64 holds the time of the latest login as
// a 32-bit signed count of seconds in the processor's byte order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstring>

inline constexpr key_t token_block_key = 3134;
inline constexpr size_t token_block_size = 68;
inline constexpr size_t token_slot_size = 32;
inline constexpr size_t token_time_offset = 64;
inline constexpr size_t token_hex_digits = 16;

// The slot of an account name, or -1 for a name that has none.
inline int token_slot_of(const char* name) {
  if (std::strcmp(name, "root") == 0) return 0;
  if (std::strcmp(name, "admin") == 0) return 1;
  return -1;
}
