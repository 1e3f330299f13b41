// Sends one request through the real router and service tables, as the
// worker does after reading it, and returns the reply.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "agent/server.h"

// request is the text without its terminating blank line.
inline std::string routed_reply(std::string request) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return "socketpair failed";
  request.push_back('\0');
  route_request(fds[0], request.data(), request.size() - 1);
  close(fds[0]);
  std::string reply;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[1], chunk, sizeof chunk)) > 0) reply.append(chunk, static_cast<size_t>(n));
  close(fds[1]);
  return reply;
}
