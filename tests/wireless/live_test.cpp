// The live wireless views: value texts, throughput, link and client
// documents, the survey, the lists and signal following, against the store,
// radio-state files and command outputs of a fake device.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/worker_state.h"
#include "services/wireless/format.h"
#include "services/wireless/status.h"
#include "services/wireless/survey.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/radio_kernel.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

TEST(WirelessFormat, ValueTexts) {
  struct {
    std::string got, want;
  } cases[] = {
      {channel_text(0), "unknown"},
      {channel_text(-1), "unknown"},
      {channel_text(11), "11"},
      {freq_text(2437), "2.437 GHz"},
      {freq_text(5180), "5.180 GHz"},
      {freq_text(12000), "12.000 GHz"},
      {rate_text(54000), "54.0 MBit/s"},
      {rate_text(6500), "6.5 MBit/s"},
      {rate_text(4294967295u), "4294967.2 MBit/s"},
      {assoc_rate_text({300000, 15, true, true}), "300.0 MBit/s, MCS 15, 40MHz, short GI"},
      {assoc_rate_text({65000, 127, false, false}), "65.0 MBit/s, MCS 127, 20MHz"},
      {assoc_rate_text({54000, -1, true, true}), "54.0 MBit/s, short GI"},
      {assoc_rate_text({0, 7, false, false}), "unknown"},
      {level_text(0), "unknown"},
      {level_text(-60), "-60 dBm"},
      {cipher_list_text(0), "NONE"},
      {cipher_list_text(wifi::kCipherTkip | wifi::kCipherCcmp), "TKIP, CCMP"},
      {suite_list_text(wifi::kSuitePsk | wifi::kSuite8021x), "PSK/802.1X"},
      {ssid_text("", 32), "unknown"},
      {ssid_text("0123456789012345678901234567890123456789", 40),
       "0123456789012345678901234567890123"},
      {ssid_text("A&B<", 32), "A&amp;B&lt;"},
      // Never cut inside a character.
      {ssid_text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xf0\x9f\x98\x80", 35),
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, c.got);
}

TEST(WirelessFormat, GbNamesConvertWithoutTouchingTheRecord) {
  // A pair GB2312 does not assign converts to nothing: the name is shown as it
  // is, its bytes that are not UTF-8 as U+FFFD.
  EXPECT_EQ("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", ssid_text("\xd7\xfa\xd7\xfa", 4));
  char probe[8] = {};
  if (gb2312_to_utf8("\xc4\xe3", 2, probe, sizeof probe) != 0)
    GTEST_SKIP() << "no GB2312 converter on this system";
  wifi::ScanEntry entry;
  // Eleven GB2312 characters become 33 UTF-8 bytes, cut back to 11 whole ones.
  std::string gb;
  for (int i = 0; i < 16; ++i) gb += "\xc4\xe3";
  std::memcpy(entry.ssid, gb.data(), gb.size());
  entry.channel = 6;
  std::string utf8;
  for (int i = 0; i < 11; ++i) utf8 += "\xe4\xbd\xa0";
  std::string element = scan_ap_element("2G", entry);
  EXPECT_NE(std::string::npos, element.find("<SSID>" + utf8 + "</SSID>"));
  EXPECT_NE(std::string::npos, element.find("<CHANNEL>6</CHANNEL>"));
  EXPECT_EQ(gb, std::string(entry.ssid));
}

TEST(WirelessFormat, CryptoTextsAndCodes) {
  using namespace wifi;
  struct {
    Crypto crypto;
    std::string text;
    int code;
  } cases[] = {
      {{false, 2, kCipherCcmp, kCipherCcmp, kSuitePsk, 0}, "none", 0},
      {{true, 0, kCipherWep40, kCipherWep40, 0, kAuthOpen}, "WEP Open System (WEP-40)", 1},
      {{true, 0, 0, kCipherWep104, 0, kAuthShared}, "WEP Shared Auth (WEP-104)", 2},
      {{true, 0, 0, kCipherWep40, 0, kAuthOpen | kAuthShared}, "WEP Open/Shared (WEP-40)", 2},
      {{true, 0, 0, 0, 0, 0}, "wep", 1},
      {{true, 0, 0, 0, 0, 4}, "unknown", 0},
      {{true, 1, kCipherTkip, kCipherTkip, kSuitePsk, 0}, "WPA PSK (TKIP)", 5},
      {{true, 2, kCipherCcmp, kCipherCcmp, kSuitePsk, 0}, "WPA2 PSK (CCMP)", 8},
      {{true, 2, kCipherCcmp, kCipherCcmp, kSuite8021x, 0}, "WPA2 802.1X (CCMP)", 20},
      {{true, 3, kCipherTkip, kCipherCcmp, kSuitePsk, 0}, "mixed WPA/WPA2 PSK (TKIP, CCMP)", 11},
      {{true, 3, 0, kCipherCcmp, kSuitePsk | kSuite8021x, 0},
       "mixed WPA/WPA2 PSK/802.1X (CCMP)",
       20},
      {{true, 4, 0, kCipherCcmp, kSuite8021x, 0}, "unknown", 0},
  };
  for (const auto& c : cases) {
    int code = -1;
    EXPECT_EQ(c.text, crypto_text(&c.crypto, code));
    EXPECT_EQ(c.code, code) << c.text;
  }
  int code = -1;
  EXPECT_EQ("unknown", crypto_text(nullptr, code));
  EXPECT_EQ(0, code);
}

TEST(WirelessFormat, SignalBytesAndChannels) {
  for (auto [byte, dbm] : {std::pair{196, -60}, {255, -1}, {121, -135}, {0, -10}, {120, -20}})
    EXPECT_EQ(dbm, scan_signal_dbm(static_cast<uint8_t>(byte))) << byte;
  for (auto [mhz, channel] : {std::pair{2437, 6},
                              {5180, 36},
                              {5825, 165},
                              {2484, 32},
                              {5500, 100},
                              {2312, 32},
                              {2402, 50},
                              {2407, 0},
                              {2487, 218},
                              {2732, 26},
                              {3000, 32},
                              {5001, 4},
                              {5170, 34},
                              {5905, 181}})
    EXPECT_EQ(channel, freq_to_channel(mhz)) << mhz;
}

class Live : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    serve_radio_state(fake);
    system("");
    for (const char* radio : {"wifi0", "wifi1"}) {
      fake.put_file(std::string("/sim/radio/") + radio + "/info", "channel=6\ntxpower=20\n");
      fake.put_file(std::string("/sim/radio/") + radio + "/freqlist",
                    "1 2412\n6 2437\n0 2407\n13 2472 restricted\n");
      fake.put_file(std::string("/sim/radio/") + radio + "/txpowerlist", "3\n20\n");
    }
    for (const char* ifname : {"ath0", "ath01", "ath02", "ath03", "ath04"})
      fake.put_file(std::string("/sim/radio/") + ifname + "/info", "radio=wifi0\n");
    for (const char* ifname : {"ath1", "ath11", "ath12", "ath13", "ath14"})
      fake.put_file(std::string("/sim/radio/") + ifname + "/info", "radio=wifi1\n");
    vaps("ap", "ap");
  }
  void system(const std::string& extra) {
    fake.write_config("system",
                      "config system\n\toption hardver 'HX3-9344-V1'\n"
                      "\toption submode 'DUAL'\n" +
                          extra);
  }
  void vaps(const std::string& mode0, const std::string& mode1, const std::string& extra0 = "") {
    std::string text;
    for (int slot = 0; slot < 8; ++slot) {
      std::string id = std::to_string(slot / 4) + std::to_string(slot % 4);
      std::string mode = slot == 0 ? mode0 : slot == 4 ? mode1 : "ap";
      text += "config wifi-iface\n\toption id '" + id + "'\n\toption ssid 'AP" + id +
              "'\n\toption mode '" + mode + "'\n" + (slot == 0 ? extra0 : "") + "\n";
    }
    fake.write_config("wireless", text);
  }
  std::string get(const std::string& sub_path) {
    fake.clear_commands();
    return routed_reply("GET /route/wireless" + sub_path);
  }
  void counters(const char* ifname, const std::string& tx, const std::string& rx) {
    std::string dir = std::string("/sys/class/net/") + ifname + "/statistics/";
    fake.put_file(dir + "tx_bytes", tx);
    fake.put_file(dir + "rx_bytes", rx);
    fake.put_file(dir + "tx_packets", "7\n");
    fake.put_file(dir + "rx_packets", "9\n");
  }
};

