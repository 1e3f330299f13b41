// Several writers at once lose nothing; readers honour the locks; the
// built `uci` program behaves as on a device.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "tests/uci/store_fixture.h"

namespace {

class ConcurrencyTest : public StoreTest {
 protected:
  int option_count(const std::string& package, const std::string& section) {
    Result r = uci({"show", package + "." + section});
    return static_cast<int>(std::count(r.out.begin(), r.out.end(), '\n')) - 1;
  }
};

TEST_F(ConcurrencyTest, ParallelSetsAndAddsAllLand) {
  config("p", "config t s\n");
  constexpr int threads = 8, per_thread = 15;
  std::vector<std::thread> workers;
  std::vector<std::vector<std::string>> names(threads);
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i) {
        uci({"set", "p.s.o" + std::to_string(t) + "_" + std::to_string(i) + "=v"});
        names[t].push_back(uci({"add", "p", "rule"}).out);
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(option_count("p", "s"), threads * per_thread);
  std::set<std::string> distinct;
  for (const auto& list : names) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(threads * per_thread));
  EXPECT_EQ(uci({"get", "p.@rule[" + std::to_string(threads * per_thread - 1) + "]"}).out,
            "rule\n");
}

TEST_F(ConcurrencyTest, CommitsRacingWithSetsLoseNothing) {
  config("p", "config t s\n");
  constexpr int sets = 120;
  std::atomic<bool> done{false};
  std::thread committer([&] {
    while (!done) uci({"commit", "p"});
  });
  std::thread reader([&] {
    // A value once seen never disappears again, committed or staged.
    int highest = -1;
    while (!done) {
      Result r = uci({"show", "p.s"});
      for (int i = highest + 1; i < sets; ++i) {
        if (r.out.find(".o" + std::to_string(i) + "=") == std::string::npos) break;
        highest = i;
      }
      for (int i = 0; i <= highest; ++i)
        ASSERT_NE(r.out.find(".o" + std::to_string(i) + "="), std::string::npos) << i;
    }
  });
  for (int i = 0; i < sets; ++i)
    ASSERT_EQ(uci({"set", "p.s.o" + std::to_string(i) + "=v"}).status, 0);
  done = true;
  committer.join();
  reader.join();
  uci({"commit", "p"});
  EXPECT_EQ(option_count("p", "s"), sets);
  EXPECT_EQ(staged("p"), "");
}

TEST_F(ConcurrencyTest, SetsRacingWithSectionRevertsLoseNothing) {
  config("p", "config t s\nconfig t other\n");
  constexpr int sets = 120;
  std::atomic<bool> done{false};
  std::thread reverter([&] {
    while (!done) {
      uci({"set", "p.other.x=1"});
      uci({"revert", "p.other"});
    }
  });
  for (int i = 0; i < sets; ++i) {
    Result r = uci({"set", "p.s.o" + std::to_string(i) + "=v"});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  done = true;
  reverter.join();
  EXPECT_EQ(option_count("p", "s"), sets);
}

TEST_F(ConcurrencyTest, ReadersWaitForAnExclusiveLockOnTheConfigFile) {
  config("p", "config t s\n\toption a 1\n");
  int fd = ::open((conf + "/p").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::atomic<bool> finished{false};
  std::thread reader([&] {
    std::string value;
    uci::get(dirs(), "p.s.a", value);
    finished = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(finished);
  ::flock(fd, LOCK_UN);
  ::close(fd);
  reader.join();
  EXPECT_TRUE(finished);
}

// Runs the built program; skipped when PALLAD_BIN is not set.
class BinaryTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    const char* bin = std::getenv("PALLAD_BIN");
    if (!bin) GTEST_SKIP() << "PALLAD_BIN not set";
    program = std::string(bin) + "/uci";
    // Under user-mode emulation a target binary may not be executable.
    if (run({"help"}).status == 127) GTEST_SKIP() << "cannot execute " << program;
  }

  Result run(std::vector<std::string> args) {
    args.insert(args.begin(), {program, "-c", conf, "-t", delta});
    int out_pipe[2], err_pipe[2];
    EXPECT_EQ(::pipe2(out_pipe, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err_pipe, O_CLOEXEC), 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out_pipe[1], 1);
      ::dup2(err_pipe[1], 2);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    Result r;
    r.out = drain(out_pipe[0]);
    r.err = drain(err_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  static std::string drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
  }

  std::string program;
};

TEST_F(BinaryTest, DeviceCommandLinesWorkEndToEnd) {
  config("network", "config interface 'lan'\n\toption gatewaybak '1.1.1.1'\n");
  config("dhcp", "config dnsmasq\n");
  EXPECT_EQ(run({"set", "network.lan.ipaddr=1.2.3.4"}).status, 0);
  EXPECT_EQ(run({"rename", "network.lan.gatewaybak=gateway"}).status, 0);
  Result add = run({"add", "dhcp", "host"});
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(add.out, "cfg02fe63\n");
  Result missing = run({"get", "network.lan.nope"});
  EXPECT_EQ(missing.status, 1);
  // The program names itself as invoked (an emulation wrapper may invoke it).
  EXPECT_EQ(missing.err.substr(0, 1), "/");
  EXPECT_NE(missing.err.find("/uci: Entry not found\n"), std::string::npos);
  EXPECT_EQ(run({"add", "nopkg", "x"}).status, 3);
  EXPECT_EQ(run({"commit", "network"}).status, 0);
  EXPECT_EQ(committed("network"),
            "\nconfig interface 'lan'\n\toption gateway '1.1.1.1'\n\toption ipaddr '1.2.3.4'\n\n");
  EXPECT_EQ(run({"revert", "dhcp"}).status, 0);
  EXPECT_EQ(run({"-q", "get", "dhcp.@host[-1]"}).status, 1);
}

TEST_F(BinaryTest, ParallelProcessesStagingLoseNothing) {
  config("p", "config t s\n");
  constexpr int processes = 12;
  std::vector<std::thread> starters;
  for (int i = 0; i < processes; ++i)
    starters.emplace_back([&, i] {
      run({"set", "p.s.o" + std::to_string(i) + "=" + std::to_string(i)});
    });
  for (auto& s : starters) s.join();
  Result r = run({"show", "p.s"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), processes + 1);
}

}  // namespace
