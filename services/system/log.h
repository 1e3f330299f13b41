// The "log" service: the system and kernel logs, the remote syslog target,
// and clearing either log; and the Base64 coding its log documents use.
#pragma once

#include <cstddef>
#include <string>

// Standard Base64 (alphabet A-Z a-z 0-9 + /, '=' padding) with a line feed
// after every 72 characters and one more at the end when the last line is
// not empty. Empty input gives the empty text.
std::string base64_encode(const char* data, size_t length);
