// The shell stand-ins iwconfig, iwpriv and wlanconfig run by busybox sh on a
// copy of a radio-state tree, and the default state read by the driver layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/radio/radio_state.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  return out;
}

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (system("command -v busybox >/dev/null") != 0) GTEST_SKIP() << "busybox not installed";
    char dir[] = "/tmp/radio-standins-XXXXXX";
    dir_ = mkdtemp(dir);
    for (const char* sub : {"/state", "/state/wifi0", "/state/ath0", "/state/ath01"}) {
      mkdir((dir_ + sub).c_str(), 0755);
    }
    write_file(dir_ + "/state/wifi0/info",
               "channel=11\ntxpower=18\nprotocol=IEEE 802.11ng\nbitrate=300 Mb/s\n"
               "link_quality=47/94\nsignal_level=-52\nnoise_level=-95\n");
    write_file(dir_ + "/state/wifi0/freqlist", "6 2437\n11 2462\n");
    write_file(dir_ + "/state/ath0/info",
               "radio=wifi0\nmode=Managed\nessid=Up Link\nbssid=00:1e:58:a1:b2:c3\n");
    write_file(dir_ + "/state/ath01/info", "radio=wifi0\n");
    write_file(dir_ + "/state/ath0/stations",
               "# header comment\n"
               "mac=3c:15:c2:a1:07:5e signal=-48 noise=-95 inactive=2500 rx_rate=144400 "
               "tx_rate=300000 aid=1 assoc_time=3725\n"
               "mac=F0:27:2D:5B:93:11 signal=-63 noise=-95 rx_rate=65000 tx_rate=72200 aid=2\n");
    write_file(dir_ + "/log-cmd", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>\"$(dirname \"$0\")/log\"\n");
    chmod((dir_ + "/log-cmd").c_str(), 0755);
  }
  void TearDown() override {
    if (!dir_.empty()) {
      EXPECT_EQ(0, system(("rm -rf '" + dir_ + "'").c_str()));
    }
  }

  // Runs a stand-in as the agent does, through a shell command line.
  std::string tool(const std::string& name, const std::string& args) {
    return run("cd '" + dir_ + "' && SIM_RADIO_DIR='" + dir_ + "/state' SIM_LOG_CMD='" + dir_ +
               "/log-cmd' busybox sh " RADIO_SOURCE_DIR "/bin/" + name + " " + args +
               " 2>/dev/null");
  }
  std::string log() { return read_file(dir_ + "/log"); }

  std::string dir_;
};

TEST_F(StandinTest, IwconfigPrintsTheLinesTheAgentReads) {
  std::string out = tool("iwconfig", "ath0");
  EXPECT_EQ(0u, out.find("ath0      IEEE 802.11ng  ESSID:\"Up Link\""));
  EXPECT_NE(std::string::npos,
            out.find("Mode:Managed  Frequency:2.462 GHz  Access Point: 00:1E:58:A1:B2:C3   \n"));
  EXPECT_NE(std::string::npos, out.find("Bit Rate:300 Mb/s   Tx-Power:18 dBm"));
  EXPECT_NE(std::string::npos,
            out.find("Link Quality=47/94  Signal level=-52 dBm  Noise level=-95 dBm\n"));
}

TEST_F(StandinTest, IwconfigSettingsChangeWhatItPrintsAndEachCallLogsOneLine) {
  tool("iwconfig", "ath0 essid abcdefgh12345678igklmnop1234567 > /dev/null");
  tool("iwconfig", "ath0 ap off > /dev/null");
  EXPECT_NE(std::string::npos, tool("iwconfig", "ath0").find("Access Point: Not-Associated"));
  tool("iwconfig", "ath0 essid 'It'\\''s mine' > /dev/null");
  tool("iwconfig", "ath0 ap any > /dev/null");
  std::string out = tool("iwconfig", "ath0");
  EXPECT_NE(std::string::npos, out.find("ESSID:\"It's mine\""));
  EXPECT_NE(std::string::npos, out.find("Access Point: 00:1E:58:A1:B2:C3"));
  std::string prefix = RADIO_SOURCE_DIR "/bin/iwconfig ath0";
  EXPECT_EQ(prefix + " essid abcdefgh12345678igklmnop1234567\n" + prefix + " ap off\n" + prefix +
                "\n" + prefix + " essid It's mine\n" + prefix + " ap any\n" + prefix + "\n",
            log());
}

