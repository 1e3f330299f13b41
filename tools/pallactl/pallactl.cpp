// pallactl: sends one request to the agent's request socket and prints the
// reply. Written against the C library only (no C++ runtime), so the binary
// stays small on the device.
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "tools/pallactl/pretty.h"

namespace {

enum Status { kOk = 0, kNoConnection = 1, kUsage = 2, kTimedOut = 3 };

const char* const kUsageText =
    "usage: pallactl [--socket PATH] [--timeout SECONDS] [--pretty] get SERVICE[/SUBPATH]\n"
    "       pallactl [--socket PATH] [--timeout SECONDS] [--pretty] post SERVICE[/SUBPATH] "
    "< body.xml\n"
    "       pallactl [--socket PATH] [--timeout SECONDS] [--pretty] raw < request\n"
    "Sends one request to the agent (default socket /tmp/route) and prints its reply.\n"
    "Exit status: 0 reply read (it may be empty), 1 no connection or I/O error,\n"
    "2 usage error, 3 no complete reply within the time-out (default 120 s, 0 = none).\n";

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Options {
  const char* socket_path = "/tmp/route";
  long timeout_seconds = 120;
  bool pretty = false;
  const char* verb = nullptr;
  const char* target = nullptr;
};

bool parse_seconds(const char* text, long& out) {
  char* end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (errno || end == text || *end || value < 0) return false;
  out = value;
  return true;
}

bool parse_options(int argc, char** argv, Options& opt) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* arg = argv[i];
    if (!strcmp(arg, "--pretty")) {
      opt.pretty = true;
    } else if ((!strcmp(arg, "--socket") || !strcmp(arg, "-s")) && i + 1 < argc) {
      opt.socket_path = argv[++i];
    } else if ((!strcmp(arg, "--timeout") || !strcmp(arg, "-t")) && i + 1 < argc) {
      if (!parse_seconds(argv[++i], opt.timeout_seconds)) return false;
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  opt.verb = argv[i++];
  if (!strcmp(opt.verb, "raw")) return i == argc;
  if (strcmp(opt.verb, "get") && strcmp(opt.verb, "post")) return false;
  if (i + 1 != argc) return false;
  opt.target = argv[i];
  while (*opt.target == '/') ++opt.target;
  // A line break in the path would end the request line early.
  return *opt.target && !strpbrk(opt.target, "\r\n");
}

bool read_stdin(Buffer& out) {
  char chunk[4096];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!out.append(chunk, static_cast<size_t>(n))) return false;
  }
}

bool ends_with_newline(const Buffer& b) {
  return b.size() > 0 && b.data()[b.size() - 1] == '\n';
}

// Builds the request text; false when memory or standard input fails.
bool build_request(const Options& opt, Buffer& request) {
  if (!strcmp(opt.verb, "raw")) return read_stdin(request);
  bool is_post = !strcmp(opt.verb, "post");
  if (!request.append_str(is_post ? "POST /route/" : "GET /route/")) return false;
  if (!request.append_str(opt.target) || !request.append_str("\n")) return false;
  if (is_post && !read_stdin(request)) return false;
  // The agent sees the end of a request when the bytes end with a blank line.
  for (int i = 0; i < 2; ++i) {
    bool has_blank_line = request.size() >= 2 && request.data()[request.size() - 2] == '\n' &&
                          ends_with_newline(request);
    if (!has_blank_line && !request.append_str("\n")) return false;
  }
  return true;
}

int connect_to(const char* path) {
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (strlen(path) >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  strcpy(addr.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool send_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Reads until the agent closes the connection.
Status receive_reply(int fd, long timeout_seconds, Buffer& reply) {
  long long deadline = now_ms() + timeout_seconds * 1000LL;
  char chunk[16384];
  for (;;) {
    int wait_ms = -1;
    if (timeout_seconds > 0) {
      long long left = deadline - now_ms();
      if (left <= 0) return kTimedOut;
      wait_ms = left > 60000 ? 60000 : static_cast<int>(left);
    }
    pollfd pfd = {fd, POLLIN, 0};
    int ready = poll(&pfd, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return kNoConnection;
    if (ready == 0) continue;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    // A reset after a complete request means the agent dropped it: no reply.
    if (n < 0) return errno == ECONNRESET ? kOk : kNoConnection;
    if (n == 0) return kOk;
    if (!reply.append(chunk, static_cast<size_t>(n))) return kNoConnection;
  }
}

bool write_stdout(const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(STDOUT_FILENO, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool print_reply(const Buffer& reply, bool pretty) {
  if (!pretty || !looks_like_xml(reply.data(), reply.size())) {
    return write_stdout(reply.data(), reply.size());
  }
  Buffer indented;
  if (!pretty_print_xml(reply.data(), reply.size(), indented)) return false;
  return write_stdout(indented.data(), indented.size());
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (argc > 1 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
    fputs(kUsageText, stdout);
    return kOk;
  }
  if (!parse_options(argc, argv, opt)) {
    fputs(kUsageText, stderr);
    return kUsage;
  }
  Buffer request;
  if (!build_request(opt, request)) {
    perror("pallactl: reading the request");
    return kNoConnection;
  }
  Fd conn(connect_to(opt.socket_path));
  if (conn.get() < 0) {
    fprintf(stderr, "pallactl: %s: %s\n", opt.socket_path, strerror(errno));
    return kNoConnection;
  }
  if (!send_all(conn.get(), request.data(), request.size())) {
    fprintf(stderr, "pallactl: sending: %s\n", strerror(errno));
    return kNoConnection;
  }
  // Half-close: a request the agent never sees complete ends instead of hanging.
  shutdown(conn.get(), SHUT_WR);
  Buffer reply;
  Status status = receive_reply(conn.get(), opt.timeout_seconds, reply);
  if (!print_reply(reply, opt.pretty)) return kNoConnection;
  if (status == kTimedOut) fputs("pallactl: no complete reply before the time-out\n", stderr);
  if (status == kNoConnection) perror("pallactl: receiving");
  return status;
}