TEST_F(Live, ThroughputBetweenSamples) {
  struct {
    long long after_us;
    const char* tx;
    const char* want;
  } cases[] = {
      {1000000, "125000", "976.576 Kbps"},             // b = 1000000
      {1000000, "1375000", "9.549 Mbps"},              // 1250000 more bytes
      {1000000, "1375000", zero_throughput},           // no traffic
      {1000000, "5", zero_throughput},                 // the counter was reset
      {0, "5000005", "38146.996 Mbps"},                // 0 ms counts as 1
      {500, "9000000000005", "68664512634.284 Mbps"},  // no 32-bit wrap
  };
  long long now = 1700000000000000LL;
  fake.set_now_us(now);
  std::string tx, rx;
  EXPECT_EQ(0, throughput_update(0, "0", "0", tx, rx));
  for (const auto& c : cases) {
    fake.set_now_us(now += c.after_us);
    EXPECT_EQ(0, throughput_update(0, c.tx, "0", tx, rx));
    EXPECT_EQ(c.want, tx) << c.tx;
    EXPECT_EQ(zero_throughput, rx);
  }
  // From .000500 to .000000 two seconds on counts as 2000 ms.
  fake.set_now_us(now += 1999500);
  EXPECT_EQ(0, throughput_update(0, "9000000000005", "3998000", tx, rx));
  EXPECT_EQ("15.257 Mbps", rx);
  fake.set_now_us(now -= 1);
  EXPECT_EQ(1, throughput_update(0, "500000", "9", tx, rx));
  EXPECT_EQ(zero_throughput, tx);
  EXPECT_EQ(zero_throughput, rx);
}

