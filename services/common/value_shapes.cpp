#include "services/common/value_shapes.h"

#include <algorithm>
#include <string>

#include "agent/config.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value of a port text; 0 when it is not one.
long port_value(std::string_view text) {
  if (!decimal_number(text)) return 0;
  long value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
    if (value > 65535) return 0;
  }
  return value;
}

}  // namespace

bool free_of_controls(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return true;
}

bool decimal_number(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!is_digit(c)) return false;
  return true;
}

bool port_number(std::string_view text) {
  return port_value(text) != 0;
}

bool port_or_range(std::string_view text) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) return port_number(text);
  long low = port_value(text.substr(0, dash));
  long high = port_value(text.substr(dash + 1));
  return low != 0 && high != 0 && low <= high;
}

bool ipv4_address(std::string_view text) {
  return ipv4_valid(std::string(text).c_str()) == 1;
}

bool ipv4_range(std::string_view text) {
  size_t dash = text.find('-');
  return dash != std::string_view::npos && ipv4_address(text.substr(0, dash)) &&
         ipv4_address(text.substr(dash + 1));
}

bool mac_address(std::string_view text) {
  size_t group_digits = 0;
  int groups = 1;
  for (char c : text) {
    if (c == ':') {
      if (group_digits == 0) return false;
      group_digits = 0;
      ++groups;
    } else if (hex_digit_value(c) < 0 || ++group_digits > 2) {
      return false;
    }
  }
  return groups == 6 && group_digits > 0;
}

bool protocol_word(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!is_letter(c) && !is_digit(c)) return false;
  return true;
}

bool host_name(std::string_view text) {
  if (text.empty() || text[0] == '-') return false;
  for (char c : text)
    if (!is_letter(c) && !is_digit(c) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

bool plain_word(std::string_view text) {
  if (text.empty() || text[0] == '-') return false;
  for (char c : text) {
    if (c <= ' ' || c > '~' || c == '\'' || c == '"' || c == '`' || c == '\\') return false;
  }
  return true;
}

bool list_of(std::string_view text, std::string_view separators,
             bool (*item_valid)(std::string_view)) {
  for (size_t start = text.find_first_not_of(separators); start != std::string_view::npos;) {
    size_t end = std::min(text.find_first_of(separators, start), text.size());
    if (!item_valid(text.substr(start, end - start))) return false;
    start = text.find_first_not_of(separators, end);
  }
  return true;
}
