// GB2312 (EUC-CN) to UTF-8 and back, with the mapping of glibc's "GB2312"
// converter (gb2312_table.inc, written by make_table.cpp beside this file),
// so that names convert the same on the host and on every board, whatever its
// C library. Like that converter, a conversion stops at the first character
// that does not convert or does not fit, and the output keeps what was
// converted before it.
#include <cstdint>

#include "agent/config.h"

namespace {

#include "agent/gb2312/gb2312_table.inc"

constexpr unsigned first_byte = 0xA1;
constexpr unsigned last_byte = 0xFE;
constexpr unsigned bytes_per_row = 94;

// Code point of a GB2312 pair, 0 when it has none.
uint32_t decode_pair(unsigned lead, unsigned trail) {
  if (lead < first_byte || lead > last_byte || trail < first_byte || trail > last_byte) return 0;
  unsigned row = gb2312_row_of_lead[lead - first_byte];
  if (row == 0xFF) return 0;
  return gb2312_codes[row * bytes_per_row + trail - first_byte];
}

// GB2312 pair of a code point as lead << 8 | trail, 0 when it has none.
unsigned encode_code(uint32_t code) {
  size_t low = 0;
  size_t high = sizeof gb2312_by_code / sizeof gb2312_by_code[0];
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    unsigned position = gb2312_by_code[middle];
    uint32_t found = gb2312_codes[position];
    if (found == code) {
      return unsigned{gb2312_lead_of_row[position / bytes_per_row]} << 8 |
             (first_byte + position % bytes_per_row);
    }
    if (found < code)
      low = middle + 1;
    else
      high = middle;
  }
  return 0;
}

// Writes a code point below 0x10000 as UTF-8; the number of bytes.
size_t put_utf8(uint32_t code, unsigned char* out) {
  if (code < 0x80) {
    out[0] = static_cast<unsigned char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | code >> 6);
    out[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 2;
  }
  out[0] = static_cast<unsigned char>(0xE0 | code >> 12);
  out[1] = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
  return 3;
}

// Reads one well-formed UTF-8 character (no overlong form, no surrogate,
// nothing past U+10FFFF); its length, 0 when the bytes are not one.
size_t get_utf8(const unsigned char* in, size_t left, uint32_t* code) {
  unsigned char first = in[0];
  if (first < 0x80) {
    *code = first;
    return 1;
  }
  size_t length = first >= 0xC2 && first <= 0xDF   ? 2
                  : first >= 0xE0 && first <= 0xEF ? 3
                  : first >= 0xF0 && first <= 0xF4 ? 4
                                                   : 0;
  if (length == 0 || length > left) return 0;
  uint32_t value = first & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((in[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (in[i] & 0x3F);
  }
  static constexpr uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

// Language tags, which glibc's converter drops without a trace.
bool is_tag(uint32_t code) {
  return code >= 0xE0000 && code <= 0xE007F;
}

bool bad_arguments(const char* in, size_t in_len, const char* out, size_t out_size) {
  return (!in && in_len > 0) || (!out && out_size > 0);
}

}  // namespace

int gb2312_to_utf8(const char* in, size_t in_len, char* out, size_t out_size) {
  if (bad_arguments(in, in_len, out, out_size)) return -1;
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  size_t written = 0;
  for (size_t i = 0; i < in_len;) {
    uint32_t code = bytes[i];
    size_t used = 1;
    if (code >= 0x80) {
      code = i + 1 < in_len ? decode_pair(bytes[i], bytes[i + 1]) : 0;
      if (code == 0) return -1;
      used = 2;
    }
    unsigned char utf8[3];
    size_t length = put_utf8(code, utf8);
    if (out_size - written < length) return -1;
    for (size_t k = 0; k < length; ++k) out[written++] = static_cast<char>(utf8[k]);
    i += used;
  }
  return 0;
}

int utf8_to_gb2312(const char* in, size_t in_len, char* out, size_t out_size) {
  if (bad_arguments(in, in_len, out, out_size)) return -1;
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  size_t written = 0;
  for (size_t i = 0; i < in_len;) {
    uint32_t code = 0;
    size_t used = get_utf8(bytes + i, in_len - i, &code);
    if (used == 0) return -1;
    i += used;
    if (is_tag(code)) continue;
    if (code < 0x80) {
      if (written == out_size) return -1;
      out[written++] = static_cast<char>(code);
      continue;
    }
    unsigned pair = encode_code(code);
    if (pair == 0 || out_size - written < 2) return -1;
    out[written++] = static_cast<char>(pair >> 8);
    out[written++] = static_cast<char>(pair & 0xFF);
  }
  return 0;
}