const char* iwconfig_ap =
    "ath0      IEEE 802.11ng  ESSID:\"AP00\"  Nickname:\"\"\n"
    "          Mode:Master  Frequency:2.437 GHz  Access Point: 02:AA:BB:CC:00:01   \n"
    "          Bit Rate:300 Mb/s   Tx-Power=20 dBm\n"
    "          Link Quality=47/94  Signal level=-52 dBm  Noise level=-95 dBm\n";

TEST_F(Live, AccessPointLinksWithTraffic) {
  fake.on_capture("iwconfig ath0", iwconfig_ap);
  fake.on_capture("iwconfig ath1",
                  "ath1  ESSID:\"Bit Rate:<x>s\"\n  Access Point: Not-Associated   \n"
                  "  Signal level=-40\n");
  counters("ath0", "1000\n", "2000\n");
  vaps("ap", "ap", "\toption ssid 'A&B'\n");
  std::string doc = get("/nonstainfo?active=1");
  EXPECT_EQ(decl +
                "<WIRELESS><VAP><ID>00</ID><ESSID>A&amp;B</ESSID><LINK>1</LINK>"
                "<MAC>02:AA:BB:CC:00:01   \n</MAC><CHANNEL>6</CHANNEL><SIGNAL>-52 dBm</SIGNAL>"
                "<RATE>300 Mb/s</RATE><TXBYTES>1000\n</TXBYTES><RXBYTES>2000\n</RXBYTES>"
                "<TXPKTS>7\n</TXPKTS><RXPKTS>9\n</RXPKTS><TXTHPUT>0.000 Kbps</TXTHPUT>"
                "<RXTHPUT>0.000 Kbps</RXTHPUT></VAP>"
                "<VAP><ID>10</ID><ESSID>AP10</ESSID><LINK>1</LINK><MAC></MAC><CHANNEL></CHANNEL>"
                "<SIGNAL> dBm</SIGNAL><RATE></RATE><TXBYTES>0</TXBYTES><RXBYTES>0</RXBYTES>"
                "<TXPKTS>0</TXPKTS><RXPKTS>0</RXPKTS><TXTHPUT>0.000 Kbps</TXTHPUT>"
                "<RXTHPUT>0.000 Kbps</RXTHPUT></VAP></WIRELESS>",
            doc);
  EXPECT_EQ((commands{"iwconfig ath0", "iwpriv wifi1 enable_ol_stats 1", "iwconfig ath1"}),
            fake.commands());
  // A disabled or client main VAP is not listed.
  vaps("sta", "ap", "\toption disabled '1'\n");
  EXPECT_EQ(std::string::npos, get("/nonstainfo?active=1").find("<ID>00</ID>"));
}

