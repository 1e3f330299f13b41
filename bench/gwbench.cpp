// Latency of requests through the web gateway, one request at a time:
//
//   gwbench cgi PROGRAM COUNT NAME=VALUE...   starts PROGRAM per request as a
//       web server does (CGI variables, standard input and output on pipes)
//       and reads its whole answer
//   gwbench http ADDRESS PORT PATH COOKIE COUNT   sends an HTTP GET per
//       connection and reads the whole answer
//
// Prints the median and p90 in microseconds, and for cgi the processor time
// (user and system) each started program took, which the machine's load
// does not change as it changes the wall time. Linked statically, so that it
// runs inside the simulated device as it is.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

size_t drain(int fd) {
  char chunk[8192];
  size_t total = 0;
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) total += static_cast<size_t>(n);
  return total;
}

size_t one_cgi(const char* program, char** environment) {
  int out[2];
  if (pipe(out) != 0) return 0;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    char* argv[] = {const_cast<char*>(program), nullptr};
    execve(program, argv, environment);
    _exit(127);
  }
  close(out[1]);
  size_t got = drain(out[0]);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return got;
}

size_t one_http(const sockaddr_in& address, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  size_t got = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size()))
    got = drain(fd);
  close(fd);
  return got;
}

long children_cpu_micros() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
         usage.ru_stime.tv_usec;
}

template <typename Request>
int measure(int count, Request request) {
  long cpu_before = children_cpu_micros();
  std::vector<long> micros;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    if (request() == 0) {
      fprintf(stderr, "gwbench: empty answer\n");
      return 1;
    }
    micros.push_back(static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()));
  }
  std::sort(micros.begin(), micros.end());
  long cpu = (children_cpu_micros() - cpu_before) / count;
  printf("cpu %ld us per request, median %ld us, p90 %ld us\n", cpu, micros[micros.size() / 2],
         micros[micros.size() * 9 / 10]);
  return 0;
}

int usage() {
  fprintf(stderr,
          "usage: gwbench cgi PROGRAM COUNT NAME=VALUE...\n"
          "       gwbench http ADDRESS PORT PATH COOKIE COUNT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "cgi") == 0) {
    const char* program = argv[2];
    int count = std::atoi(argv[3]);
    char** environment = argv + 4;  // argv ends with a null pointer
    if (count < 1) return usage();
    return measure(count, [&] { return one_cgi(program, environment); });
  }
  if (argc == 7 && std::strcmp(argv[1], "http") == 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[3])));
    if (inet_pton(AF_INET, argv[2], &address.sin_addr) != 1) return usage();
    std::string request = std::string("GET ") + argv[4] + " HTTP/1.0\r\nHost: " + argv[2] +
                          "\r\nCookie: " + argv[5] + "\r\n\r\n";
    int count = std::atoi(argv[6]);
    if (count < 1) return usage();
    return measure(count, [&] { return one_http(address, request); });
  }
  return usage();
}
