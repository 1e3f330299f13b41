#include "agent/server.h"

#include <event2/event.h>
#include <event2/util.h>
#include <fcntl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "agent/factory.h"
#include "agent/request_limit.h"
#include "agent/services.h"
#include "platform/clock.h"
#include "platform/effects.h"

const get_service get_services[] = {
    {"network", network_get},
    {"wireless", wireless_get},
    {"dhcp", dhcp_get},
    {"time", time_get},
    {"system", system_get},
    {"log", log_get},
    {"firewall", firewall_get},
    {"vlan", vlan_get},
    {"uplink", uplink_get},
    {"storage", storage_get},
    {"mgt", mgt_get},
    {"ddns", ddns_get},
    {"wifidog", wifidog_get},
    {"usb", usb_get},
    {"clcloud", clcloud_get},
    {"changemode", changemode_get},
    {"superauth", superauth_get},
    {"dbmode", dbmode_get},
    {nullptr, nullptr},
};

const post_service post_services[] = {
    {"network", network_post},
    {"wireless", wireless_post},
    {"dhcp", dhcp_post},
    {"time", time_post},
    {"system", system_post},
    {"log", log_post},
    {"login", login_post},
    {"passwd", passwd_post},
    {"firewall", firewall_post},
    {"vlan", vlan_post},
    {"storage", storage_post},
    {"mgt", mgt_post},
    {"ddns", ddns_post},
    {"wifidog", wifidog_post},
    {"clcloud", clcloud_post},
    {"changemode", changemode_post},
    {"superauth", superauth_post},
    {"dbmode", dbmode_post},
    {nullptr, nullptr},
};

const char* const result_messages[] = {"OK", "NO SERVICE", "NOT SUPPORT SERVICE", "FORMAT ERROR",
                                       "NOT SUPPORT OPERATE"};

