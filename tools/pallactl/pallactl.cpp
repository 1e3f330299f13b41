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

#include "platform/owned_fd.h"
#include "tools/pallactl/pretty.h"

namespace {

enum Status { kOk = 0, kErrorReply = 1, kNoReply = 2, kUsage = 3 };

const char* const kUsageText =
    "usage: pallactl [OPTIONS] get SERVICE[/SUBPATH]\n"
    "       pallactl [OPTIONS] post SERVICE[/SUBPATH] < body.xml\n"
    "       pallactl [OPTIONS] raw < request\n"
    "       pallactl [OPTIONS] login USER PASSWORD\n"
    "       pallactl [OPTIONS] passwd USER OLD_PASSWORD NEW_PASSWORD\n"
    "Sends one request to the agent and prints its reply. login and passwd\n"
    "hex-encode the passwords (other local users can see a command line).\n"
    "Options: --socket PATH (default /tmp/route), --timeout SECONDS (default 120,\n"
    "0 = none), --pretty (one element per line).\n"
    "Services: network wireless dhcp time system log firewall vlan storage mgt ddns\n"
    "  wifidog clcloud changemode superauth dbmode; GET only: uplink usb;\n"
    "  POST only: login passwd. The request reference is docs/requests.md.\n"
    "Exit status: 0 a reply (a document, or a result envelope with code 0),\n"
    "1 a result envelope with another code (code and message on stderr),\n"
    "2 no reply (no connection, closed without one, time-out), 3 usage error.\n";

// The agent reads at most this much of a request; more is closed unanswered.
constexpr size_t kRequestLimit = 16384;

struct Options {
  const char* socket_path = "/tmp/route";
  long timeout_seconds = 120;
  bool pretty = false;
  const char* verb = nullptr;
  const char* target = nullptr;
  // login: user, password; passwd: user, old password, new password.
  const char* const* words = nullptr;
  int word_count = 0;
};

bool is_verb(const char* verb, const char* name) {
  return !strcmp(verb, name);
}

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
  if (is_verb(opt.verb, "raw")) return i == argc;
  opt.words = argv + i;
  opt.word_count = argc - i;
  if (is_verb(opt.verb, "login")) return opt.word_count == 2 && *opt.words[0];
  if (is_verb(opt.verb, "passwd")) return opt.word_count == 3 && *opt.words[0];
  if (!is_verb(opt.verb, "get") && !is_verb(opt.verb, "post")) return false;
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

// Appends text with the characters XML gives a meaning escaped.
bool append_escaped(Buffer& out, const char* text) {
  for (; *text; ++text) {
    const char* entity = *text == '&'   ? "&amp;"
                         : *text == '<' ? "&lt;"
                         : *text == '>' ? "&gt;"
                                        : nullptr;
    if (!(entity ? out.append_str(entity) : out.append(text, 1))) return false;
  }
  return true;
}

// Appends each byte of text as two hex digits, the way passwords travel.
bool append_hex(Buffer& out, const char* text) {
  static const char digits[] = "0123456789abcdef";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    char pair[2] = {digits[*p >> 4], digits[*p & 15]};
    if (!out.append(pair, 2)) return false;
  }
  return true;
}

bool append_element(Buffer& out, const char* name, const char* text, bool hex) {
  return out.append_str("<") && out.append_str(name) && out.append_str(">") &&
         (hex ? append_hex(out, text) : append_escaped(out, text)) && out.append_str("</") &&
         out.append_str(name) && out.append_str(">");
}

// The body of a login or password change, passwords hex-encoded.
bool build_account_body(const Options& opt, Buffer& request) {
  const char* const* w = opt.words;
  if (is_verb(opt.verb, "login")) {
    return request.append_str("<LOGIN>") && append_element(request, "USER_NAME", w[0], false) &&
           append_element(request, "PASSWD", w[1], true) && request.append_str("</LOGIN>");
  }
  return request.append_str("<PASSWD>") && append_element(request, "USER_NAME", w[0], false) &&
         append_element(request, "OLD_PASSWD", w[1], true) &&
         append_element(request, "PASSWD", w[2], true) && request.append_str("</PASSWD>");
}

