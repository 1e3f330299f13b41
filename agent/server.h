// The request server of the worker: the socket "/tmp/route", routing of one
// request per connection to a service handler, and the reply primitives every
// handler uses.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "platform/paths.h"

// GET handler: sub_path points at the '/' after the service name, cut at the
// next '/', or is null; rest is what follows that next '/', or null. The
// handler writes its own reply; its result is ignored.
using get_handler = int (*)(int fd, char* sub_path, size_t sub_path_len, char* rest);
// POST handler: body starts at the line feed that ends the request line;
// sub_path points at the '/' after the service name and runs on into the body
// (compare it over body - sub_path characters), or is null. Returning 0 gets
// the code 0 "OK" envelope written; any other result means it has replied.
using post_handler = int (*)(int fd, char* body, size_t body_len, char* sub_path);

struct get_service {
  const char* name;
  get_handler handler;
};
struct post_service {
  const char* name;
  post_handler handler;
};

// Both tables end with a pair of null entries.
extern const get_service get_services[];
extern const post_service post_services[];

enum result_code { RESULT_OK, NO_SERVICE, NOT_SUPPORT_SERVICE, FORMAT_ERROR, NOT_SUPPORT_OPERATE };
extern const char* const result_messages[];

// Writes the result envelope (512 bytes at most) with one send and returns code.
int reply_result(int fd, int code, const char* message);
// Replies with a code and its default message.
int reply_code(int fd, result_code code);
// Writes a whole reply; returns the number of bytes written.
ssize_t send_all(int fd, const char* data, size_t length);
ssize_t send_all(int fd, const std::string& document);
// Appends printf-formatted text to a reply document being built. Documents
// grow as needed, so a reply is never cut in the middle.
void appendf(std::string& document, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Routes one complete request (terminator already removed; text[length] is
// overwritten with a zero byte) and replies on fd.
void route_request(int fd, char* text, size_t length);
void route_request_with(int fd, char* text, size_t length, const get_service* gets,
                        const post_service* posts);

// The worker body: serves requests on socket_path until the event loop ends.
// Returns only on failure.
int server_run(const char* socket_path = paths::route_socket);