namespace {

constexpr size_t request_buffer_size = request_limit;
constexpr int highest_served_fd = 1024;
constexpr int listen_backlog = 16;
// A client that reads nothing of its reply for this long is given up, so it
// cannot hold the single worker thread forever.
constexpr int write_retry_limit = 500;

// A connection that has not sent its whole request this long after it was
// accepted is closed, so idle clients cannot hold the descriptors forever.
constexpr long request_deadline_ms = 10000;

// One accepted connection that has not completed its request yet. Every such
// connection is in the pending list, oldest first (accept order, so also
// deadline order). The buffer comes last, so a short request touches one page
// of the record.
struct conn_state {
  size_t fill = 0;
  event* read_event = nullptr;
  evutil_socket_t fd = -1;
  int64_t deadline_ms = 0;
  conn_state* older = nullptr;
  conn_state* newer = nullptr;
  char buffer[request_buffer_size];
};

// The pending list and the one timer that fires at its oldest deadline.
struct pending_list {
  conn_state* oldest = nullptr;
  conn_state* newest = nullptr;
  event* deadline_timer = nullptr;
} pending;

void on_read(evutil_socket_t fd, short, void* arg);
// Ends a connection at once: served when its whole request has arrived in the
// meantime (while a handler ran), else closed without a reply.
void end_connection(conn_state* conn);

enum class receive_state { complete, waiting, closed };

// Arms the timer for the oldest deadline, or leaves it idle when nothing waits.
void arm_deadline_timer() {
  if (!pending.deadline_timer) return;
  if (!pending.oldest) {
    event_del(pending.deadline_timer);
    return;
  }
  int64_t wait_ms = pending.oldest->deadline_ms - monotonic_ms();
  if (wait_ms < 0) wait_ms = 0;
  timeval wait{static_cast<time_t>(wait_ms / 1000),
               static_cast<suseconds_t>(wait_ms % 1000 * 1000)};
  event_add(pending.deadline_timer, &wait);
}

void pending_add(conn_state* conn) {
  conn->deadline_ms = monotonic_ms() + request_deadline_ms;
  conn->older = pending.newest;
  if (pending.newest)
    pending.newest->newer = conn;
  else
    pending.oldest = conn;
  pending.newest = conn;
  if (pending.oldest == conn) arm_deadline_timer();
}

void pending_remove(conn_state* conn) {
  bool was_oldest = pending.oldest == conn;
  (conn->older ? conn->older->newer : pending.oldest) = conn->newer;
  (conn->newer ? conn->newer->older : pending.newest) = conn->older;
  conn->older = conn->newer = nullptr;
  if (was_oldest) arm_deadline_timer();
}

conn_state* conn_alloc(event_base* base, evutil_socket_t fd) {
  auto* conn = new (std::nothrow) conn_state;
  if (!conn) return nullptr;
  conn->fd = fd;
  conn->read_event = event_new(base, fd, EV_READ | EV_PERSIST, on_read, conn);
  if (!conn->read_event) {
    delete conn;
    return nullptr;
  }
  return conn;
}

void conn_close(evutil_socket_t fd, conn_state* conn) {
  pending_remove(conn);
  shutdown(fd, SHUT_RDWR);
  close(fd);
  event_free(conn->read_event);
  delete conn;
}

// Ends every connection whose deadline has passed.
void on_deadline(evutil_socket_t, short, void*) {
  int64_t now = monotonic_ms();
  while (pending.oldest && pending.oldest->deadline_ms <= now) end_connection(pending.oldest);
  arm_deadline_timer();
}

// Makes room for a new connection at the descriptor limit by ending the
// oldest one still waiting for its request; false when there is none.
bool close_oldest_pending() {
  if (!pending.oldest) return false;
  end_connection(pending.oldest);
  return true;
}

void wait_10ms() {
  timeval pause{0, 10000};
  select(0, nullptr, nullptr, nullptr, &pause);
}

bool ends_with_blank_line(const conn_state& conn) {
  return conn.fill >= 2 && conn.buffer[conn.fill - 1] == '\n' && conn.buffer[conn.fill - 2] == '\n';
}

// An exact match of the table name against the service name of the request.
template <typename Service>
const Service* find_service(const Service* table, const char* name, size_t name_len) {
  for (const Service* s = table; s->name; ++s) {
    size_t n = std::strlen(s->name);
    if (n == name_len && std::strncmp(s->name, name, n) == 0) return s;
  }
  return nullptr;
}

void get_dispatch(int fd, char* service, char* sub_path, const get_service* table) {
  char* rest = nullptr;
  if (sub_path) {
    char* slash = std::strchr(sub_path + 1, '/');
    if (slash) {
      *slash = '\0';
      rest = slash + 1;
    }
  }
  size_t name_len = sub_path ? static_cast<size_t>(sub_path - service) : std::strlen(service);
  const get_service* entry = find_service(table, service, name_len);
  if (!entry) {
    reply_code(fd, NO_SERVICE);
    return;
  }
  entry->handler(fd, sub_path, sub_path ? std::strlen(sub_path) : 0, rest);
}

void post_dispatch(int fd, char* service, char* line_feed, const post_service* table) {
  char* sub_path = std::strchr(service, '/');
  if (sub_path && sub_path > line_feed) sub_path = nullptr;
  char* name_end = sub_path ? sub_path : line_feed;
  const post_service* entry = find_service(table, service, static_cast<size_t>(name_end - service));
  if (!entry) {
    reply_code(fd, NO_SERVICE);
    return;
  }
  if (entry->handler(fd, line_feed, std::strlen(line_feed), sub_path) == 0)
    reply_code(fd, RESULT_OK);
}

// The service name starts after the first '/' that follows the first "route";
// null when there is no such '/'.
char* service_start(char* route) {
  char* slash = std::strchr(route, '/');
  return slash ? slash + 1 : nullptr;
}

// True when word occurs in the request line (the text before the first line
// feed). The method is decided there only, so a body that happens to hold the
// letters GET cannot turn a change request into a read.
bool request_line_has(const char* text, const char* word) {
  const char* line_end = std::strchr(text, '\n');
  size_t line_len = line_end ? static_cast<size_t>(line_end - text) : std::strlen(text);
  size_t word_len = std::strlen(word);
  for (size_t i = 0; i + word_len <= line_len; ++i) {
    if (std::memcmp(text + i, word, word_len) == 0) return true;
  }
  return false;
}

void route_get(int fd, char* text, const get_service* gets) {
  if (char* route = std::strstr(text, "route")) {
    char* service = service_start(route);
    if (!service) {
      reply_code(fd, FORMAT_ERROR);
      return;
    }
    get_dispatch(fd, service, std::strchr(service, '/'), gets);
  } else if (char* opcode = std::strstr(text, "opcode")) {
    factory_request(fd, opcode);
  }
}

void route_post(int fd, char* text, const post_service* posts) {
  char* route = std::strstr(text, "route");
  if (!route) return;
  char* service = service_start(route);
  char* line_feed = service ? std::strchr(service, '\n') : nullptr;
  if (!line_feed) {
    reply_code(fd, FORMAT_ERROR);
    return;
  }
  post_dispatch(fd, service, line_feed, posts);
}

// Receives what has arrived; closes the connection (without a reply) when the
// peer has gone or the request can never be complete.
receive_state conn_receive(evutil_socket_t fd, conn_state* conn) {
  for (;;) {
    if (conn->fill == request_buffer_size) {
      // Full without a terminator: the request can never be complete.
      conn_close(fd, conn);
      return receive_state::closed;
    }
    ssize_t got = recv(fd, conn->buffer + conn->fill, request_buffer_size - conn->fill, 0);
    if (got > 0) {
      conn->fill += static_cast<size_t>(got);
      if (ends_with_blank_line(*conn)) return receive_state::complete;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return receive_state::waiting;
    if (got < 0) perror("recv");
    // Peer closed, or a receive error.
    conn_close(fd, conn);
    return receive_state::closed;
  }
}

void conn_serve(evutil_socket_t fd, conn_state* conn) {
  // The terminator is overwritten by the zero byte that ends the text, so the
  // full buffer still holds a terminated request.
  route_request(fd, conn->buffer, conn->fill - 2);
  fprintf(stderr, "\nclose client %d\n", fd);
  conn_close(fd, conn);
}

void on_read(evutil_socket_t fd, short, void* arg) {
  auto* conn = static_cast<conn_state*>(arg);
  if (conn_receive(fd, conn) == receive_state::complete) conn_serve(fd, conn);
}

void end_connection(conn_state* conn) {
  evutil_socket_t fd = conn->fd;
  switch (conn_receive(fd, conn)) {
    case receive_state::complete:
      conn_serve(fd, conn);
      break;
    case receive_state::waiting:
      conn_close(fd, conn);
      break;
    case receive_state::closed:
      break;
  }
}

// A descriptor the worker serves: fd itself, or, above the highest served
// number, a lower copy made after room was freed; -1 when there is no room.
int served_descriptor(int fd) {
  if (fd <= highest_served_fd) return fd;
  int low = close_oldest_pending() ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
  close(fd);
  if (low > highest_served_fd) {
    close(low);
    return -1;
  }
  return low;
}

void do_accept(evutil_socket_t listener, short, void* arg) {
  auto* base = static_cast<event_base*>(arg);
  sockaddr_storage address;
  socklen_t address_len = sizeof address;
  int fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &address_len,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  // At the descriptor limit the oldest waiting connection gives way, so idle
  // clients cannot lock every other client out.
  while (fd < 0 && (errno == EMFILE || errno == ENFILE) && close_oldest_pending()) {
    address_len = sizeof address;
    fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &address_len,
                 SOCK_NONBLOCK | SOCK_CLOEXEC);
  }
  if (fd < 0) {
    perror("accept");
    return;
  }
  fd = served_descriptor(fd);
  if (fd < 0) return;
  conn_state* conn = conn_alloc(base, fd);
  if (!conn) {
    // Out of memory: end the worker; the supervisor starts a fresh one.
    fputs("pallad: cannot allocate a connection\n", stderr);
    std::abort();
  }
  pending_add(conn);
  event_add(conn->read_event, nullptr);
  printf("Client fd:%d\n", fd);
}

int open_listener(const char* socket_path) {
  sockaddr_un address{};
  size_t path_len = std::strlen(socket_path);
  if (path_len >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    perror("bind");
    return -1;
  }
  unlink(socket_path);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) {
    perror("socket");
    return -1;
  }
  evutil_make_socket_nonblocking(fd);
  evutil_make_socket_closeonexec(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_path, path_len);
  auto address_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_len);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), address_len) < 0) {
    perror("bind");
    close(fd);
    return -1;
  }
  if (listen(fd, listen_backlog) < 0) {
    perror("listen");
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int reply_result(int fd, int code, const char* message) {
  store_batch_flush();  // a reply leaves after the store changes made before it
  char reply[512];
  int n = snprintf(reply, sizeof reply,
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?><RESULT><CODE>%d</CODE>"
                   "<MESSAGE>%s</MESSAGE></RESULT>",
                   code, message);
  if (n < 0) return code;
  size_t len = static_cast<size_t>(n) < sizeof reply ? static_cast<size_t>(n) : sizeof reply - 1;
  if (send(fd, reply, len, MSG_NOSIGNAL) < 0) perror("send");
  return code;
}

int reply_code(int fd, result_code code) {
  return reply_result(fd, code, result_messages[code]);
}

ssize_t send_all(int fd, const char* data, size_t length) {
  store_batch_flush();  // a reply leaves after the store changes made before it
  size_t written = 0;
  int idle_retries = 0;
  while (written < length) {
    ssize_t n = send(fd, data + written, length - written, MSG_NOSIGNAL);
    if (n > 0) {
      written += static_cast<size_t>(n);
      idle_retries = 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && idle_retries++ < write_retry_limit) {
      puts("Write error");
      wait_10ms();
      continue;
    }
    break;  // peer gone, or it stopped reading: the reply is lost
  }
  return static_cast<ssize_t>(written);
}

ssize_t send_all(int fd, const std::string& document) {
  return send_all(fd, document.data(), document.size());
}

void appendf(std::string& document, const char* format, ...) {
  char chunk[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(chunk, sizeof chunk, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof chunk) {
    document.append(chunk, static_cast<size_t>(n));
    return;
  }
  size_t old_size = document.size();
  document.resize(old_size + static_cast<size_t>(n) + 1);
  va_start(args, format);
  vsnprintf(&document[old_size], static_cast<size_t>(n) + 1, format, args);
  va_end(args);
  document.resize(old_size + static_cast<size_t>(n));
}

void route_request_with(int fd, char* text, size_t length, const get_service* gets,
                        const post_service* posts) {
  store_batch store_changes;  // the request's store changes, one `uci batch` at a time
  text[length] = '\0';
  fputs(text, stderr);
  if (request_line_has(text, "GET"))
    route_get(fd, text, gets);
  else if (request_line_has(text, "POST"))
    route_post(fd, text, posts);
  else
    reply_code(fd, NOT_SUPPORT_SERVICE);
}

void route_request(int fd, char* text, size_t length) {
  route_request_with(fd, text, length, get_services, post_services);
}

int server_run(const char* socket_path) {
  event_base* base = event_base_new();
  if (!base) return 1;
  int listener = open_listener(socket_path);
  if (listener < 0) {
    event_base_free(base);
    return 1;
  }
  event* accept_event = event_new(base, listener, EV_READ | EV_PERSIST, do_accept, base);
  pending.deadline_timer = evtimer_new(base, on_deadline, nullptr);
  if (accept_event && pending.deadline_timer) {
    event_add(accept_event, nullptr);
    event_base_dispatch(base);
  }
  if (pending.deadline_timer) event_free(pending.deadline_timer);
  pending.deadline_timer = nullptr;
  if (accept_event) event_free(accept_event);
  close(listener);
  event_base_free(base);
  return 1;
}
