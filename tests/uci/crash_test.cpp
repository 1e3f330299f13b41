// A commit or revert killed at any step leaves a consistent store: either the
// old state or the new one, never both and never neither, and the next
// commit or revert finishes cleanly.
#include <dirent.h>
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

struct Case {
  const char* name;
  std::vector<std::string> action;
  int least_steps;  // crash points the action passes at least
};

const Case cases[] = {
    {"commit", {"commit", "network"}, 7},
    {"revert of a section", {"revert", "network.lan"}, 3},
};

struct State {
  std::string file, changes, view;
  bool operator==(const State& o) const {
    return file == o.file && changes == o.changes && view == o.view;
  }
};

class CrashTest : public StoreTest {
 protected:
  void fresh_store() {
    std::string command = "rm -rf '" + conf + "' '" + delta + "' && mkdir '" + conf + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    config("network", network_file);
    for (const auto& c : staging) ASSERT_EQ(uci(c).status, 0);
  }

  State state() {
    return State{committed("network"), uci({"changes", "network"}).out,
                 uci({"show", "network"}).out};
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
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status) == uci::crash_status;
  }

  static std::vector<std::string> dotfiles(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (struct dirent* e = ::readdir(d))
        if (e->d_name[0] == '.' && std::string(e->d_name) != "." && std::string(e->d_name) != "..")
          names.push_back(e->d_name);
      ::closedir(d);
    }
    return names;
  }
};

TEST_F(CrashTest, KilledAtEveryStepLeavesTheOldStateOrTheNew) {
  for (const Case& c : cases) {
    fresh_store();
    State before = state();
    ASSERT_EQ(uci(c.action).status, 0);
    State after = state();
    ASSERT_FALSE(before == after) << c.name;

    int step = 1;
    for (; step < 100; ++step) {
      fresh_store();
      if (!crashed_at(c.action, step)) break;
      State now = state();
      EXPECT_TRUE(now == before || now == after) << c.name << " killed at step " << step << ":\n"
                                                 << now.file << "--\n"
                                                 << now.changes << "--\n"
                                                 << now.view;
      // The next run finishes the job and leaves nothing behind.
      EXPECT_EQ(uci(c.action).status, 0);
      EXPECT_TRUE(state() == after) << c.name << " after step " << step;
      EXPECT_EQ(dotfiles(conf), std::vector<std::string>()) << c.name << " step " << step;
      EXPECT_EQ(dotfiles(delta), std::vector<std::string>()) << c.name << " step " << step;
      // A change staged afterwards is seen and committed.
      EXPECT_EQ(uci({"set", "network.lan.mtu=1400"}).status, 0);
      EXPECT_EQ(uci({"get", "network.lan.mtu"}).out, "1400\n") << c.name << " step " << step;
      EXPECT_EQ(uci({"commit", "network"}).status, 0);
      EXPECT_NE(committed("network").find("option mtu '1400'"), std::string::npos);
    }
    EXPECT_GT(step, c.least_steps) << c.name;
  }
}

}  // namespace
