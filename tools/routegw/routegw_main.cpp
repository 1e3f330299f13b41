// routegw: started by the web server for every request under /cgi-bin/route
// (CGI). Lets only logged-in sessions through to the agent's socket, limits
// login attempts, and serves the backup download and the uploads for restore
// and upgrade itself. Its state (session records, failed logins) lives in
// files in RAM under locks, since every request is a process of its own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/request_limit.h"
#include "platform/owned_fd.h"
#include "platform/paths.h"
#include "tools/routegw/gateway.h"

extern char** environ;

namespace {

constexpr char state_dir[] = "/var/run/routegw";
constexpr char sessions_lock[] = "/var/run/routegw/sessions.lock";
constexpr char logins_lock[] = "/var/run/routegw/logins.lock";
constexpr char logins_file[] = "/var/run/routegw/logins";
constexpr char backup_link[] = "/www/bakfile.bin";
constexpr char upload_dir[] = "/tmp/";
constexpr char idle_option[] = "system.@system[0].web_idle";
// Room /tmp keeps beyond an upload, for the system's own files.
constexpr unsigned long long upload_reserve = 1024 * 1024;
// No wait on the agent or the client holds the process longer than this.
constexpr int agent_timeout_seconds = 60;
constexpr unsigned process_time_limit = 600;
constexpr size_t login_reply_limit = 4096;
constexpr size_t chunk_size = 8192;

char chunk[chunk_size];

bool write_all(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Reads until length bytes have come or the input ends; returns the count.
size_t read_full(int fd, char* data, size_t length) {
  size_t got = 0;
  while (got < length) {
    ssize_t n = read(fd, data + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// Writes the status line and the headers every answer carries; extra holds
// more header lines, each ended by CR LF.
void send_head(int status, const char* content_type, const char* extra = "") {
  char head[1024];
  int n = snprintf(head, sizeof head,
                   "Status: %d %s\r\nContent-Type: %s\r\nCache-Control: no-store\r\n"
                   "X-Content-Type-Options: nosniff\r\n"
                   "Content-Security-Policy: default-src 'self'\r\n%s\r\n",
                   status, status_text(status), content_type, extra);
  if (n > 0) write_all(1, head, static_cast<size_t>(n) < sizeof head ? n : sizeof head - 1);
}

constexpr char xml_type[] = "application/xml; charset=utf-8";

// Answers the gateway's own result envelope for status.
int answer(int status, const char* extra = "") {
  char document[256];
  size_t length = refusal_document(status, document, sizeof document);
  send_head(status, xml_type, extra);
  write_all(1, document, length);
  return 0;
}

long long boot_seconds() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return now.tv_sec;
}

// An exclusive lock on a file of the state folder, held while in scope.
class state_lock {
 public:
  explicit state_lock(const char* path)
      : fd_(open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    while (fd_.ok() && flock(fd_.get(), LOCK_EX) < 0 && errno == EINTR) {
    }
  }
  bool held() const { return fd_.ok(); }

 private:
  OwnedFd fd_;
};

bool read_small_file(const char* path, char* out, size_t out_size) {
  OwnedFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.ok()) return false;
  size_t got = read_full(fd.get(), out, out_size - 1);
  out[got] = '\0';
  return got > 0;
}

// Replaces path's content as a whole (a new file renamed over the old).
bool replace_file(const char* path, const char* text, size_t length) {
  char temporary[160];
  snprintf(temporary, sizeof temporary, "%s.new", path);
  OwnedFd fd(open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.ok() || !write_all(fd.get(), text, length)) return false;
  fd.reset();
  return rename(temporary, path) == 0;
}

void record_path(const char* user, char (&path)[128]) {
  snprintf(path, sizeof path, "%s/session-%s", state_dir, user);
}

bool read_record(const char* user, gw_record& record) {
  char path[128];
  char text[128];
  record_path(user, path);
  return read_small_file(path, text, sizeof text) && parse_record(text, record);
}

bool write_record(const char* user, const gw_record& record) {
  char path[128];
  char text[128];
  record_path(user, path);
  size_t length = format_record(record, text, sizeof text);
  return length > 0 && replace_file(path, text, length);
}

bool read_token_block(unsigned char (&block)[token_block_size]) {
  int id = shmget(token_block_key, 0, 0);
  if (id < 0) return false;
  void* address = shmat(id, nullptr, SHM_RDONLY);
  if (address == reinterpret_cast<void*>(-1)) return false;
  std::memcpy(block, address, sizeof block);
  shmdt(address);
  return true;
}

// True when the request's cookie names a session that holds; its record then
// counts this request as use.
bool session_holds(const gw_request& request, gw_session& session) {
  unsigned char block[token_block_size];
  if (!parse_session_cookie(request.cookie, session) || !read_token_block(block)) return false;
  state_lock lock(sessions_lock);
  gw_record record;
  bool known = lock.held() && read_record(session.user, record);
  long long now = boot_seconds();
  if (!session_valid(session, block, known ? &record : nullptr, now)) return false;
  record.last_used = now;
  write_record(session.user, record);
  return true;
}

// The idle limit from the store, read once per login with the store's tool.
long long stored_idle_limit() {
  int out[2];
  if (pipe2(out, O_CLOEXEC) < 0) return gw_default_idle;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  char* argv[] = {const_cast<char*>("uci"), const_cast<char*>("-q"), const_cast<char*>("get"),
                  const_cast<char*>(idle_option), nullptr};
  pid_t pid = -1;
  int failed = posix_spawn(&pid, "/sbin/uci", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char value[32] = {};
  if (!failed) read_full(out[0], value, sizeof value - 1);
  close(out[0]);
  if (!failed) waitpid(pid, nullptr, 0);
  return idle_limit_of(value);
}

// A connection to the agent, or an invalid one when it cannot be reached.
OwnedFd connect_agent() {
  OwnedFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.ok()) return fd;
  timeval timeout{agent_timeout_seconds, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, paths::route_socket, sizeof address.sun_path - 1);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) fd.reset();
  return fd;
}

// The agent's request text of this request, its body read from standard
// input; 0 when the body is short or cannot go to the agent.
size_t build_agent_request(const gw_request& request, bool post, char (&text)[request_limit]) {
  static char body[request_limit];
  size_t length = post ? static_cast<size_t>(request.content_length) : 0;
  if (length > body_limit(request.path)) return 0;
  if (read_full(0, body, length) != length) return 0;
  return agent_request(text, sizeof text, post, request.path, request.query, body, length);
}

// Sends the request to the agent and passes its reply on as the answer.
int forward(const char* text, size_t length) {
  OwnedFd agent = connect_agent();
  if (!agent.ok()) return answer(503);
  if (!write_all(agent.get(), text, length)) return answer(502);
  size_t got = read_full(agent.get(), chunk, sizeof chunk);
  if (got == 0) return answer(502);
  send_head(200, xml_type);
  while (got > 0 && write_all(1, chunk, got)) got = read_full(agent.get(), chunk, sizeof chunk);
  return 0;
}

int serve_agent(const gw_request& request, bool post) {
  static char text[request_limit];
  size_t length = build_agent_request(request, post, text);
  if (length == 0) return answer(400);
  return forward(text, length);
}

int serve_login(const gw_request& request) {
  static char text[request_limit];
  size_t length = build_agent_request(request, true, text);
  if (length == 0) return answer(400);

  // Held until the attempt is counted, so parallel attempts cannot slip past
  // the limit.
  state_lock lock(logins_lock);
  if (!lock.held()) return answer(500);
  gw_login_limit limit;
  char saved[256];
  if (read_small_file(logins_file, saved, sizeof saved)) parse_login_limit(saved, limit);
  long long now = boot_seconds();
  if (login_blocked(limit, now)) return answer(429);

  OwnedFd agent = connect_agent();
  if (!agent.ok()) return answer(503);
  char reply[login_reply_limit];
  size_t got =
      write_all(agent.get(), text, length) ? read_full(agent.get(), reply, sizeof reply - 1) : 0;
  if (got == 0) return answer(502);
  reply[got] = '\0';

  gw_session session;
  bool logged_in = parse_login_reply(reply, session);
  // A success whose token cannot be read is not passed on: it holds the token.
  if (!logged_in && std::strstr(reply, "<CODE>0</CODE>")) return answer(500);
  if (!logged_in) {
    note_failed_login(limit, now);
    size_t saved_length = format_login_limit(limit, saved, sizeof saved);
    if (saved_length) replace_file(logins_file, saved, saved_length);
    send_head(200, xml_type);
    write_all(1, reply, got);
    return 0;
  }
  gw_record record;
  std::memcpy(record.token, session.token, sizeof record.token);
  record.idle_limit = stored_idle_limit();
  record.last_used = boot_seconds();
  {
    state_lock sessions(sessions_lock);
    if (!sessions.held() || !write_record(session.user, record)) return answer(500);
  }
  char cookie[160];
  snprintf(cookie, sizeof cookie,
           "Set-Cookie: session=%s:%s; Path=/cgi-bin/; HttpOnly; SameSite=Strict\r\n", session.user,
           session.token);
  return answer(200, cookie);
}

int serve_logout(const gw_session& session) {
  {
    state_lock lock(sessions_lock);
    char path[128];
    record_path(session.user, path);
    unlink(path);
  }
  return answer(200,
                "Set-Cookie: session=; Path=/cgi-bin/; HttpOnly; SameSite=Strict; Max-Age=0\r\n");
}

// The archive's own name when it is a plain one, else a generic one.
void download_name(char (&name)[256]) {
  char target[256];
  ssize_t n = readlink(backup_link, target, sizeof target - 1);
  target[n > 0 ? n : 0] = '\0';
  const char* base = std::strrchr(target, '/');
  base = base ? base + 1 : target;
  bool plain =
      *base && std::strlen(base) < sizeof name &&
      std::strspn(base, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
          std::strlen(base);
  snprintf(name, sizeof name, "%s", plain ? base : "backup.tar.gz");
}

int serve_download() {
  OwnedFd file(open(backup_link, O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!file.ok() || fstat(file.get(), &info) < 0 || !S_ISREG(info.st_mode)) return answer(404);
  char name[256];
  download_name(name);
  char extra[512];
  snprintf(extra, sizeof extra,
           "Content-Disposition: attachment; filename=\"%s\"\r\nContent-Length: %lld\r\n", name,
           static_cast<long long>(info.st_size));
  send_head(200, "application/octet-stream", extra);
  size_t got;
  while ((got = read_full(file.get(), chunk, sizeof chunk)) > 0 && write_all(1, chunk, got)) {
  }
  return 0;
}

bool room_in_tmp(long long length) {
  struct statvfs info {};
  if (statvfs(upload_dir, &info) < 0) return false;
  unsigned long long free_bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
  return free_bytes >= static_cast<unsigned long long>(length) + upload_reserve;
}

// Streams the body to /tmp/NAME (a new upload of a kind replaces the last)
// and answers the name to give the system service's Restore or Upgrade.
int serve_upload(const gw_request& request, const char* name) {
  if (!room_in_tmp(request.content_length)) return answer(507);
  char path[128];
  char partial[sizeof path + 8];
  snprintf(path, sizeof path, "%s%s", upload_dir, name);
  snprintf(partial, sizeof partial, "%s.part", path);
  // /tmp is open to every process: the file is made new, never one found
  // there (a link planted under its name) written through.
  unlink(partial);
  OwnedFd file(open(partial, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file.ok()) return answer(507);
  auto left = static_cast<size_t>(request.content_length);
  while (left > 0) {
    size_t got = read_full(0, chunk, left < sizeof chunk ? left : sizeof chunk);
    if (got == 0 || !write_all(file.get(), chunk, got)) break;
    left -= got;
  }
  file.reset();
  if (left > 0 || rename(partial, path) < 0) {
    unlink(partial);
    return answer(left > 0 ? 400 : 507);
  }
  char document[256];
  int n =
      snprintf(document, sizeof document,
               "<?xml version=\"1.0\" encoding=\"utf-8\"?><UPLOAD><URL>%s</URL><SIZE>%lld</SIZE>"
               "</UPLOAD>",
               name, request.content_length);
  send_head(200, xml_type);
  write_all(1, document, static_cast<size_t>(n));
  return 0;
}

long long content_length_of(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  return *end == '\0' && errno == 0 && value >= 0 ? value : -1;
}

gw_request request_of_environment() {
  gw_request request;
  request.method = getenv("REQUEST_METHOD");
  request.path = getenv("PATH_INFO");
  request.query = getenv("QUERY_STRING");
  request.cookie = getenv("HTTP_COOKIE");
  request.origin = getenv("HTTP_ORIGIN");
  request.host = getenv("HTTP_HOST");
  request.requested_with = getenv("HTTP_X_REQUESTED_WITH");
  request.content_length = content_length_of(getenv("CONTENT_LENGTH"));
  return request;
}

int serve(const gw_request& request) {
  gw_verdict verdict = check_request(request);
  if (verdict.status) return answer(verdict.status);
  mkdir(state_dir, 0700);
  if (verdict.road == gw_road::login) return serve_login(request);
  gw_session session;
  if (!session_holds(request, session)) return answer(401);
  switch (verdict.road) {
    case gw_road::logout:
      return serve_logout(session);
    case gw_road::download_backup:
      return serve_download();
    case gw_road::upload_backup:
      return serve_upload(request, "web-backup.tar.gz");
    case gw_road::upload_firmware:
      return serve_upload(request, "web-firmware.bin");
    default:
      return serve_agent(request, std::strcmp(request.method, "POST") == 0);
  }
}

}  // namespace

int main() {
  alarm(process_time_limit);
  signal(SIGPIPE, SIG_IGN);
  return serve(request_of_environment());
}
