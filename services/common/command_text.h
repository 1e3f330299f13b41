// Short texts that outside commands print, collected the way the services
// show them.
#pragma once

#include <string>

// Longest text command_text collects.
inline constexpr size_t command_text_limit = 511;

// Runs the command and collects its standard output into output (cleared
// first), read as pieces that end at a line feed or after 511 characters. A
// piece's final line feed becomes a blank. Pieces are appended while the total
// stays within command_text_limit; the first piece that would not fit ends
// the collection. Returns the command's exit status, or -1 when it could not
// be started (output then stays empty).
int command_text(const std::string& command, std::string& output);

// Removes white space (as isspace() defines it) from the end and then from
// the start of the text.
void trim(std::string& text);
