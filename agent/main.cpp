// pallad: start-up, then supervision of the worker that serves requests.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "agent/server.h"
#include "agent/startup.h"

int main(int argc, char**) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  board_ifnames_init();
  if (shm_create() != 0) return 1;
  snmpd_conf_write();
  // Without arguments the agent runs as a daemon; with any argument it stays
  // in the foreground so its trace can be watched.
  if (argc < 2 && daemon(0, 0) != 0) perror("daemon");

  for (;;) {
    pid_t worker = fork();
    if (worker == 0) _exit(server_run());
    if (worker < 0) {
      perror("fork");
      sleep(1);  // do not spin while the system is out of processes
      continue;
    }
    while (waitpid(worker, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}
