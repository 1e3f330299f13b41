/* rawclient: sends standard input to a Unix stream socket without closing its
 * own sending side (unlike pallactl, which half-closes), then prints what
 * comes back until the peer closes. Lets the tests see whether the agent
 * answers a request that is not complete.
 *   rawclient SOCKET SECONDS < request
 *   rawclient --hold COUNT SOCKET SECONDS
 *     opens COUNT connections that send one byte each, prints "open N",
 *     waits SECONDS, then prints "closed N": how many the peer has closed
 * Exit status: 0 the peer closed, 1 connection or I/O error, 3 the peer kept
 * the connection open for SECONDS. */
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int connect_to(const char* path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
  if (fd < 0 || connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
    perror("connect");
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

static int hold(int count, const char* path, int seconds) {
  struct rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  struct pollfd* fds = calloc((size_t)count, sizeof *fds);
  int opened = 0;
  while (opened < count) {
    int fd = connect_to(path);
    if (fd < 0) break;
    send(fd, "G", 1, MSG_NOSIGNAL);
    fds[opened].fd = fd;
    fds[opened].events = POLLIN;
    ++opened;
  }
  printf("open %d\n", opened);
  fflush(stdout);
  sleep((unsigned)seconds);
  poll(fds, (nfds_t)opened, 0);
  int closed = 0;
  char byte;
  for (int i = 0; i < opened; ++i)
    if ((fds[i].revents & (POLLIN | POLLHUP)) && recv(fds[i].fd, &byte, 1, MSG_DONTWAIT) <= 0)
      ++closed;
  printf("closed %d\n", closed);
  return opened == count ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--hold") == 0) return hold(atoi(argv[2]), argv[3], atoi(argv[4]));
  if (argc != 3) {
    fprintf(stderr, "usage: rawclient SOCKET SECONDS < request\n"
                    "       rawclient --hold COUNT SOCKET SECONDS\n");
    return 2;
  }
  int fd = connect_to(argv[1]);
  if (fd < 0) return 1;
  char buf[65536];
  ssize_t n;
  while ((n = read(0, buf, sizeof buf)) > 0) {
    for (ssize_t done = 0; done < n;) {
      ssize_t w = send(fd, buf + done, (size_t)(n - done), MSG_NOSIGNAL);
      if (w <= 0) break; /* the peer may close early; read what it said */
      done += w;
    }
  }
  struct pollfd p = {fd, POLLIN, 0};
  int timeout_ms = atoi(argv[2]) * 1000;
  for (;;) {
    int ready = poll(&p, 1, timeout_ms);
    if (ready == 0) return 3;
    if (ready < 0) return 1;
    n = read(fd, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) return 0; /* reset by the peer: closed too */
    fwrite(buf, 1, (size_t)n, stdout);
  }
}
