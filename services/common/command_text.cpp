#include "services/common/command_text.h"

#include <cctype>

#include "platform/effects.h"

namespace {

// The next piece of out from start: up to and including a line feed, at most
// command_text_limit characters, and like a C string read no further than a
// zero byte.
std::string next_piece(const std::string& out, size_t& start) {
  size_t end = out.find('\n', start);
  end = end == std::string::npos ? out.size() : end + 1;
  if (end - start > command_text_limit) end = start + command_text_limit;
  std::string piece = out.substr(start, end - start);
  start = end;
  return piece.substr(0, piece.find('\0'));
}

bool is_space(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int command_text(const std::string& command, std::string& output) {
  output.clear();
  int status = -1;
  std::string out = fx().capture_status(command, status);
  size_t start = 0;
  while (start < out.size()) {
    std::string piece = next_piece(out, start);
    if (!piece.empty() && piece.back() == '\n') piece.back() = ' ';
    if (output.size() + piece.size() > command_text_limit) break;
    output += piece;
  }
  return status;
}

void trim(std::string& text) {
  size_t end = text.size();
  while (end > 0 && is_space(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && is_space(text[start])) ++start;
  text = text.substr(start, end - start);
}
