// A commit or revert killed at any step leaves the old state or the new one,
// never both and never neither, and the next one finishes cleanly.
#include <sys/wait.h>

#include "platform/uci/store.h"
#include "tests/uci/store_fixture.h"

namespace {

// Staged records that go wrong when applied twice: a list item added, an
// item deleted by index, an anonymous section deleted by its generated name.
const char network_file[] =
    "config interface 'lan'\n\toption proto 'static'\n\tlist dns '1.1.1.1'\n"
    "\tlist dns '8.8.8.8'\n\nconfig rule\n\toption src 'lan'\n\nconfig rule\n\toption src 'wan'\n";
const std::vector<std::vector<std::string>> staging = {
    {"add_list", "network.lan.dns=9.9.9.9"}, {"delete", "network.lan.dns=0"},
    {"delete", "network.@rule[0]"},          {"add", "network", "rule"},
    {"set", "network.@rule[-1].src=guest"},  {"set", "network.lan.proto=dhcp"},
};

class CrashTest : public StoreTest {
 protected:
  void fresh_store() {
    std::string command = "rm -rf '" + conf + "' '" + delta + "' && mkdir '" + conf + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    config("network", network_file);
    for (const auto& c : staging) ASSERT_EQ(uci(c).status, 0);
  }

  // The file, the staged changes and the view; the dot files left around.
  std::string state() {
    return committed("network") + "--\n" + uci({"changes", "network"}).out + "--\n" +
           uci({"show", "network"}).out;
  }
  std::string leftovers() {
    std::string command = "ls -A '" + conf + "' '" + delta + "' | grep '^\\.'";
    return std::system(command.c_str()) == 0 ? "dot files left" : "";
  }

  // Runs the action in a child that ends at crash point `step`; true when
  // it ended there, false when it finished first.
  bool crashed_at(const std::vector<std::string>& action, int step) {
    pid_t pid = ::fork();
    if (pid == 0) {
      uci::crash_countdown = step;
      uci(action);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == uci::crash_status;
  }
};

TEST_F(CrashTest, KilledAtEveryStepLeavesTheOldStateOrTheNew) {
  const struct {
    std::vector<std::string> action;
    int least_steps;  // crash points the action passes at least
  } cases[] = {{{"commit", "network"}, 7}, {{"revert", "network.lan"}, 3}};
  for (const auto& c : cases) {
    fresh_store();
    std::string before = state();
    ASSERT_EQ(uci(c.action).status, 0);
    std::string after = state();
    ASSERT_NE(before, after);
    int step = 1;
    for (; step < 100; ++step) {
      fresh_store();
      if (!crashed_at(c.action, step)) break;
      std::string now = state();
      EXPECT_TRUE(now == before || now == after) << c.action[0] << " step " << step << "\n" << now;
      // The next run finishes the job, and later changes are staged as usual.
      EXPECT_EQ(uci(c.action).status, 0);
      EXPECT_EQ(state(), after) << c.action[0] << " step " << step;
      EXPECT_EQ(leftovers(), "") << c.action[0] << " step " << step;
      uci({"set", "network.lan.mtu=1400"});
      uci({"commit", "network"});
      EXPECT_NE(committed("network").find("option mtu '1400'"), std::string::npos);
    }
    EXPECT_GT(step, c.least_steps) << c.action[0];
  }
}

}  // namespace
