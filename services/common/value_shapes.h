// The shapes request texts must have where they become words of a command
// or of a firewall option (a port, an IPv4 range, a MAC address, ...). A
// text of any other shape could add words there (a blank) or options (a
// leading '-'), so it is refused before anything changes.
#pragma once

#include <string_view>

// No control character (line feeds included) and no DEL.
bool free_of_controls(std::string_view text);
// One or more decimal digits, nothing else.
bool decimal_number(std::string_view text);
// A port from 1 to 65535 in decimal digits.
bool port_number(std::string_view text);
// A port, or a range "LOW-HIGH" of two ports with LOW not above HIGH.
bool port_or_range(std::string_view text);
// A dotted IPv4 address.
bool ipv4_address(std::string_view text);
// Two dotted IPv4 addresses joined by one '-', nothing else.
bool ipv4_range(std::string_view text);
// Six groups of one or two hexadecimal digits joined by ':'.
bool mac_address(std::string_view text);
// One protocol name or number: letters and digits.
bool protocol_word(std::string_view text);
// A host name or address: letters, digits, '.', '-' and '_', not starting
// with '-'.
bool host_name(std::string_view text);
// One word of visible ASCII characters without quotes or backslashes, not
// starting with '-' (a path, a URL, an identifier).
bool plain_word(std::string_view text);
// Items separated by any of the separator characters (an empty list
// passes), each of the shape that item_valid accepts.
bool list_of(std::string_view text, std::string_view separators,
             bool (*item_valid)(std::string_view));