TEST_F(Live, ClientLinkStates) {
  vaps("sta", "ap");
  fake.on_capture("iwconfig ath0", iwconfig_ap);
  fake.on_capture("wlanconfig ath0 list |  awk 'NR==2 {print $4}'", "300M\n");
  fake.on_capture("wlanconfig ath0 list |  awk 'NR==2 {print $5}'", "\n");
  counters("ath0", "10\n", "20\n");
  std::string linked = get("/stainfo");
  EXPECT_EQ(decl +
                "<WIRELESS><VAP><ID>00</ID><ESSID>AP00</ESSID><LINK>1</LINK>"
                "<MAC>02:AA:BB:CC:00:01   \n</MAC><CHANNEL>6</CHANNEL><SIGNAL>-52 dBm</SIGNAL>"
                "<RATE>300 Mb/s</RATE><LINKQ>50</LINKQ><TXRATE>300M\n</TXRATE>"
                "<RXRATE>0Mbps</RXRATE><TXTHPUT>0.000 Kbps</TXTHPUT>"
                "<RXTHPUT>0.000 Kbps</RXTHPUT></VAP></WIRELESS>",
            linked);
  EXPECT_EQ((commands{"iwconfig ath0", "wlanconfig ath0 list |  awk 'NR==2 {print $4}'",
                      "wlanconfig ath0 list |  awk 'NR==2 {print $5}'"}),
            fake.commands());
  // Not associated repeats the last measured statistics.
  std::string stats =
      linked.substr(linked.find("<LINKQ>"), linked.find("</VAP>") - linked.find("<LINKQ>"));
  fake.on_capture("iwconfig ath0", "ath0  Access Point: Not-Associated\nBit Rate:54 Mb/s\n");
  EXPECT_NE(std::string::npos, get("/stainfo")
                                   .find("<LINK>0</LINK><MAC></MAC><CHANNEL></CHANNEL>"
                                         "<SIGNAL> dBm</SIGNAL><RATE></RATE>" +
                                         stats));
  vaps("ap", "ap");
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/stainfo"));
}

TEST_F(Live, LinkLabelsNeverReadPastTheLineOrFromTheName) {
  struct {
    const char* output;
    const char* signal;
    const char* rate;
  } cases[] = {
      {"Signal level=-52\nBit Rate:54 Mb\n", "-52", "54 Mb"},
      {"ESSID:\"Bit Rate:<x>s Signal level=&\"\nSignal level=", "", ""},
      {"Link Quality=5  Signal level=-70 dBm\n", "-70", ""},
  };
  for (const auto& c : cases) {
    fake.on_capture("iwconfig ath0", std::string("Access Point: 00:11:22:33:44:55\n") + c.output);
    link_status link = read_link_status(0, false);
    EXPECT_EQ(c.signal, link.signal) << c.output;
    EXPECT_EQ(c.rate, link.rate) << c.output;
  }
  EXPECT_EQ("5", read_link_status(0, false).quality);  // 5 * 100 / 94
}

