// pallad: start-up, then supervision of the worker that serves requests.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

// The worker ends with its supervisor: procd stops (and respawns) the
// supervisor alone, and a worker left behind would go on serving.
int run_worker(pid_t supervisor) {
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != supervisor) return 1;
  return server_run();
}

}  // namespace

int main(int argc, char**) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  board_ifnames_init();
  if (shm_create() != 0) return 1;
  snmpd_conf_write();
  // Without arguments the agent runs as a daemon; with any argument it stays
  // in the foreground, as procd runs it (and to watch its trace).
  if (argc < 2 && daemon(0, 0) != 0) perror("daemon");

  pid_t supervisor = getpid();
  for (;;) {
    int64_t started_ms = monotonic_ms();
    pid_t worker = fork();
    if (worker == 0) _exit(run_worker(supervisor));
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
