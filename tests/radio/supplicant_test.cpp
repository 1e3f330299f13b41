// The stand-in station supplicant through its control socket, as the site
// survey uses it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string make_temp_dir() {
  char dir[] = "/tmp/sim-supplicant-test-XXXXXX";
  return mkdtemp(dir);
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A control-socket client bound to a path of its own, like the agent's.
class ControlClient {
 public:
  ControlClient(const std::string& local, const std::string& server) : local_(local) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, local.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(0, bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    strncpy(addr.sun_path, server.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(0, connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  }
  ~ControlClient() {
    close(fd_);
    unlink(local_.c_str());
  }
  // One datagram within timeout_ms, or "(none)".
  std::string receive(int timeout_ms = 2000) {
    pollfd pfd = {fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) != 1) return "(none)";
    char buf[65536];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n < 0 ? "(error)" : std::string(buf, static_cast<size_t>(n));
  }
  std::string request(const std::string& command) {
    EXPECT_EQ(static_cast<ssize_t>(command.size()), send(fd_, command.data(), command.size(), 0));
    return receive();
  }

 private:
  std::string local_;
  int fd_ = -1;
};

class SupplicantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir();
    mkdir((dir_ + "/state").c_str(), 0755);
    mkdir((dir_ + "/state/ath0").c_str(), 0755);
    mkdir((dir_ + "/state/wifi0").c_str(), 0755);
    write_file(dir_ + "/state/ath0/info", "radio=wifi0\n");
    write_file(dir_ + "/state/wifi0/scan",
               "bssid=00:1E:58:A1:B2:C3 channel=6 signal=-60 crypto=wpa2 ssid=My Net\n"
               "bssid=00:1A:1E:05:60:70 channel=1 signal=-70 crypto=wpa2 auth=802.1x ssid=Corp\n"
               "bssid=64:66:B3:90:AB:CD channel=11 signal=-58 crypto=wpa+wpa2 pair=tkip,ccmp "
               "ssid=Mixed\n"
               "bssid=00:0F:66:4B:12:9A channel=13 signal=-81 crypto=wep ssid=Old\\\"\xb0\xec\n"
               "bssid=C8:3A:35:11:22:33 channel=14 signal=-90 crypto=none ssid=\n");
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_NE(0, access(socket_path().c_str(), F_OK)) << "socket left behind";
    }
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(0, system(command.c_str()));
  }

  // The run directory does not exist before the start: it is created.
  std::string socket_path() const { return dir_ + "/run/var/wpa_supplicant-ath0/ath0"; }

  void start(const std::string& scan_delay = "0") {
    const char* bin = getenv("PALLAD_BIN");
    std::string program = std::string(bin ? bin : "build/bin") + "/sim-supplicant";
    std::string state = dir_ + "/state";
    std::string run = dir_ + "/run/var";
    pid_ = fork();
    if (pid_ == 0) {
      execl(program.c_str(), program.c_str(), "--state-dir", state.c_str(), "--run-dir",
            run.c_str(), "--scan-delay", scan_delay.c_str(), "ath0", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && access(socket_path().c_str(), F_OK) != 0; ++i) usleep(10000);
    ASSERT_EQ(0, access(socket_path().c_str(), F_OK));
  }

  std::string client_path(int n) const { return dir_ + "/client" + std::to_string(n); }

  std::string dir_;
  pid_t pid_ = -1;
};

TEST_F(SupplicantTest, PingAttachDetachAndUnknown) {
  start();
  ControlClient client(client_path(1), socket_path());
  EXPECT_EQ("PONG\n", client.request("PING"));
  EXPECT_EQ("OK\n", client.request("ATTACH"));
  EXPECT_EQ("OK\n", client.request("DETACH"));
  EXPECT_EQ("FAIL\n", client.request("DETACH"));
  EXPECT_EQ("UNKNOWN COMMAND\n", client.request("REASSOCIATE"));
}

TEST_F(SupplicantTest, ScanEventGoesOnlyToAttachedClientsAfterTheReply) {
  start();
  ControlClient attached(client_path(1), socket_path());
  ControlClient other(client_path(2), socket_path());
  ASSERT_EQ("OK\n", attached.request("ATTACH"));
  EXPECT_EQ("OK\n", attached.request("SCAN"));
  EXPECT_EQ("<3>CTRL-EVENT-SCAN-RESULTS ", attached.receive());
  EXPECT_EQ("OK\n", other.request("SCAN"));
  EXPECT_EQ("<3>CTRL-EVENT-SCAN-RESULTS ", attached.receive());
  EXPECT_EQ("(none)", other.receive(200));

  ASSERT_EQ("OK\n", attached.request("DETACH"));
  EXPECT_EQ("OK\n", attached.request("SCAN"));
  EXPECT_EQ("(none)", attached.receive(200));
}

TEST_F(SupplicantTest, DelayedScanEventArrivesLater) {
  start("300");
  ControlClient client(client_path(1), socket_path());
  ASSERT_EQ("OK\n", client.request("ATTACH"));
  EXPECT_EQ("OK\n", client.request("SCAN"));
  EXPECT_EQ("(none)", client.receive(100));
  // Commands are still answered while the scan runs.
  EXPECT_EQ("PONG\n", client.request("PING"));
  EXPECT_EQ("<3>CTRL-EVENT-SCAN-RESULTS ", client.receive());
}

TEST_F(SupplicantTest, ScanResultsTable) {
  start();
  ControlClient client(client_path(1), socket_path());
  EXPECT_EQ(
      "bssid / frequency / signal level / flags / ssid\n"
      "00:1e:58:a1:b2:c3\t2437\t35\t[WPA2-PSK-CCMP][ESS]\tMy Net\n"
      "00:1a:1e:05:60:70\t2412\t25\t[WPA2-EAP-CCMP][ESS]\tCorp\n"
      "64:66:b3:90:ab:cd\t2462\t37\t[WPA-PSK-CCMP+TKIP][WPA2-PSK-CCMP+TKIP][ESS]\tMixed\n"
      "00:0f:66:4b:12:9a\t2472\t14\t[WEP][ESS]\tOld\\\\\\\"\\xb0\\xec\n"
      "c8:3a:35:11:22:33\t2484\t5\t[ESS]\t\n",
      client.request("SCAN_RESULTS"));
}

TEST_F(SupplicantTest, TerminateEndsTheDaemonAndRemovesItsSocket) {
  start();
  ControlClient client(client_path(1), socket_path());
  EXPECT_EQ("OK\n", client.request("TERMINATE"));
  int status = 0;
  ASSERT_EQ(pid_, waitpid(pid_, &status, 0));
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(0, access(socket_path().c_str(), F_OK));
}

}  // namespace