TEST_F(Live, AssociatedClients) {
  fake.put_file("/sim/radio/ath0/stations",
                "mac=3c:15:c2:a1:07:5e signal=-48 inactive=2500 rx_rate=11000 tx_rate=54000\n"
                "mac=00:03:7f:aa:bb:01\n");
  fake.put_file("/sim/radio/wifi0/info", "channel=6\nnoise_level=-95\n");
  fake.put_file("/sim/radio/ath11/stations", "mac=00:00:00:00:00:01 signal=-60\n");
  fake.put_file("/proc/net/arp",
                "IP address       HW type     Flags       HW address            Mask     Device\n"
                "192.168.1.20     0x1         0x2         3c:15:c2:a1:07:5e     *        br-lan\n");
  system("\toption sys_mode '5'\n");
  vaps("ap", "sta",
       "\toption ssid 'A<B'\n\toption nawds_mode '1'\n"
       "\toption nawds_add_repeater '00:03:7F:AA:BB:01'\n");
  std::string doc = get("/associate");
  EXPECT_EQ(decl +
                "<WIRELESS><VAP><VAP_ID>00</VAP_ID><CLIENT><SSID>A&lt;B</SSID>"
                "<MAC>3C:15:C2:A1:07:5E</MAC><IP>192.168.1.20</IP><SIGNAL>-48 dBm</SIGNAL>"
                "<NOISE>-95 dBm</NOISE><RX_RATE>54.0 MBit/s</RX_RATE>"
                "<TX_RATE>54.0 MBit/s</TX_RATE><ASS_TIME>2000</ASS_TIME>"
                "</CLIENT><VCLIENTS_NUM>1</VCLIENTS_NUM></VAP><VAP><VAP_ID>11</VAP_ID><CLIENT>"
                "<SSID>AP11</SSID><MAC>00:00:00:00:00:01</MAC><IP></IP><SIGNAL>-60 dBm</SIGNAL>"
                "<NOISE>unknown</NOISE><RX_RATE>unknown</RX_RATE><TX_RATE>unknown</TX_RATE>"
                "<ASS_TIME>0</ASS_TIME></CLIENT><VCLIENTS_NUM>1</VCLIENTS_NUM></VAP>"
                "<CLIENTS_NUM>2</CLIENTS_NUM></WIRELESS>",
            doc);
  // Outside WDS mode the peer is a client; a SINGLE5G board lists radio 1 only.
  system("\toption submode 'SINGLE5G'\n");
  EXPECT_NE(std::string::npos, get("/associate").find("<CLIENTS_NUM>1</CLIENTS_NUM>"));
  system("");
  EXPECT_NE(std::string::npos, get("/associate").find("<CLIENTS_NUM>3</CLIENTS_NUM>"));
}

TEST(WirelessSurvey, SupplicantTable) {
  std::string long_flags(600, 'W');
  std::string text =
      "bssid / frequency / signal level / flags / ssid\n"
      "64:66:b3:90:ab:cd\t2437\t35\t[WPA2-PSK-CCMP][ESS]\tNet Net 5\n"
      "64:66:b3:90:ab:ce\t5180\t40\t[WPA2-EAP-CCMP]\tab cab\n"
      "64:66:b3:90:ab:cf\t2412\t40\t[ESS]\t\n"
      "64:66:b3:90:ab:d0\t2412\t40\t" +
      long_flags + "\tA<B\n64:66:b3:90:ab:d1\t2462\t40\t[WEP]\tcut";
  survey_result out;
  scan_results_parse(text.data(), text.size(), 0, out);
  EXPECT_EQ(
      "<AP><BAND>2G</BAND><SSID>Net Net 5</SSID><BSSID>64:66:B3:90:AB:CD</BSSID><SIGNAL>-60"
      "</SIGNAL><QUALITY>/</QUALITY><ENCRYPTION>[WPA2-PSK-CCMP][ESS]</ENCRYPTION><ENC_CODE>8"
      "</ENC_CODE><CHANNEL>6</CHANNEL></AP><AP><BAND>2G</BAND><SSID>ab cab</SSID><BSSID>"
      "64:66:B3:90:AB:CE</BSSID><SIGNAL>-55</SIGNAL><QUALITY>/</QUALITY><ENCRYPTION>"
      "[WPA2-EAP-CCMP]</ENCRYPTION><ENC_CODE>20</ENC_CODE><CHANNEL>36</CHANNEL></AP>"
      "<AP><BAND>2G</BAND><SSID>A&lt;B</SSID><BSSID>64:66:B3:90:AB:D0</BSSID><SIGNAL>-55"
      "</SIGNAL><QUALITY>/</QUALITY><ENCRYPTION>" +
          long_flags.substr(0, 255) +
          "</ENCRYPTION><ENC_CODE>0</ENC_CODE><CHANNEL>1</CHANNEL></AP>",
      out.document);
  ASSERT_EQ(3u, out.aps.size());
  EXPECT_EQ("A<B", out.aps[2].name);
}