// Builds the request text; false when memory or standard input fails.
bool build_request(const Options& opt, Buffer& request) {
  if (is_verb(opt.verb, "raw")) return read_stdin(request);
  bool account = is_verb(opt.verb, "login") || is_verb(opt.verb, "passwd");
  bool is_post = account || is_verb(opt.verb, "post");
  if (!request.append_str(is_post ? "POST /route/" : "GET /route/")) return false;
  if (!request.append_str(account ? opt.verb : opt.target) || !request.append_str("\n"))
    return false;
  if (account && !build_account_body(opt, request)) return false;
  if (is_verb(opt.verb, "post") && !read_stdin(request)) return false;
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

enum class Received { kAll, kTimedOut, kFailed };

// Reads until the agent closes the connection.
Received receive_reply(int fd, long timeout_seconds, Buffer& reply) {
  long long deadline = now_ms() + timeout_seconds * 1000LL;
  char chunk[16384];
  for (;;) {
    int wait_ms = -1;
    if (timeout_seconds > 0) {
      long long left = deadline - now_ms();
      if (left <= 0) return Received::kTimedOut;
      wait_ms = left > 60000 ? 60000 : static_cast<int>(left);
    }
    pollfd pfd = {fd, POLLIN, 0};
    int ready = poll(&pfd, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Received::kFailed;
    if (ready == 0) continue;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    // A reset after a complete request means the agent dropped it: no reply.
    if (n < 0) return errno == ECONNRESET ? Received::kAll : Received::kFailed;
    if (n == 0) return Received::kAll;
    if (!reply.append(chunk, static_cast<size_t>(n))) return Received::kFailed;
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

// Prints the reply, ended by a line feed when it does not end with one.
bool print_reply(const Buffer& reply, bool pretty) {
  if (reply.size() == 0) return true;
  Buffer indented;
  const Buffer* shown = &reply;
  if (pretty && looks_like_xml(reply.data(), reply.size())) {
    if (!pretty_print_xml(reply.data(), reply.size(), indented)) return false;
    shown = &indented;
  }
  if (!write_stdout(shown->data(), shown->size())) return false;
  return ends_with_newline(*shown) || write_stdout("\n", 1);
}

// True when the reply is a result envelope with a code other than 0; its code
// and message are then reported on standard error.
bool error_envelope(const Buffer& reply) {
  const char* text = reply.data();
  const char* code = static_cast<const char*>(memmem(text, reply.size(), "<RESULT><CODE>", 14));
  const char* end = text + reply.size();
  const char* tail = "</MESSAGE></RESULT>";
  size_t tail_len = strlen(tail);
  if (!code || reply.size() < tail_len || memcmp(end - tail_len, tail, tail_len) != 0) return false;
  char* after = nullptr;
  long value = strtol(code + 14, &after, 10);
  const char* head = "</CODE><MESSAGE>";
  if (after == code + 14 || strncmp(after, head, strlen(head)) != 0) return false;
  const char* message = after + strlen(head);
  if (value == 0 || message > end - tail_len) return false;
  fprintf(stderr, "pallactl: code %ld: %.*s\n", value, static_cast<int>(end - tail_len - message),
          message);
  return true;
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
    return kNoReply;
  }
  if (request.size() > kRequestLimit)
    fprintf(stderr,
            "pallactl: warning: the request has %zu bytes; the agent reads at most %zu and "
            "closes a longer one without a reply\n",
            request.size(), kRequestLimit);
  OwnedFd conn(connect_to(opt.socket_path));
  if (conn.get() < 0) {
    fprintf(stderr, "pallactl: %s: %s\n", opt.socket_path, strerror(errno));
    return kNoReply;
  }
  if (!send_all(conn.get(), request.data(), request.size())) {
    fprintf(stderr, "pallactl: sending: %s\n", strerror(errno));
    return kNoReply;
  }
  // Half-close: a request the agent never sees complete ends instead of hanging.
  shutdown(conn.get(), SHUT_WR);
  Buffer reply;
  Received received = receive_reply(conn.get(), opt.timeout_seconds, reply);
  if (!print_reply(reply, opt.pretty)) return kNoReply;
  if (received == Received::kTimedOut) {
    fputs("pallactl: no complete reply before the time-out\n", stderr);
    return kNoReply;
  }
  if (received == Received::kFailed) {
    perror("pallactl: receiving");
    return kNoReply;
  }
  if (reply.size() == 0) {
    fputs("pallactl: the agent closed the connection without a reply\n", stderr);
    return kNoReply;
  }
  return error_envelope(reply) ? kErrorReply : kOk;
}
