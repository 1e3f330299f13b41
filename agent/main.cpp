// pallad: start-up, then supervision of the worker that serves requests.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "agent/server.h"
#include "agent/startup.h"
#include "platform/clock.h"

namespace {

// A worker that ends sooner than this after its start (it cannot bind the
// socket, say) is replaced only after a pause of the same length, so the
// supervisor does not fork thousands of workers a second.
constexpr int64_t short_life_ms = 1000;

}  // namespace

int main(int argc, char**) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  board_ifnames_init();
  if (shm_create() != 0) return 1;
  snmpd_conf_write();
  // Without arguments the agent runs as a daemon; with any argument it stays
  // in the foreground so its trace can be watched.
  if (argc < 2 && daemon(0, 0) != 0) perror("daemon");

  for (;;) {
    int64_t started_ms = monotonic_ms();
    pid_t worker = fork();
    if (worker == 0) _exit(server_run());
    if (worker < 0) {
      perror("fork");
      sleep(1);  // do not spin while the system is out of processes
      continue;
    }
    while (waitpid(worker, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (monotonic_ms() - started_ms < short_life_ms) sleep(1);
  }
}
