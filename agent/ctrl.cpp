#include "agent/ctrl.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/effects.h"
#include "platform/owned_fd.h"

namespace {

// Every connection of the process binds its own local path.
int open_counter = 0;

bool set_path(sockaddr_un& address, const std::string& path) {
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int bind_to(int fd, const sockaddr_un& address) {
  return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// A file left by an earlier process with the same id is removed and the bind
// tried once more.
bool bind_local(int fd, const sockaddr_un& local) {
  if (bind_to(fd, local) == 0) return true;
  if (errno != EADDRINUSE) return false;
  unlink(local.sun_path);
  return bind_to(fd, local) == 0;
}

// 1 when the socket is readable within timeout_ms, 0 on timeout, or the
// negative result of a failing wait.
int wait_readable(int fd, int timeout_ms) {
  pollfd watch{fd, POLLIN, 0};
  for (;;) {
    int ready = poll(&watch, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready;
  }
}

bool is_event(const char* message, ssize_t length) {
  return length > 0 && message[0] == '<';
}

int request_ok(ctrl_conn* conn, const char* command, int timeout_ms) {
  char reply[10];
  size_t reply_len = sizeof reply;
  int result = ctrl_request(conn, command, std::strlen(command), reply, &reply_len, timeout_ms);
  if (result < 0) return result;
  return reply_len == 3 && std::memcmp(reply, "OK\n", 3) == 0 ? 0 : -1;
}

}  // namespace

ctrl_conn* ctrl_open(const char* ctrl_path) {
  std::unique_ptr<ctrl_conn> conn(new (std::nothrow) ctrl_conn{});
  if (!conn) return nullptr;
  OwnedFd sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) return nullptr;

  char local[64];
  snprintf(local, sizeof local, "/tmp/wpa_ctrl_%d-%d", static_cast<int>(getpid()), ++open_counter);
  if (!set_path(conn->local, fx().host_path(local)) || !bind_local(sock.get(), conn->local))
    return nullptr;

  const auto* destination = reinterpret_cast<const sockaddr*>(&conn->destination);
  if (!set_path(conn->destination, fx().host_path(ctrl_path)) ||
      connect(sock.get(), destination, sizeof conn->destination) != 0) {
    unlink(conn->local.sun_path);
    return nullptr;
  }
  conn->socket = sock.release();
  return conn.release();
}

void ctrl_close(ctrl_conn* conn) {
  if (!conn) return;
  unlink(conn->local.sun_path);
  close(conn->socket);
  delete conn;
}

int ctrl_request(ctrl_conn* conn, const char* cmd, size_t cmd_len, char* reply, size_t* reply_len,
                 int timeout_ms) {
  if (send(conn->socket, cmd, cmd_len, MSG_NOSIGNAL) < 0) return -1;
  // A peer that keeps sending events must not hold the caller past the limit.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    int ready = wait_readable(conn->socket, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0) return ready;
    if (ready == 0) return -2;
    ssize_t got = recv(conn->socket, reply, *reply_len, 0);
    if (got < 0) return static_cast<int>(got);
    if (is_event(reply, got)) continue;
    *reply_len = static_cast<size_t>(got);
    return 0;
  }
}

int ctrl_attach(ctrl_conn* conn, int timeout_ms) {
  return request_ok(conn, "ATTACH", timeout_ms);
}

int ctrl_detach(ctrl_conn* conn, int timeout_ms) {
  return request_ok(conn, "DETACH", timeout_ms);
}

int ctrl_pending(ctrl_conn* conn) {
  return wait_readable(conn->socket, 0) > 0 ? 1 : 0;
}

int ctrl_recv(ctrl_conn* conn, char* reply, size_t* reply_len) {
  ssize_t got = recv(conn->socket, reply, *reply_len, 0);
  if (got < 0) return static_cast<int>(got);
  *reply_len = static_cast<size_t>(got);
  return 0;
}
