// Reading the white-space separated fields of a line the way sscanf's "%Ns"
// reads them, without scanf itself: a static program carries scanf whole,
// its floating-point reader included (about 12 KB on the boards).
#pragma once

#include <cctype>
#include <cstddef>

// Skips white space and copies the word after it to out, at most size - 1
// bytes of it (a longer word runs on into the next field, as with "%Ns").
// Returns where reading stops, or null when no word is left; out is then
// untouched.
inline const char* scan_word(const char* p, char* out, size_t size) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') return nullptr;
  size_t length = 0;
  while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p)) && length + 1 < size)
    out[length++] = *p++;
  out[length] = '\0';
  return p;
}
