// The production line's query interface on the request socket.
#pragma once

// Answers a factory query; query points at the first "opcode" of the request.
// The reply is written to fd (CGI header and JSON, not a result envelope).
int factory_request(int fd, char* query);
