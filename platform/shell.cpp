#include "platform/shell.h"

#include <cstring>

namespace {
bool is_plain_char(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("._:/@%+=,-", c) != nullptr;
}
}  // namespace

std::string shell_quote(std::string_view text) {
  bool plain = !text.empty();
  for (char c : text) plain = plain && is_plain_char(c);
  if (plain) return std::string(text);
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}

std::string shell_dquote_escape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}
