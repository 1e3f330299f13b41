// Runs the real tessel with a preloaded stand-in driver (ioctl_shim.cpp)
// that records each private ioctl and serves the answers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  bool executed = false;
  int status = -1;
  std::string out;
};

std::string native_u32_hex(std::uint32_t value) {
  char text[9];
  std::uint32_t ordered = htonl(1) == 1 ? value : __builtin_bswap32(value);
  std::snprintf(text, sizeof text, "%08x", ordered);
  return text;
}

std::string hex_of(const std::string& text) {
  std::string hex;
  char byte[3];
  for (unsigned char c : text) {
    std::snprintf(byte, sizeof byte, "%02x", c);
    hex += byte;
  }
  return hex;
}

std::string zeros(std::size_t bytes) {
  return std::string(2 * bytes, '0');
}

class TesselBinary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* bin = std::getenv("PALLAD_BIN");
    tessel_ = std::string(bin ? bin : "") + "/tessel";
    char dir[] = "/tmp/tessel-test-XXXXXX";
    if (mkdtemp(dir)) {
      dir_ = dir;
      log_path_ = dir_ + "/ioctl.log";
    }
  }

  static void TearDownTestSuite() {
    if (dir_.empty()) return;
    std::remove(log_path_.c_str());
    rmdir(dir_.c_str());
  }

  void SetUp() override {
    if (log_path_.empty()) GTEST_SKIP() << "no temporary directory";
    std::remove(log_path_.c_str());
    Outcome probe = run({"get", "ath0", "status"});
    if (!probe.executed) GTEST_SKIP() << "cannot execute " << tessel_;
    // Every build gives the tests a tessel that takes the preloaded driver.
    ASSERT_TRUE(std::ifstream(log_path_)) << "LD_PRELOAD had no effect";
    std::remove(log_path_.c_str());
  }

  // Runs tessel with the stand-in driver; stdout is captured.
  Outcome run(const std::vector<std::string>& args, const std::string& answer_hex = "",
              bool fail = false) {
    int out[2];
    if (pipe(out) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      setenv("LD_PRELOAD", TESSEL_SHIM_PATH, 1);
      setenv("TESSEL_SHIM_LOG", log_path_.c_str(), 1);
      if (!answer_hex.empty()) setenv("TESSEL_SHIM_ANSWER", answer_hex.c_str(), 1);
      if (fail) setenv("TESSEL_SHIM_FAIL", "1", 1);
      // A sanitizer runtime would refuse to start behind the preloaded shim.
      const char* asan = std::getenv("ASAN_OPTIONS");
      std::string asan_options = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
      setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
      std::vector<char*> argv = {const_cast<char*>(tessel_.c_str())};
      for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(tessel_.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    Outcome result;
    char chunk[4096];
    ssize_t got;
    while ((got = read(out[0], chunk, sizeof chunk)) > 0) result.out.append(chunk, got);
    close(out[0]);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    result.executed = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 127;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return result;
  }

  std::vector<std::string> records() {
    std::vector<std::string> lines;
    std::ifstream log(log_path_);
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

  static inline std::string tessel_;
  static inline std::string dir_;
  static inline std::string log_path_;
};

const std::string kSetPrefix = "8bf4 ath0 32 0 inet-dgram-cloexec ";

TEST_F(TesselBinary, UsageAndArgumentErrorsMakeNoRequest) {
  Outcome usage = run({});
  EXPECT_EQ(usage.status, 1);
  // Sixteen framed lines of 75 characters, each ended by CR LF.
  ASSERT_EQ(usage.out.size(), 16u * 77);
  for (std::size_t at = 0; at < usage.out.size(); at += 77) {
    EXPECT_EQ(usage.out.substr(at + 74, 3), "|\r\n") << usage.out.substr(at, 77);
  }
  EXPECT_EQ(usage.out.substr(0, 77),
            "|---------------------v1.0------------------------------------------------|\r\n");
  EXPECT_EQ(usage.out.substr(14 * 77, 77),
            "|    example:clear ath0 (get onekey ie from both beacon and probersp)     |\r\n");

  for (auto args : std::vector<std::vector<std::string>>{
           {"get", "ath0"}, {"clear"}, {"set", "ath0"}, {"sett", "ath0", "beacon", "master"}}) {
    Outcome result = run(args);
    EXPECT_EQ(result.out, "format error \r\n") << args[0];
    EXPECT_EQ(result.status, 1);
  }
  Outcome bad_get = run({"get", "ath0", "bogus"});
  EXPECT_EQ(bad_get.out, "get error id\r\n");
  EXPECT_EQ(bad_get.status, 1);
  for (auto args : std::vector<std::vector<std::string>>{{"set", "ath0", "beacon"},
                                                         {"set", "ath0", "bogus", "master"},
                                                         {"set", "ath0", "beacon", "boss"}}) {
    Outcome result = run(args);
    EXPECT_EQ(result.out, "set err id\r\n") << args.size();
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_TRUE(records().empty());
}

TEST_F(TesselBinary, SetRequests) {
  Outcome beacon = run({"set", "ath1", "beacon", "master"});
  EXPECT_EQ(beacon.status, 1);
  EXPECT_EQ(beacon.out, "");
  Outcome probe = run({"set", "ath0", "probereq", "slave"});
  EXPECT_EQ(probe.status, 1);
  auto lines = records();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "8bf4 ath1 32 0 inet-dgram-cloexec " + native_u32_hex(0) +
                          native_u32_hex(18) + "de10" + hex_of("VANLINK_WDS_LEAD") + zeros(6));
  EXPECT_EQ(lines[1],
            kSetPrefix + native_u32_hex(1) + native_u32_hex(8) + "0000de0474747431" + zeros(16));
}

TEST_F(TesselBinary, ClearSendsBeaconThenProbeResponse) {
  Outcome clear = run({"clear", "ath0"});
  EXPECT_EQ(clear.status, 1);
  auto lines = records();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kSetPrefix + native_u32_hex(0) + native_u32_hex(0) + zeros(24));
  EXPECT_EQ(lines[1], kSetPrefix + native_u32_hex(2) + native_u32_hex(0) + zeros(24));
}

TEST_F(TesselBinary, GetStatusAndList) {
  Outcome status = run({"get", "ath0", "status"}, "05");
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "\nvan result:\nonekeystatus=5\n");
  Outcome list = run({"get", "ath1", "list"},
                     "02"
                     "001122334455"
                     "01"
                     "a0b1c2d3e4f5"
                     "ff");
  EXPECT_EQ(list.out,
            "\nvan result:\nlistlen=2\n"
            "onekeylist0#00:11:22:33:44:55#1#\n"
            "onekeylist1#a0:b1:c2:d3:e4:f5#255#\n");
  Outcome empty = run({"get", "ath0", "list"}, "00");
  EXPECT_EQ(empty.out, "\nvan result:\nlistlen=0\n");

  auto lines = records();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "8bf3 ath0 512 0 inet-dgram-cloexec " + native_u32_hex(10) +
                          native_u32_hex(1024) + zeros(504));
  EXPECT_EQ(lines[1], "8bf3 ath1 512 0 inet-dgram-cloexec " + native_u32_hex(9) +
                          native_u32_hex(1024) + zeros(504));
}

TEST_F(TesselBinary, FailingIoctlIsReportedWithoutChangingTheStatus) {
  Outcome get = run({"get", "ath0", "status"}, "05", true);
  EXPECT_EQ(get.out, "IOCTL return err =-1\r\n");
  EXPECT_EQ(get.status, 0);
  Outcome set = run({"set", "ath0", "beacon", "slave"}, "", true);
  EXPECT_EQ(set.out, "IOCTL return err =-1\r\n");
  EXPECT_EQ(set.status, 1);
  Outcome clear = run({"clear", "ath1"}, "", true);
  EXPECT_EQ(clear.out, "IOCTL return err =-1\r\nIOCTL return err =-1\r\n");
  EXPECT_EQ(records().size(), 4u);
}

}  // namespace