TEST_F(StandinTest, IwconfigListsOnlyWirelessInterfaces) {
  std::string all = tool("iwconfig", "");
  EXPECT_NE(std::string::npos, all.find("ath0      IEEE"));
  EXPECT_NE(std::string::npos, all.find("ath01     IEEE"));
  EXPECT_EQ(std::string::npos, all.find("wifi0"));
  EXPECT_EQ("", tool("iwconfig", "eth0"));
}

TEST_F(StandinTest, WlanconfigColumnsReadByAwk) {
  EXPECT_EQ("300M\n", tool("wlanconfig", "ath0 list | busybox awk 'NR==2 {print $4}'"));
  EXPECT_EQ("144M\n", tool("wlanconfig", "ath0 list | busybox awk 'NR==2 {print $5}'"));
  std::string table = tool("wlanconfig", "ath0 list");
  EXPECT_EQ(0u, table.find("ADDR "));
  EXPECT_NE(std::string::npos, table.find("\n3C:15:C2:A1:07:5E    1   11   300M   144M   47    2"));
  EXPECT_NE(std::string::npos, table.find("01:02:05"));
  // No stations: the header alone, so the rate columns read empty.
  EXPECT_EQ("\n", tool("wlanconfig", "ath01 list | busybox awk 'NR==2 {print $4}' ; echo"));
}

TEST_F(StandinTest, IwprivStoresAndReadsPrivateSettings) {
  EXPECT_EQ("", tool("iwpriv", "wifi0 enable_ol_stats 1"));
  EXPECT_EQ("wifi0     get_enable_ol_stats:1\n", tool("iwpriv", "wifi0 get_enable_ol_stats"));
  EXPECT_EQ("wifi0     get_other:0\n", tool("iwpriv", "wifi0 get_other"));
  EXPECT_EQ("", tool("iwpriv", "wifi9 enable_ol_stats 1"));
  EXPECT_NE(std::string::npos, log().find("/bin/iwpriv wifi9 enable_ol_stats 1\n"));
}

// The shipped default state parses completely: a typo there would silently
// drop a station or a network.
TEST(DefaultRadioState, EveryInterfaceAndRecordParses) {
  simradio::SystemFiles files;
  simradio::RadioState state(files, RADIO_SOURCE_DIR "/state");
  for (const char* name :
       {"ath0", "ath01", "ath02", "ath03", "ath04", "ath1", "ath11", "ath12", "ath13", "ath14"}) {
    EXPECT_TRUE(state.is_wireless(name)) << name;
    int value = 0;
    EXPECT_TRUE(state.info_int(name, "channel", value)) << name;
    EXPECT_TRUE(state.info_int(name, "txpower", value)) << name;
    EXPECT_TRUE(state.info_int(name, "noise_level", value)) << name;
    // The driver lists at most IW_MAX_TXPOWER (8) levels.
    EXPECT_LE(state.txpowerlist(name).size(), 8u) << name;
  }
  const char* record_files[] = {"ath0/stations", "ath01/stations", "ath1/stations", "wifi0/scan",
                                "wifi1/scan"};
  for (const char* file : record_files) {
    std::string text = read_file(std::string(RADIO_SOURCE_DIR "/state/") + file);
    size_t records = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) records += !line.empty() && line[0] != '#';
    size_t parsed = std::string(file).find("scan") != std::string::npos
                        ? simradio::parse_scan(text).size()
                        : simradio::parse_stations(text).size();
    EXPECT_EQ(records, parsed) << file;
  }
  EXPECT_GT(state.freqlist("ath1").size(), 20u);
}

}  // namespace
