// Load generator for the request socket: one client sends the same request
// over and over, one connection per request, and reports requests per second
// and latency percentiles.
//
//   loadgen --socket PATH [--count N] [--request TEXT]   against a running agent
//   loadgen --bare [--count N]                           against a bare
//       accept/recv/write/close server on a temporary socket: the limit any
//       server on this machine can reach with this client.
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int connect_to(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One request: connect, send, read until the server closes. Returns the
// reply size, or -1 on failure.
long one_request(const std::string& path, const std::string& request) {
  int fd = connect_to(path);
  if (fd < 0) return -1;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    close(fd);
    return -1;
  }
  long total = 0;
  char chunk[8192];
  ssize_t n;
  while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) total += n;
  close(fd);
  return total;
}

// A server that does the least any request server must: accept, read to the
// blank line, write a short reply, close.
pid_t start_bare_server(const std::string& path) {
  unlink(path.c_str());
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    perror("bare server");
    exit(1);
  }
  pid_t pid = fork();
  if (pid != 0) {
    close(listener);
    return pid;
  }
  static const char reply[] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><RESULT><CODE>1</CODE>"
      "<MESSAGE>NO SERVICE</MESSAGE></RESULT>";
  char buffer[16384];
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    size_t fill = 0;
    ssize_t n;
    while ((n = recv(fd, buffer + fill, sizeof buffer - fill, 0)) > 0) {
      fill += static_cast<size_t>(n);
      if (fill >= 2 && buffer[fill - 1] == '\n' && buffer[fill - 2] == '\n') break;
    }
    send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL);
    close(fd);
  }
}

void report(const char* label, std::vector<double>& latencies_us, double seconds) {
  std::sort(latencies_us.begin(), latencies_us.end());
  size_t n = latencies_us.size();
  printf(
      "%s: %zu requests in %.2f s: %.0f requests/s, latency median %.1f us, p90 %.1f us, "
      "p99 %.1f us\n",
      label, n, seconds, n / seconds, latencies_us[n / 2], latencies_us[n * 9 / 10],
      latencies_us[n * 99 / 100]);
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  std::string request = "GET /route/nosuch\n\n";
  long count = 2000;
  bool bare = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--socket" && i + 1 < argc)
      path = argv[++i];
    else if (arg == "--request" && i + 1 < argc)
      request = argv[++i];
    else if (arg == "--count" && i + 1 < argc)
      count = std::atol(argv[++i]);
    else if (arg == "--bare")
      bare = true;
    else {
      fprintf(stderr, "usage: %s (--socket PATH | --bare) [--count N] [--request TEXT]\n", argv[0]);
      return 2;
    }
  }
  if (count < 1 || (path.empty() && !bare)) {
    fprintf(stderr, "usage: %s (--socket PATH | --bare) [--count N] [--request TEXT]\n", argv[0]);
    return 2;
  }
  // The request on the command line may spell line feeds as \n.
  for (size_t at; (at = request.find("\\n")) != std::string::npos;) request.replace(at, 2, "\n");

  pid_t server = -1;
  if (bare) {
    path = "/tmp/loadgen-bare-" + std::to_string(getpid());
    server = start_bare_server(path);
  }
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(count));
  auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    if (one_request(path, request) < 0) {
      fprintf(stderr, "request %ld failed\n", i);
      break;
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (server > 0) {
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    unlink(path.c_str());
  }
  if (latencies.empty()) return 1;
  report(bare ? "bare accept/recv/write/close" : path.c_str(), latencies, seconds);
  return 0;
}
