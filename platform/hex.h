// Hex digits, for the agent and the simulated device alike.
#pragma once

// 0-15 for a hex digit, -1 for anything else.
inline int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
