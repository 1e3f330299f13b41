// Text pieces of the network service's documents and files, kept apart from
// the handlers so they can be checked on their own.
#pragma once

#include <string>

// One <element>address</element> per blank-separated piece of a stored
// address list. Every single blank separates, so two blanks give an empty
// element between them; a trailing blank adds nothing; an empty list gives
// one empty element.
std::string address_list(const std::string& source, const char* element);
