// Runs the real ferrin against a test station on 127.0.0.1:8901, in network
// and mount namespaces of this test process (port 9000 and /var/mymac stay
// private), with stand-ins for macmanage and delayreboot.sh first on PATH
// and a preloaded shim (ferrin_shim.cpp) that records the shell commands.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/macprov/mac_provision.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_script(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
}

bool bring_loopback_up() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

// Own network namespace (loopback only) and own mount namespace with a
// private /var, so nothing the tool does reaches the machine. The machine's
// /var/cache stays visible in it: the target build's dynamic test copy of the
// tool names its loader there.
bool isolate() {
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  int cache = open("/var/cache", O_PATH | O_DIRECTORY | O_CLOEXEC);
  bool isolated = mount("tmpfs", "/var", "tmpfs", 0, "size=1m") == 0;
  if (isolated && cache >= 0) {
    std::string kept = "/proc/self/fd/" + std::to_string(cache);
    isolated = mkdir("/var/cache", 0755) == 0 &&
               mount(kept.c_str(), "/var/cache", nullptr, MS_BIND, nullptr) == 0;
  }
  if (cache >= 0) close(cache);
  return isolated && bring_loopback_up();
}

class Udp {
 public:
  explicit Udp(const char* address, std::uint16_t port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_aton(address, &local.sin_addr);
    bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
  }
  ~Udp() {
    if (fd_ >= 0) close(fd_);
  }
  bool bound() const { return bound_; }

  // One datagram within timeout_ms; nothing when none came.
  std::optional<std::string> receive(int timeout_ms, sockaddr_in* from = nullptr) {
    pollfd ready = {fd_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) != 1) return std::nullopt;
    char data[64];
    sockaddr_in sender{};
    socklen_t size = sizeof sender;
    ssize_t got = recvfrom(fd_, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&sender), &size);
    if (got < 0) return std::nullopt;
    if (from) *from = sender;
    return std::string(data, got);
  }

  void send(const std::string& data, const sockaddr_in& to) {
    sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

 private:
  int fd_;
  bool bound_ = false;
};

struct Finished {
  int status = -1;  // exit status; -1 when it had to be killed
  std::string out;
  std::string err;
};

