// Quoting of text that goes into shell command lines.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Returns text ready to stand as one shell word. Text made only of letters,
// digits and ._:/@%+=,- is returned unchanged, so ordinary values keep their
// plain command lines; anything else (including the empty text) is put in
// single quotes, with each ' written as '\''.
std::string shell_quote(std::string_view text);
// True when shell_quote leaves the text as it is. Inline, so that the small
// tools take it without the rest of this unit (and the C++ library it needs).
inline bool shell_is_plain(std::string_view text) {
  bool plain = !text.empty();
  for (char c : text) {
    bool letter_or_digit =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    plain = plain && (letter_or_digit || (c != '\0' && std::strchr("._:/@%+=,-", c) != nullptr));
  }
  return plain;
}

// Escapes text for use inside a double-quoted shell word: a backslash goes
// before each ", $, ` and \.
std::string shell_dquote_escape(std::string_view text);

// Splits a command line into words as /bin/sh would for a simple command:
// blanks separate words; single quotes keep everything; inside double quotes
// a backslash escapes " $ ` \ and newline; outside quotes a backslash keeps
// the next character; an unquoted # starts a comment. Returns nothing for
// text that needs more than word splitting (operators such as ; | & < > ( ),
// $ or ` expansions, unterminated quotes).
std::optional<std::vector<std::string>> shell_words(std::string_view command);
