// The UTF-8 rules texts in XML documents follow: which bytes form one
// well-formed character. Shared by the request reader, which refuses a body
// that breaks them, and by the reply escaping, which mends a text that does.
#pragma once

#include <cstddef>
#include <cstring>

// Length (1-4) of the well-formed UTF-8 character at p, of which left bytes
// are there; 0 when p does not start one (a stray continuation byte, a lead
// byte without its continuations, an overlong form, a surrogate, a code point
// beyond U+10FFFF, or left == 0).
inline size_t utf8_char_length(const char* p, size_t left) {
  if (left == 0) return 0;
  auto byte = [p](size_t i) { return static_cast<unsigned char>(p[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || left < length) return 0;
  // The second byte's range excludes overlong forms, surrogates and code
  // points beyond U+10FFFF.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Position of the first byte of text (length bytes) that does not belong to
// a well-formed UTF-8 character; length when there is none. ASCII is
// skipped a machine word at a time.
inline size_t utf8_invalid_at(const char* text, size_t length) {
  constexpr size_t high_bits = ~size_t{0} / 0xFF * 0x80;  // 0x80 in every byte
  size_t i = 0;
  while (i < length) {
    size_t word = 0;
    if (length - i >= sizeof word) {
      std::memcpy(&word, text + i, sizeof word);
      if ((word & high_bits) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t n = utf8_char_length(text + i, length - i);
    if (n == 0) return i;
    i += n;
  }
  return length;
}
