// Quoting of text that goes into shell command lines.
#pragma once

#include <string>
#include <string_view>

// Returns text ready to stand as one shell word. Text made only of letters,
// digits and ._:/@%+=,- is returned unchanged, so ordinary values keep their
// plain command lines; anything else (including the empty text) is put in
// single quotes, with each ' written as '\''.
std::string shell_quote(std::string_view text);

// Escapes text for use inside a double-quoted shell word: a backslash goes
// before each ", $, ` and \.
std::string shell_dquote_escape(std::string_view text);