class FerrinBinary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* bin = std::getenv("PALLAD_BIN");
    ferrin_ = std::string(bin ? bin : "") + "/ferrin";
    char dir[] = "/tmp/ferrin-test-XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    write_script(dir_ + "/macmanage", "echo \"macmanage $* <$(cat)\" >>\"$FERRIN_TEST_LOG\"\n");
    write_script(dir_ + "/delayreboot.sh", "echo \"delayreboot.sh $*\" >>\"$FERRIN_TEST_LOG\"\n");
    isolated_ = isolate();
  }

  static void TearDownTestSuite() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  void SetUp() override {
    if (dir_.empty()) GTEST_SKIP() << "no temporary directory";
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
      for (const char* name : {"macmanage", "delayreboot.sh"}) {
        if (access((std::string(dir) + name).c_str(), F_OK) == 0)
          GTEST_SKIP() << "a real " << name << " exists on this machine";
      }
    }
    for (const char* name : {"/commands", "/standins", "/out", "/err"})
      std::remove((dir_ + name).c_str());
    Finished probe = run({});
    if (probe.status == 127) GTEST_SKIP() << "cannot execute " << ferrin_;
    // Every build gives the tests a ferrin that takes the preloaded shim (the
    // static target build a dynamic copy).
    ASSERT_EQ(access((dir_ + "/commands").c_str(), F_OK), 0) << "LD_PRELOAD had no effect";
    std::remove((dir_ + "/commands").c_str());
  }

  // Why a test that needs its own namespaces cannot run here; null when it
  // can. The test itself must skip: GTEST_SKIP in a helper ends only the
  // helper.
  const char* isolation_missing() const {
    if (!isolated_) return "no network and mount namespaces here";
    return nullptr;
  }

  pid_t start(const std::vector<std::string>& args, const char* fail = nullptr) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int out = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open((dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
    setenv("FERRIN_TEST_LOG", (dir_ + "/standins").c_str(), 1);
    setenv("FERRIN_SHIM_LOG", (dir_ + "/commands").c_str(), 1);
    setenv("LD_PRELOAD", FERRIN_SHIM_PATH, 1);
    if (fail) setenv("FERRIN_SHIM_FAIL", fail, 1);
    // A sanitizer runtime would refuse to start behind the preloaded shim.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(),
           1);
    std::vector<char*> argv = {const_cast<char*>(ferrin_.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(ferrin_.c_str(), argv.data());
    _exit(127);
  }

  Finished finish(pid_t pid, int timeout_ms) {
    int wait_status = 0;
    bool killed = false;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (waitpid(pid, &wait_status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &wait_status, 0);
        killed = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Finished result;
    if (!killed && WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
    result.out = read_file(dir_ + "/out");
    result.err = read_file(dir_ + "/err");
    return result;
  }

  Finished run(const std::vector<std::string>& args, const char* fail = nullptr) {
    return finish(start(args, fail), 5000);
  }

  // What the stand-ins recorded, once the background restart has run.
  std::string standin_log() {
    auto deadline = Clock::now() + std::chrono::seconds(3);
    std::string log;
    while ((log = read_file(dir_ + "/standins")).find("delayreboot.sh") == std::string::npos &&
           Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return log;
  }

  std::string commands() { return read_file(dir_ + "/commands"); }

  static sockaddr_in ferrin_address() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9000);
    inet_aton("127.0.0.1", &address.sin_addr);
    return address;
  }

  static inline std::string ferrin_;
  static inline std::string dir_;
  static inline bool isolated_ = false;
};

std::string answer(const std::string& mac) {
  return std::string("\0\0", 2) + mac;
}

TEST_F(FerrinBinary, RefusesBadArgumentsWithOneUsageLine) {
  // The full set of refused arguments is checked on parse_arguments itself.
  std::vector<std::vector<std::string>> refused = {{"127.0.0.1"},
                                                   {"127.0.0.1", std::string(42, 'p')},
                                                   {"127.0.0.1", "mtd2;reboot"},
                                                   {"station", "mtd2"}};
  for (const auto& args : refused) {
    Finished result = run(args);
    EXPECT_NE(result.status, 0) << args.size();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, macprov::kUsage);
  }
  EXPECT_EQ(commands(), "");
}

TEST_F(FerrinBinary, SetupFailuresPrintTheirMessageAndFail) {
  Finished no_socket = run({"127.0.0.1", "mtd2"}, "socket");
  EXPECT_EQ(no_socket.out, "create socket error");
  EXPECT_EQ(no_socket.status, 1);
  Finished no_broadcast = run({"127.0.0.1", "mtd2"}, "setsockopt1");
  EXPECT_EQ(no_broadcast.out, "set socket SO_BROADCAST error Operation not permitted\n");
  EXPECT_EQ(no_broadcast.status, 1);
  Finished no_timeout = run({"127.0.0.1", "mtd2"}, "setsockopt2");
  EXPECT_EQ(no_timeout.out, "set socket  SO_RCVTIMEO error Operation not permitted\n");
  EXPECT_EQ(no_timeout.status, 1);
  EXPECT_EQ(commands(), "");
}

TEST_F(FerrinBinary, BindFailurePrintsItsMessageAndFails) {
  if (const char* missing = isolation_missing()) GTEST_SKIP() << missing;
  Udp occupant("0.0.0.0", 9000);
  ASSERT_TRUE(occupant.bound());
  Finished result = run({"127.0.0.1", "mtd2"});
  EXPECT_EQ(result.out, "bind socket error");
  EXPECT_EQ(result.status, 1);
}

TEST_F(FerrinBinary, AsksEveryThreeSecondsThenWritesAcknowledgesAndRestarts) {
  if (const char* missing = isolation_missing()) GTEST_SKIP() << missing;
  Udp station("127.0.0.1", 8901);
  // The answer comes from another host and port than the one asked.
  Udp answerer("127.0.0.2", 0);
  ASSERT_TRUE(station.bound() && answerer.bound());
  pid_t pid = start({"127.0.0.1", "art.mtd"});

  auto first = station.receive(3000);
  auto first_at = Clock::now();
  auto second = station.receive(5000);
  auto gap = std::chrono::duration<double>(Clock::now() - first_at).count();
  EXPECT_EQ(first, "SETMAC");
  EXPECT_EQ(second, "SETMAC");
  EXPECT_GT(gap, 2.5);
  EXPECT_LT(gap, 4.5);

  answerer.send(answer("00A0b1C2d3E4"), ferrin_address());
  sockaddr_in ack_from{};
  EXPECT_EQ(answerer.receive(4000, &ack_from), std::string(4, '\0'));
  EXPECT_EQ(ntohs(ack_from.sin_port), 9000);
  EXPECT_FALSE(station.receive(0));

  Finished result = finish(pid, 5000);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string(macprov::kDoneMessage) + "\n");
  EXPECT_EQ(commands(),
            "echo 00A0b1C2d3E4 >/var/mymac;macmanage set art.mtd < /var/mymac;\n"
            "delayreboot.sh  2 &\n");
  EXPECT_EQ(standin_log(), "macmanage set art.mtd <00A0b1C2d3E4\ndelayreboot.sh 2\n");
  EXPECT_EQ(read_file("/var/mymac"), "00A0b1C2d3E4\n");
}

TEST_F(FerrinBinary, IgnoresShortAndNonHexAnswersAndKeepsAsking) {
  if (const char* missing = isolation_missing()) GTEST_SKIP() << missing;
  Udp station("127.0.0.1", 8901);
  Udp impostor("127.0.0.3", 0);
  Udp answerer("127.0.0.2", 0);
  ASSERT_TRUE(station.bound() && impostor.bound() && answerer.bound());
  // Arguments after the place are ignored.
  pid_t pid = start({"127.0.0.1", "mtd2", "ignored;reboot"});

  EXPECT_EQ(station.receive(3000), "SETMAC");
  impostor.send(answer("0011223344"), ferrin_address());  // 12 bytes in all: too short
  EXPECT_EQ(station.receive(3000), "SETMAC");
  impostor.send(answer("0011;echo hi"), ferrin_address());
  EXPECT_EQ(station.receive(3000), "SETMAC");
  answerer.send(answer("aabbccddeeff"), ferrin_address());

  EXPECT_EQ(answerer.receive(4000), std::string(4, '\0'));
  Finished result = finish(pid, 5000);
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(impostor.receive(0));
  EXPECT_EQ(commands(),
            "echo aabbccddeeff >/var/mymac;macmanage set mtd2 < /var/mymac;\n"
            "delayreboot.sh  2 &\n");
  EXPECT_EQ(standin_log(), "macmanage set mtd2 <aabbccddeeff\ndelayreboot.sh 2\n");
}

}  // namespace