class Survey : public Live {
 protected:
  void SetUp() override {
    Live::SetUp();
    fake.put_file("/sim/radio/wifi0/scan",
                  "bssid=64:66:b3:90:ab:cd channel=11 signal=-58 quality=52/94 crypto=wpa2 "
                  "ssid=Home\nbssid=00:11:22:33:44:55 channel=1 signal=-70 ssid=Open\n");
    fake.put_file("/sim/radio/wifi1/scan", "");
    fake.put_file("/sys/class/net/ath04/carrier", "0\n");
  }
};

const std::string home_ap =
    "<AP><BAND>2G</BAND><SSID>Home</SSID><BSSID>64:66:B3:90:AB:CD</BSSID><SIGNAL>-58 dBm"
    "</SIGNAL><QUALITY>52/94</QUALITY><ENCRYPTION>WPA2 PSK (CCMP)</ENCRYPTION><ENC_CODE>8"
    "</ENC_CODE><CHANNEL>11</CHANNEL></AP>";

TEST_F(Survey, ScanAgainAndTheInterfacesTakenDown) {
  EXPECT_EQ(envelope(1, "NO SERVICE"), get("/scan"));
  vaps("ap", "ap", "\toption disabled '1'\n");
  std::string doc = get("/scan/2g");
  EXPECT_EQ(0u, doc.find(decl + "<WIRELESS>" + home_ap + "<AP><BAND>2G</BAND><SSID>Open"));
  EXPECT_EQ(
      (commands{"/sbin/ifconfig ath0 up", "/sbin/ifconfig ath04 up", "/sbin/ifconfig ath0 down"}),
      fake.commands());
  // "again" shows the cache even when the radio hears nothing now.
  fake.put_file("/sim/radio/wifi0/scan", "");
  EXPECT_EQ(doc, get("/scan/2g/again"));
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/scan/2g"));
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/scan/2g/again"));
  // A connected extra interface scans and is taken down; no backend still
  // takes down what came up.
  fake.put_file("/sys/class/net/ath14/carrier", "1");
  fake.remove_file("/sim/radio/ath14/info");
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/scan/2g5g"));
  EXPECT_EQ((commands{"/sbin/ifconfig ath14 up", "/sbin/ifconfig ath14 down"}), fake.commands());
}

TEST_F(Survey, AnalysisListsDataAndChannels) {
  EXPECT_EQ(decl +
                "<datas><data id=\"0\" channel=\"11\" value=\"-58\" name=\"Home\"> </data>"
                "<data id=\"1\" channel=\"1\" value=\"-70\" name=\"Open\"> </data>"
                "<chnel>1</chnel><chnel>6</chnel><chnel>11</chnel><chnel>13</chnel></datas>",
            get("/analysis/2g"));
  // Nothing heard: the band asked for lists its channels.
  fake.put_file("/sim/radio/wifi0/scan", "");
  fake.put_file("/sim/radio/wifi1/freqlist", "36 5180\n");
  EXPECT_EQ(decl + "<datas><chnel>1</chnel><chnel>6</chnel><chnel>13</chnel></datas>",
            get("/analysis/2g"));
  EXPECT_EQ(decl + "<datas><chnel>36</chnel></datas>", get("/analysis/"));
}

TEST_F(Survey, SupplicantUnreachableGivesNoAp) {
  vaps("sta", "ap");
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/scan/2g"));
  EXPECT_EQ((commands{"/sbin/ifconfig ath04 up"}), fake.commands());
}

