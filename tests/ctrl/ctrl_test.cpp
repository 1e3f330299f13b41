#include "agent/ctrl.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/fake_effects.h"

namespace {

namespace fs = std::filesystem;

const char* const control_path = "/var/run/wpa_supplicant-ath0/ath0";

// A stand-in supplicant: a datagram socket at the control path. Replies and
// events are queued on the client's socket before the client asks, so each
// test runs in one thread and in a fixed order.
class TestDaemon {
 public:
  explicit TestDaemon(const std::string& path) : path_(path) {
    fs::create_directories(fs::path(path).parent_path());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~TestDaemon() {
    close(fd_);
    unlink(path_.c_str());
  }
  TestDaemon(const TestDaemon&) = delete;
  TestDaemon& operator=(const TestDaemon&) = delete;

  void queue(const ctrl_conn* conn, const std::string& message) {
    EXPECT_EQ(sendto(fd_, message.data(), message.size(), 0,
                     reinterpret_cast<const sockaddr*>(&conn->local), sizeof conn->local),
              static_cast<ssize_t>(message.size()));
  }
  // The requests received so far.
  std::vector<std::string> requests() {
    std::vector<std::string> seen;
    char buffer[256];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) seen.emplace_back(buffer, n);
    return seen;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

class Ctrl : public FakeEffectsTest {
 protected:
  std::vector<std::string> local_files() { return fake.list_dir("/tmp"); }
  std::string local_prefix() { return "wpa_ctrl_" + std::to_string(getpid()) + "-"; }
};

TEST_F(Ctrl, EachConnectionBindsTheNextCounterAndCloseRemovesIt) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* first = ctrl_open(control_path);
  ctrl_conn* second = ctrl_open(control_path);
  ASSERT_TRUE(first && second);
  std::string name = fs::path(first->local.sun_path).filename();
  ASSERT_EQ(name.rfind(local_prefix(), 0), 0u) << name;
  int counter = std::stoi(name.substr(local_prefix().size()));
  EXPECT_EQ(std::string(second->local.sun_path),
            fake.host_path("/tmp/" + local_prefix() + std::to_string(counter + 1)));
  EXPECT_EQ(local_files().size(), 2u);
  ctrl_close(first);
  ctrl_close(second);
  ctrl_close(nullptr);
  EXPECT_TRUE(local_files().empty());
}

TEST_F(Ctrl, EventsBeforeTheReplyAreSkipped) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* conn = ctrl_open(control_path);
  ASSERT_TRUE(conn);
  daemon.queue(conn, "<3>CTRL-EVENT-BSS-ADDED 0 aa:bb:cc:dd:ee:ff");
  daemon.queue(conn, "<2>CTRL-EVENT-SCAN-RESULTS ");
  daemon.queue(conn, "bssid / frequency / signal level / flags / ssid\n");
  char reply[256];
  size_t reply_len = sizeof reply;
  ASSERT_EQ(ctrl_request(conn, "SCAN_RESULTS", 12, reply, &reply_len), 0);
  EXPECT_EQ(std::string(reply, reply_len), "bssid / frequency / signal level / flags / ssid\n");
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{"SCAN_RESULTS"});

  // An empty datagram is a reply too.
  daemon.queue(conn, "");
  reply_len = sizeof reply;
  ASSERT_EQ(ctrl_request(conn, "PING", 4, reply, &reply_len), 0);
  EXPECT_EQ(reply_len, 0u);
  ctrl_close(conn);
}

TEST_F(Ctrl, AttachAndDetachAcceptOnlyOk) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* conn = ctrl_open(control_path);
  ASSERT_TRUE(conn);
  daemon.queue(conn, "OK\n");
  EXPECT_EQ(ctrl_attach(conn), 0);
  for (const char* answer : {"FAIL\n", "OK", "OK\n\n", "ok\n"}) {
    daemon.queue(conn, answer);
    EXPECT_EQ(ctrl_attach(conn), -1) << answer;
  }
  daemon.queue(conn, "OK\n");
  EXPECT_EQ(ctrl_detach(conn), 0);
  std::vector<std::string> expected(5, "ATTACH");
  expected.push_back("DETACH");
  EXPECT_EQ(daemon.requests(), expected);
  ctrl_close(conn);
}

TEST_F(Ctrl, PendingEventsAreReceivedOneByOne) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* conn = ctrl_open(control_path);
  ASSERT_TRUE(conn);
  EXPECT_EQ(ctrl_pending(conn), 0);
  daemon.queue(conn, "<2>CTRL-EVENT-SCAN-STARTED ");
  daemon.queue(conn, "<2>CTRL-EVENT-SCAN-RESULTS ");
  EXPECT_EQ(ctrl_pending(conn), 1);
  char event[8];
  size_t event_len = sizeof event;
  ASSERT_EQ(ctrl_recv(conn, event, &event_len), 0);
  EXPECT_EQ(std::string(event, event_len), "<2>CTRL-");  // cut to the buffer
  char full[64];
  size_t full_len = sizeof full;
  ASSERT_EQ(ctrl_recv(conn, full, &full_len), 0);
  EXPECT_EQ(std::string(full, full_len), "<2>CTRL-EVENT-SCAN-RESULTS ");
  EXPECT_EQ(ctrl_pending(conn), 0);
  ctrl_close(conn);
}

TEST_F(Ctrl, SilenceAfterEventsIsATimeout) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* conn = ctrl_open(control_path);
  ASSERT_TRUE(conn);
  daemon.queue(conn, "<3>CTRL-EVENT-BSS-ADDED");
  char reply[64];
  size_t reply_len = sizeof reply;
  EXPECT_EQ(ctrl_request(conn, "SCAN", 4, reply, &reply_len, 50), -2);
  EXPECT_EQ(reply_len, sizeof reply);
  ctrl_close(conn);
}

TEST_F(Ctrl, FailedOpensLeaveNoLocalFile) {
  // Nobody listens at the control path.
  EXPECT_EQ(ctrl_open(control_path), nullptr);
  EXPECT_TRUE(local_files().empty());
  // A control path that does not fit a socket address.
  std::string too_long = "/var/run/" + std::string(120, 'x');
  EXPECT_EQ(ctrl_open(too_long.c_str()), nullptr);
  EXPECT_TRUE(local_files().empty());
}

TEST_F(Ctrl, StaleLocalFileOfAnEarlierProcessIsReplaced) {
  TestDaemon daemon(fake.host_path(control_path));
  ctrl_conn* probe = ctrl_open(control_path);
  ASSERT_TRUE(probe);
  std::string name = fs::path(probe->local.sun_path).filename();
  int next = std::stoi(name.substr(local_prefix().size())) + 1;
  ctrl_close(probe);
  // A socket file left behind at the next path, as a crashed process leaves it.
  std::string stale_path = fake.host_path("/tmp/" + local_prefix() + std::to_string(next));
  int stale = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  stale_path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale);

  ctrl_conn* conn = ctrl_open(control_path);
  ASSERT_TRUE(conn);
  EXPECT_EQ(std::string(conn->local.sun_path), stale_path);
  daemon.queue(conn, "OK\n");
  EXPECT_EQ(ctrl_attach(conn), 0);
  ctrl_close(conn);
  EXPECT_TRUE(local_files().empty());
}

}  // namespace
