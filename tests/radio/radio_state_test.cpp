// The simulated radios: the state files' parsers, and the kernel side that
// answers the agent's wireless ioctls from them, read back through the
// agent's own driver layer.
#include <gtest/gtest.h>
#include <linux/wireless.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/wifi/wifi.h"
#include "sim/radio/radio_state.h"
#include "tests/support/radio_kernel.h"

namespace {

std::string mac_of(const uint8_t mac[6]) {
  char text[18];
  snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  return text;
}

TEST(RadioStateStations, FullRecordAndIgnoredKeys) {
  auto list = simradio::parse_stations(
      "# mac signal ...\n"
      "mac=00:1a:2b:3c:4d:5e signal=-52 noise=-95 inactive=1200 rx_packets=1500 "
      "tx_packets=900 rx_rate=144400 rx_mcs=15 rx_40mhz=0 rx_short_gi=1 "
      "tx_rate=300000 tx_mcs=15 tx_40mhz=1 tx_short_gi=1 aid=3 assoc_time=754\n"
      "mac=AA:BB:CC:DD:EE:01 signal=-70 noise=-95 tx_rate=54000\n");
  ASSERT_EQ(2u, list.size());
  const wifi::Station& s = list[0];
  EXPECT_EQ("00:1A:2B:3C:4D:5E", mac_of(s.mac));
  EXPECT_EQ(-52, s.signal);
  EXPECT_EQ(-95, s.noise);
  EXPECT_EQ(1200u, s.inactive);
  EXPECT_EQ(1500u, s.rx_packets);
  EXPECT_EQ(900u, s.tx_packets);
  EXPECT_EQ(144400u, s.rx_rate.kbps);
  EXPECT_EQ(15, s.rx_rate.mcs);
  EXPECT_FALSE(s.rx_rate.is_40mhz);
  EXPECT_TRUE(s.rx_rate.is_short_gi);
  EXPECT_EQ(300000u, s.tx_rate.kbps);
  EXPECT_TRUE(s.tx_rate.is_40mhz);
  // A legacy rate has no MCS index.
  EXPECT_EQ(-1, list[1].tx_rate.mcs);
  EXPECT_EQ(0u, list[1].rx_rate.kbps);
}

TEST(RadioStateStations, LinesWithBadValuesAreSkipped) {
  auto list = simradio::parse_stations(
      "signal=-50\n"
      "mac=00:11:22:33:44 signal=-50\n"
      "mac=00:11:22:33:44:5g\n"
      "mac=00:11:22:33:44:55 signal=-300\n"
      "mac=00:11:22:33:44:55 rx_40mhz=yes\n"
      "\n   \n"
      "mac=00:11:22:33:44:66\r\n");
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("00:11:22:33:44:66", mac_of(list[0].mac));
}

TEST(RadioStateScan, SignalQualityAndSsidWithBlanksAndRawBytes) {
  auto list = simradio::parse_scan(
      "bssid=00:11:22:33:44:55 channel=6 signal=-60 quality=50/94 crypto=none ssid=My Net \n"
      "bssid=00:11:22:33:44:56 channel=11 signal=-1 quality=94/94 crypto=none "
      "ssid=\xc4\xe3\xba\xc3\n"
      "bssid=00:11:22:33:44:57 channel=1 signal=-135 quality=0 crypto=none ssid=\n");
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(196, list[0].entry.signal);
  EXPECT_EQ(50, list[0].entry.quality);
  EXPECT_EQ(94, list[0].entry.quality_max);
  EXPECT_EQ(6, list[0].entry.channel);
  EXPECT_STREQ("My Net ", list[0].entry.ssid);
  EXPECT_EQ(255, list[1].entry.signal);
  EXPECT_STREQ("\xc4\xe3\xba\xc3", list[1].entry.ssid);
  EXPECT_EQ(121, list[2].entry.signal);
  EXPECT_STREQ("", list[2].entry.ssid);
}

TEST(RadioStateScan, LongSsidIsCutToThirtyTwoBytes) {
  auto list = simradio::parse_scan("bssid=00:11:22:33:44:55 ssid=" + std::string(40, 'x') + "\n");
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(std::string(32, 'x'), list[0].entry.ssid);
}

TEST(RadioStateScan, CryptoKindsAndRefinements) {
  auto list = simradio::parse_scan(
      "bssid=00:00:00:00:00:01 crypto=none\n"
      "bssid=00:00:00:00:00:02 crypto=wep algs=open,shared pair=wep104\n"
      "bssid=00:00:00:00:00:03 crypto=wpa\n"
      "bssid=00:00:00:00:00:04 crypto=wpa2 auth=802.1x\n"
      "bssid=00:00:00:00:00:05 crypto=wpa+wpa2 pair=tkip,ccmp group=tkip\n"
      "bssid=00:00:00:00:00:06 crypto=wpa3\n"
      "bssid=00:00:00:00:00:07 crypto=wpa2 pair=gcmp\n");
  ASSERT_EQ(5u, list.size());
  EXPECT_FALSE(list[0].entry.crypto.enabled);

  const wifi::Crypto& wep = list[1].entry.crypto;
  EXPECT_TRUE(wep.enabled);
  EXPECT_EQ(0, wep.wpa_version);
  EXPECT_EQ(wifi::kAuthOpen | wifi::kAuthShared, wep.auth_algs);
  EXPECT_EQ(wifi::kCipherWep104, wep.pair_ciphers);

  const wifi::Crypto& wpa = list[2].entry.crypto;
  EXPECT_EQ(1, wpa.wpa_version);
  EXPECT_EQ(wifi::kSuitePsk, wpa.auth_suites);
  EXPECT_EQ(wifi::kCipherTkip, wpa.pair_ciphers);
  EXPECT_EQ(0, wpa.auth_algs);

  const wifi::Crypto& enterprise = list[3].entry.crypto;
  EXPECT_EQ(2, enterprise.wpa_version);
  EXPECT_EQ(wifi::kSuite8021x, enterprise.auth_suites);
  EXPECT_EQ(wifi::kCipherCcmp, enterprise.group_ciphers);

  const wifi::Crypto& mixed = list[4].entry.crypto;
  EXPECT_EQ(3, mixed.wpa_version);
  EXPECT_EQ(wifi::kCipherTkip | wifi::kCipherCcmp, mixed.pair_ciphers);
  EXPECT_EQ(wifi::kCipherTkip, mixed.group_ciphers);
}

TEST(RadioStateScan, RawDriverValues) {
  auto list = simradio::parse_scan(
      "bssid=00:00:00:00:00:01 signal_byte=100 crypto=wpa2 wpa=5 algs=12\n"
      "bssid=00:00:00:00:00:02 crypto=wep algs=0\n"
      "bssid=00:00:00:00:00:03 signal_byte=256\n"
      "bssid=00:00:00:00:00:04 wpa=x\n"
      "bssid=00:00:00:00:00:05 crypto=wpa ie=dd04x0\n"
      "bssid=00:00:00:00:00:06 crypto=wpa ie=30060100000fac02\n");
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(100, list[0].entry.signal);
  EXPECT_EQ(5, list[0].entry.crypto.wpa_version);
  EXPECT_EQ(12, list[0].entry.crypto.auth_algs);
  EXPECT_TRUE(list[1].entry.crypto.enabled);
  EXPECT_EQ(0, list[1].entry.crypto.auth_algs);
  // Raw elements replace what crypto= would send, and decide the WPA fields.
  const simradio::ScanLine& raw = list[2];
  EXPECT_TRUE(raw.raw_ies);
  EXPECT_EQ(std::string("\x30\x06\x01\x00\x00\x0f\xac\x02", 8), raw.ies);
  EXPECT_EQ(2, raw.entry.crypto.wpa_version);
  EXPECT_EQ(wifi::kCipherTkip, raw.entry.crypto.group_ciphers);
  EXPECT_EQ(0, raw.entry.crypto.pair_ciphers);
  EXPECT_EQ(0, raw.entry.crypto.auth_suites);
}

TEST(RadioStateLists, FrequenciesWithRestrictedFlag) {
  auto list = simradio::parse_freqlist("1 2412\n13 2472 restricted\n# 14 2484\n36 5180 dfs\n40\n");
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(1, list[0].channel);
  EXPECT_EQ(2412u, list[0].mhz);
  EXPECT_FALSE(list[0].restricted);
  EXPECT_EQ(13, list[1].channel);
  EXPECT_TRUE(list[1].restricted);
}

TEST(RadioStateLists, PowerLevels) {
  auto list = simradio::parse_txpowerlist("0\n3\n17\n20\nx\n27\n");
  EXPECT_EQ((std::vector<int>{0, 3, 17, 20, 27}), list);
}

class RadioKernel : public FakeEffectsTest {
 protected:
  void SetUp() override { serve_radio_state(fake); }
  void add(const std::string& path, const std::string& text) { fake.put_file(path, text); }
  // errno of a wireless request the kernel side refuses.
  int refusal(const char* ifname) {
    iwreq request{};
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", ifname);
    errno = 0;
    EXPECT_EQ(-1, fx().socket_ioctl(SIOCGIWNAME, &request));
    return errno;
  }
};

TEST_F(RadioKernel, BackendOnlyForInterfacesWithInfo) {
  add("/sim/radio/ath0/info", "radio=wifi0\n");
  EXPECT_NE(nullptr, wifi::backend("ath0"));
  EXPECT_EQ(nullptr, wifi::backend("eth0"));
  EXPECT_EQ(nullptr, wifi::backend(""));
  add("/sim/radio/../etc/info", "");
  EXPECT_EQ(nullptr, wifi::backend("../etc"));
}

TEST_F(RadioKernel, InterfaceInheritsRadioValuesAndFiles) {
  add("/sim/radio/wifi0/info", "channel=6\ntxpower=20\ntxpower_offset=0\n");
  add("/sim/radio/wifi0/freqlist", "1 2412\n6 2437\n");
  add("/sim/radio/wifi0/txpowerlist", "10\n20\n");
  add("/sim/radio/ath01/info", "radio=wifi0\n txpower = 1\ntxpower=3\n");
  add("/sim/radio/ath01/freqlist", "11 2462\n");
  wifi::Backend* b = wifi::backend("ath01");
  ASSERT_NE(nullptr, b);

  int value = 0;
  ASSERT_TRUE(b->channel("ath01", value));
  EXPECT_EQ(6, value);
  ASSERT_TRUE(b->txpower("ath01", value));
  EXPECT_EQ(3, value);  // the interface's own value wins, first valid line
  EXPECT_FALSE(b->txpower_offset("ath01", value));
  EXPECT_EQ(0, value);
  std::vector<wifi::Frequency> freqs;
  ASSERT_TRUE(b->freqlist("ath01", freqs));
  ASSERT_EQ(1u, freqs.size());
  EXPECT_EQ(11, freqs[0].channel);
  std::vector<wifi::TxPower> powers;
  ASSERT_TRUE(b->txpwrlist("ath01", powers));
  EXPECT_EQ(2u, powers.size());
}

TEST_F(RadioKernel, MissingStateFailsOrGivesEmptyLists) {
  add("/sim/radio/ath1/info", "radio=wifi1\nchannel=abc\n");
  wifi::Backend* b = wifi::backend("ath1");
  ASSERT_NE(nullptr, b);
  int value = 0;
  EXPECT_FALSE(b->channel("ath1", value));
  EXPECT_FALSE(b->txpower("ath1", value));
  std::vector<wifi::Frequency> freqs(1);
  EXPECT_TRUE(b->freqlist("ath1", freqs));
  EXPECT_TRUE(freqs.empty());
  std::vector<wifi::TxPower> powers;
  EXPECT_FALSE(b->txpwrlist("ath1", powers));  // the driver lists no level
  std::vector<wifi::Station> stations(1);
  EXPECT_TRUE(b->assoclist("ath1", stations));
  EXPECT_TRUE(stations.empty());
  std::vector<wifi::ScanEntry> scan(1);
  EXPECT_TRUE(b->scanlist("ath1", scan, 1000));
  EXPECT_TRUE(scan.empty());
  EXPECT_FALSE(b->assoclist("ath9", stations));
}

TEST_F(RadioKernel, StationsAndScanReadFromInterfaceFiles) {
  add("/sim/radio/ath0/info", "radio=wifi0\n");
  add("/sim/radio/ath0/stations", "mac=00:11:22:33:44:55 signal=-40\n");
  add("/sim/radio/ath04/info", "radio=wifi0\n");
  add("/sim/radio/ath04/scan", "bssid=00:11:22:33:44:66 crypto=wpa2 ssid=Up\n");
  std::vector<wifi::Station> stations;
  ASSERT_TRUE(wifi::backend("ath0")->assoclist("ath0", stations));
  ASSERT_EQ(1u, stations.size());
  EXPECT_EQ(-40, stations[0].signal);
  std::vector<wifi::ScanEntry> scan;
  ASSERT_TRUE(wifi::backend("ath04")->scanlist("ath04", scan, 1000));
  ASSERT_EQ(1u, scan.size());
  EXPECT_STREQ("Up", scan[0].ssid);
  // The radio has no scan file of its own for ath0 to fall back to.
  ASSERT_TRUE(wifi::backend("ath0")->scanlist("ath0", scan, 1000));
  EXPECT_TRUE(scan.empty());
}

TEST_F(RadioKernel, MissingAndNonWirelessInterfacesAnswerAsTheKernelDoes) {
  add("/sys/class/net/eth0/address", "00:11:22:33:44:55\n");
  EXPECT_EQ(ENODEV, refusal("ath7"));
  EXPECT_EQ(EOPNOTSUPP, refusal("eth0"));
}

TEST_F(RadioKernel, StationRecordsCarryWhatTheDriverKeeps) {
  add("/sim/radio/ath0/info", "radio=wifi0\n");
  add("/sim/radio/wifi0/info", "noise_level=-92\n");
  add("/sim/radio/ath0/stations",
      "mac=00:11:22:33:44:55 signal=-40 inactive=2500 tx_rate=54000 rx_rate=11000 "
      "tx_packets=70000 rx_packets=5\nmac=00:11:22:33:44:56 tx_rate=300000\n");
  std::vector<wifi::Station> stations;
  ASSERT_TRUE(wifi::backend("ath0")->assoclist("ath0", stations));
  ASSERT_EQ(2u, stations.size());
  const wifi::Station& s = stations[0];
  EXPECT_EQ(-40, s.signal);
  EXPECT_EQ(-92, s.noise);
  EXPECT_EQ(2000u, s.inactive);  // whole seconds
  EXPECT_EQ(54000u, s.tx_rate.kbps);
  EXPECT_EQ(54000u, s.rx_rate.kbps);  // one rate for both directions
  EXPECT_EQ(70000u % 4096, s.tx_packets);
  EXPECT_EQ(5u, s.rx_packets);
  EXPECT_EQ(63500u, stations[1].tx_rate.kbps);  // the rate byte's highest value
}

}  // namespace
