/* rawclient: sends standard input to a Unix stream socket without closing its
 * own sending side (unlike pallactl, which half-closes), then prints what
 * comes back until the peer closes. Lets the tests see whether the agent
 * answers a request that is not complete.
 *   rawclient SOCKET SECONDS < request
 * Exit status: 0 the peer closed, 1 connection or I/O error, 3 the peer kept
 * the connection open for SECONDS. */
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: rawclient SOCKET SECONDS < request\n");
    return 2;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, argv[1], sizeof addr.sun_path - 1);
  if (fd < 0 || connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
    perror("connect");
    return 1;
  }
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
