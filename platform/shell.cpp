#include "platform/shell.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool is_operator(char c) {
  return c != '\0' && std::strchr("|&;<>()$`", c) != nullptr;
}

// Reads a double-quoted piece starting after the opening quote; returns the
// position after the closing quote, or npos when it is unterminated or holds
// an expansion.
size_t read_double_quoted(std::string_view text, size_t i, std::string& word) {
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') return i + 1;
    if (c == '$' || c == '`') return std::string_view::npos;
    if (c == '\\' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == '\n') {
        i += 2;
        continue;
      }
      if (next == '"' || next == '$' || next == '`' || next == '\\') {
        word += next;
        i += 2;
        continue;
      }
    }
    word += c;
    ++i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string shell_quote(std::string_view text) {
  if (shell_is_plain(text)) return std::string(text);
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

std::optional<std::vector<std::string>> shell_words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (is_blank(c)) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
      ++i;
    } else if (c == '#' && !in_word) {
      break;
    } else if (c == '\\') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        i += 2;
        continue;
      }
      in_word = true;
      word += i + 1 < text.size() ? text[i + 1] : '\\';
      i += 2;
    } else if (c == '\'') {
      size_t close = text.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      word.append(text.substr(i + 1, close - i - 1));
      in_word = true;
      i = close + 1;
    } else if (c == '"') {
      i = read_double_quoted(text, i + 1, word);
      if (i == std::string_view::npos) return std::nullopt;
      in_word = true;
    } else if (is_operator(c)) {
      return std::nullopt;
    } else {
      word += c;
      in_word = true;
      ++i;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}