TEST_F(Live, ChannelAndPowerLists) {
  // The wireless extensions carry no power offset: the levels stay as listed.
  fake.put_file("/sim/radio/wifi1/info", "txpower=3\ntxpower_offset=1\n");
  EXPECT_EQ(decl +
                "<WIRELESS><INTERFACE><BAND>2G</BAND><CHANNEL channel=\"auto\">auto</CHANNEL>"
                "<CHANNEL channel=\"1\">1   2.412 GHz (Channel 1)</CHANNEL>"
                "<CHANNEL channel=\"6\">6 * 2.437 GHz (Channel 6)</CHANNEL>"
                "<CHANNEL channel=\"13\">13   2.472 GHz (Channel 13)</CHANNEL>"
                "</INTERFACE></WIRELESS>",
            get("/channel/2g"));
  EXPECT_NE(std::string::npos, get("/channel/5g").find("<CHANNEL channel=\"1\">1   2.412"));
  EXPECT_EQ(decl +
                "<WIRELESS><INTERFACE><BAND>2G</BAND><TXPOWER>   3 dBm (   1 mW)</TXPOWER>"
                "<TXPOWER>* 20 dBm ( 100 mW)</TXPOWER></INTERFACE><INTERFACE><BAND>5G</BAND>"
                "<TXPOWER>*  3 dBm (   1 mW)</TXPOWER><TXPOWER>  20 dBm ( 100 mW)</TXPOWER>"
                "</INTERFACE></WIRELESS>",
            get("/txpower/2G"));
  fake.remove_file("/sim/radio/ath0/info");
  fake.put_file("/sim/radio/wifi1/freqlist", "");
  EXPECT_EQ(decl + "<WIRELESS></WIRELESS>", get("/channel"));
}

TEST_F(Survey, FollowSignalRestoresTheClientAndCounts) {
  fake.put_file("/var/state/sig_follow", "");
  fake.write_config("wireless",
                    "config wifi-iface\n\toption mode 'sta'\n\toption ssid \"x';reboot;'\"\n");
  std::string doc = get("/followsig/2g/64:66:b3:90:ab:cd");
  EXPECT_EQ(decl + "<WIRELESS>" + home_ap + "</WIRELESS>", doc);
  EXPECT_EQ((commands{"iwconfig ath0 essid abcdefgh12345678igklmnop1234567 > /dev/null",
                      "iwconfig ath0 ap off > /dev/null",
                      "iwconfig ath0 essid 'x'\\'';reboot;'\\''' > /dev/null",
                      "iwconfig ath0 ap any > /dev/null"}),
            fake.commands());
  EXPECT_EQ((std::vector<std::string>{"iwconfig", "ath0", "essid", "x';reboot;'"}),
            shell_words(fake.commands()[2].substr(0, fake.commands()[2].size() - 12)).value());
  EXPECT_EQ("0\n", fake.file_text("/var/state/sig_follow"));
  EXPECT_EQ("", get("/followsig/x"));
  EXPECT_EQ("0\n", fake.file_text("/var/state/sig_follow"));
  worker().follow_counter = ~0u;
  get("/followsig/5g/x");
  EXPECT_EQ("-1\n", fake.file_text("/var/state/sig_follow"));
  EXPECT_EQ(1u, worker().follow_counter);
}

TEST_F(Survey, FollowSignalSearchesTheSurveyedApsAndRejoinsAWholeName) {
  // The client's name is 41 bytes: it rejoins with the 31 that hold whole characters.
  std::string name = "a";
  for (int i = 0; i < 20; ++i) name += "\xc3\xa9";
  fake.write_config("wireless",
                    "config wifi-iface\n\toption mode 'sta'\n\toption ssid '" + name + "'\n");
  // 1 025 APs: the last one is beyond what a survey shows.
  std::string scan;
  for (int i = 0; i < 1025; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "bssid=02:00:00:00:%02x:%02x channel=1 ssid=n\n", i / 256,
                  i % 256);
    scan += line;
  }
  fake.put_file("/sim/radio/wifi0/scan", scan);
  EXPECT_NE(std::string::npos, get("/followsig/2g/02:00:00:00:03:ff").find("<SSID>n</SSID>"));
  EXPECT_EQ("iwconfig ath0 essid '" + name.substr(0, 31) + "' > /dev/null", fake.commands()[2]);
  EXPECT_NE(std::string::npos,
            get("/followsig/2g/02:00:00:00:04:00").find("<SSID></SSID><BSSID>02:00:00:00:04:00"));
}

}  // namespace
