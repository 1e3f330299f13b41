// The driver layer's readers of the kernel's bytes and its calls. Streams are
// built from this process's layout written out by hand (head of 8 bytes on a
// 64-bit host, 4 on the 32-bit board; native byte order), so the same cases
// check both layouts: natively here, and under qemu in the target build.
#include <gtest/gtest.h>
#include <linux/wireless.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/wifi/wifi.h"
#include "tests/support/fake_effects.h"

namespace {

// The event head: length and command, padded to the alignment of a pointer.
constexpr size_t head = sizeof(void*) == 8 ? 8 : 4;
// An iw_point event's data follows its length and flags, padded likewise.
constexpr size_t point_data = head + (sizeof(void*) == 8 ? 8 : 4);
static_assert(IW_EV_LCP_LEN == head && IW_EV_POINT_LEN == point_data);

std::string native16(uint16_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 2);
}

std::string event(uint16_t command, const std::string& payload) {
  std::string out = native16(static_cast<uint16_t>(head + payload.size())) + native16(command);
  out.resize(head, '\0');
  return out + payload;
}

std::string point(uint16_t command, uint16_t flags, const std::string& data,
                  size_t announced = std::string::npos) {
  uint16_t length = static_cast<uint16_t>(announced == std::string::npos ? data.size() : announced);
  std::string out = native16(static_cast<uint16_t>(point_data + data.size())) + native16(command) +
                    std::string(head - 4, '\0') + native16(length) + native16(flags);
  out.resize(point_data, '\0');
  return out + data;
}

std::string ap(uint8_t last) {
  std::string address("\x01\x00\x00\x11\x22\x33\x44", 7);  // family, then the MAC
  address += static_cast<char>(last);
  return event(SIOCGIWAP, address + std::string(8, '\0'));
}

std::string essid(const std::string& name) {
  return point(SIOCGIWESSID, name.empty() ? 0 : 1, name);
}

template <typename T>
std::string raw(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string freq(int32_t m, int16_t e) {
  iw_freq f{};
  f.m = m;
  f.e = e;
  return event(SIOCGIWFREQ, raw(f));
}

std::string quality(uint8_t qual, uint8_t level) {
  iw_quality q{};
  q.qual = qual;
  q.level = level;
  return event(IWEVQUAL, raw(q));
}

std::string encode(uint16_t flags, size_t key = 0) {
  return point(SIOCGIWENCODE, flags, std::string(key, '\0'));
}

std::string genie(const std::string& elements) {
  return point(IWEVGENIE, 0, elements);
}

const std::string wpa_psk_tkip(
    "\xdd\x16\x00\x50\xf2\x01\x01\x00\x00\x50\xf2\x02\x01\x00"
    "\x00\x50\xf2\x02\x01\x00\x00\x50\xf2\x02",
    24);
const std::string rsn_psk_ccmp(
    "\x30\x14\x01\x00\x00\x0f\xac\x04\x01\x00\x00\x0f\xac\x04\x01\x00"
    "\x00\x0f\xac\x02\x00\x00",
    22);
const std::string rsn_8021x(
    "\x30\x12\x01\x00\x00\x0f\xac\x04\x01\x00\x00\x0f\xac\x04\x01\x00"
    "\x00\x0f\xac\x01",
    20);
const std::string vendor("\xdd\x05\x00\x50\xf2\x04\x10", 7);

wifi::ScanRange range() {
  wifi::ScanRange r;
  r.frequencies = {{2412, 1}, {2437, 6}, {5180, 36}};
  r.quality_max = 70;
  return r;
}

std::vector<wifi::ScanEntry> parse(const std::string& stream) {
  return wifi::parse_scan_events(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                 range());
}

TEST(WifiScanEvents, SecurityCells) {
  using namespace wifi;
  struct {
    const char* name;
    std::string events;
    Crypto want;
  } cases[] = {
      {"open", encode(IW_ENCODE_DISABLED | IW_ENCODE_NOKEY), {}},
      {"WEP", encode(IW_ENCODE_ENABLED | IW_ENCODE_OPEN, 5), {true, 0, 2, 2, 0, kAuthOpen}},
      {"WEP-104 shared",
       encode(IW_ENCODE_RESTRICTED, 13),
       {true, 0, kCipherWep104, kCipherWep104, 0, kAuthShared}},
      {"WPA", encode(0) + genie(wpa_psk_tkip), {true, 1, kCipherTkip, kCipherTkip, kSuitePsk, 0}},
      {"WPA2", encode(0) + genie(rsn_psk_ccmp), {true, 2, kCipherCcmp, kCipherCcmp, kSuitePsk, 0}},
      {"mixed",
       encode(0) + genie(wpa_psk_tkip + rsn_psk_ccmp),
       {true, 3, kCipherTkip | kCipherCcmp, kCipherTkip | kCipherCcmp, kSuitePsk, 0}},
      {"802.1X", encode(0) + genie(rsn_8021x), {true, 2, kCipherCcmp, kCipherCcmp, kSuite8021x, 0}},
      // Elements of other kinds around them are stepped over, in one event
      // or several.
      {"several elements",
       encode(0) + genie(vendor + rsn_psk_ccmp + vendor) + genie(wpa_psk_tkip),
       {true, 3, kCipherTkip | kCipherCcmp, kCipherTkip | kCipherCcmp, kSuitePsk, 0}},
  };
  for (const auto& c : cases) {
    auto entries = parse(ap(1) + c.events);
    ASSERT_EQ(1u, entries.size()) << c.name;
    const Crypto& got = entries[0].crypto;
    EXPECT_EQ(c.want.enabled, got.enabled) << c.name;
    EXPECT_EQ(c.want.wpa_version, got.wpa_version) << c.name;
    EXPECT_EQ(c.want.group_ciphers, got.group_ciphers) << c.name;
    EXPECT_EQ(c.want.pair_ciphers, got.pair_ciphers) << c.name;
    EXPECT_EQ(c.want.auth_suites, got.auth_suites) << c.name;
    EXPECT_EQ(c.want.auth_algs, got.auth_algs) << c.name;
  }
}

TEST(WifiScanEvents, EntriesWithNamesChannelsAndQuality) {
  uint32_t master = IW_MODE_MASTER;
  std::string stream = essid("before any AP") + ap(1) + event(SIOCGIWMODE, raw(master)) +
                       essid("Home Net") + freq(6, 0) + quality(40, 196) +
                       event(SIOCGIWRATE, std::string(8, 'x')) + ap(2) + essid("") + freq(5180, 6) +
                       ap(3) + freq(241200000, 1) + ap(4) + freq(2484, 6) +
                       essid(std::string(32, 'n'));
  auto e = parse(stream);
  ASSERT_EQ(4u, e.size());
  EXPECT_EQ(0x01, e[0].mac[5]);
  EXPECT_EQ(0x11, e[0].mac[1]);
  EXPECT_EQ(IW_MODE_MASTER, e[0].mode);
  EXPECT_STREQ("Home Net", e[0].ssid);
  EXPECT_EQ(6, e[0].channel);
  EXPECT_EQ(40, e[0].quality);
  EXPECT_EQ(70, e[0].quality_max);
  EXPECT_EQ(196, e[0].signal);
  EXPECT_STREQ("", e[1].ssid);  // hidden
  EXPECT_EQ(36, e[1].channel);  // a frequency found in the range
  EXPECT_EQ(1, e[2].channel);   // 2412 MHz written as 241200000·10
  EXPECT_EQ(0, e[3].channel);   // a frequency the range lacks
  EXPECT_EQ(std::string(32, 'n'), e[3].ssid);
}

TEST(WifiScanEvents, MalformedStreamsEndTheWalkInsideTheBuffer) {
  std::string good = ap(1) + essid("A");
  std::string zero_length = native16(0) + native16(SIOCGIWAP) + std::string(head - 4, '\0');
  std::string short_ap =
      native16(static_cast<uint16_t>(head + 4)) + native16(SIOCGIWAP) + std::string(head, '\0');
  std::string past_end = native16(static_cast<uint16_t>(ap(2).size() + 8)) + ap(2).substr(2);
  struct {
    const char* name;
    std::string tail;
    size_t entries;
  } cases[] = {
      {"zero length", zero_length + ap(2), 1},
      {"short length", short_ap + ap(2), 1},
      {"event past the buffer", past_end, 1},
      {"cut head", std::string(head - 1, '\x20'), 1},
      {"ESSID over 32", essid(std::string(33, 'x')) + ap(2), 1},
      {"ESSID longer than its event", point(SIOCGIWESSID, 1, "ab", 9) + ap(2), 1},
      {"element longer than its event", point(IWEVGENIE, 0, rsn_psk_ccmp, 40) + ap(2), 1},
      {"point event shorter than its head", event(SIOCGIWENCODE, "") + ap(2), 1},
      {"short quality", event(IWEVQUAL, "\x01") + ap(2), 1},
  };
  for (const auto& c : cases) {
    auto entries = parse(good + c.tail);
    EXPECT_EQ(c.entries, entries.size()) << c.name;
    ASSERT_FALSE(entries.empty()) << c.name;
    EXPECT_STREQ("A", entries[0].ssid) << c.name;
  }
}

TEST(WifiInformationElements, ReadAsFarAsTheyGo) {
  struct {
    const char* name;
    std::string elements;
    wifi::Crypto want;
  } cases[] = {
      // An RSN element that ends after its group cipher, or inside its list.
      {"group only", std::string("\x30\x06\x01\x00\x00\x0f\xac\x02", 8), {false, 2, 4, 0, 0, 0}},
      {"count beyond the element",
       std::string("\x30\x0c\x01\x00\x00\x0f\xac\x04\x05\x00\x00\x0f\xac\x02", 14),
       {false, 2, 16, 4, 0, 0}},
      {"empty RSN", std::string("\x30\x00", 2), {false, 2, 0, 0, 0, 0}},
      {"WPA type 2 is not WPA", std::string("\xdd\x04\x00\x50\xf2\x02", 6), {}},
      {"suite of another organisation",
       std::string("\x30\x06\x01\x00\x00\x11\x22\x04", 8),
       {false, 2, 0, 0, 0, 0}},
      {"element past the end, after a good one",
       rsn_psk_ccmp + std::string("\xdd\x20\x00\x50\xf2\x01", 6),
       {false, 2, 16, 16, 4, 0}},
      {"lone id byte", std::string("\x30", 1), {}},
  };
  for (const auto& c : cases) {
    wifi::Crypto got;
    wifi::parse_information_elements(reinterpret_cast<const uint8_t*>(c.elements.data()),
                                     c.elements.size(), got);
    EXPECT_EQ(c.want.wpa_version, got.wpa_version) << c.name;
    EXPECT_EQ(c.want.group_ciphers, got.group_ciphers) << c.name;
    EXPECT_EQ(c.want.pair_ciphers, got.pair_ciphers) << c.name;
    EXPECT_EQ(c.want.auth_suites, got.auth_suites) << c.name;
  }
}

// A station record in this process's layout.
std::string station(uint16_t length, uint8_t rssi, uint8_t last, std::vector<uint8_t> rates,
                    uint8_t tx_index, uint16_t tx_seq, uint16_t rx_seq, uint16_t inactive) {
  std::string r(std::max<size_t>(length, wifi::kStationRecordMin), '\0');
  std::memcpy(&r[0], &length, 2);
  r[9] = static_cast<char>(rssi);
  std::memcpy(&r[16], "\x00\x11\x22\x33\x44", 5);
  r[21] = static_cast<char>(last);
  r[22] = static_cast<char>(rates.size());
  for (size_t i = 0; i < rates.size() && i < 15; ++i) r[23 + i] = static_cast<char>(rates[i]);
  r[38] = static_cast<char>(tx_index);
  std::memcpy(&r[48], &tx_seq, 2);
  std::memcpy(&r[82], &rx_seq, 2);
  std::memcpy(&r[116], &inactive, 2);
  return r.substr(0, length);
}

std::vector<wifi::Station> stations(const std::string& bytes) {
  return wifi::parse_station_records(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                     -92);
}

TEST(WifiStationRecords, FieldsAndRecordsWithElements) {
  std::string with_ies = station(132, 47, 1, {2, 4, 11, 0xEC}, 3, 0x1235, 0xFFF7, 12);
  auto list = stations(with_ies + station(120, 0, 2, {22}, 1, 0, 0, 0));
  ASSERT_EQ(2u, list.size());
  const wifi::Station& s = list[0];
  EXPECT_EQ(0x01, s.mac[5]);
  EXPECT_EQ(-48, s.signal);
  EXPECT_EQ(-92, s.noise);
  EXPECT_EQ(12000u, s.inactive);
  EXPECT_EQ(0x123u, s.tx_packets);
  EXPECT_EQ(0xFFFu, s.rx_packets);
  EXPECT_EQ(54000u, s.tx_rate.kbps);  // 0xEC without its basic-rate bit
  EXPECT_EQ(54000u, s.rx_rate.kbps);
  EXPECT_EQ(-1, s.tx_rate.mcs);
  EXPECT_FALSE(s.tx_rate.is_40mhz || s.tx_rate.is_short_gi);
  EXPECT_EQ(-95, list[1].signal);
  EXPECT_EQ(0u, list[1].tx_rate.kbps);  // index beyond the rate count
}

TEST(WifiStationRecords, MalformedLengthsStopTheWalk) {
  std::string good = station(120, 50, 1, {2}, 0, 0, 0, 0);
  struct {
    const char* name;
    std::string tail;
  } cases[] = {
      {"length 0", station(0, 50, 2, {2}, 0, 0, 0, 0) + std::string(120, '\0')},
      {"length below 120", station(116, 50, 2, {2}, 0, 0, 0, 0) + std::string(8, '\0')},
      {"length past the end", station(124, 50, 2, {2}, 0, 0, 0, 0).substr(0, 122)},
      {"less than a record left", std::string(119, '\x78')},
  };
  for (const auto& c : cases) EXPECT_EQ(1u, stations(good + c.tail).size()) << c.name;
  EXPECT_TRUE(stations("").empty());
}

// The driver's answers to the scan calls, in order.
class ScanDriver : public FakeEffectsTest {
 protected:
  void SetUp() override {
    fake.on_ioctl([this](unsigned long request, void* argument) {
      auto& iw = *static_cast<iwreq*>(argument);
      if (request == SIOCGIWNAME || request == SIOCSIWSCAN) return 0;
      if (request == SIOCGIWRANGE) return 0;
      if (request != SIOCGIWSCAN) return errno = EOPNOTSUPP, -1;
      asked.push_back(iw.u.data.length);
      if (next < answers.size()) {
        auto [error, hint] = answers[next++];
        if (error) {
          iw.u.data.length = hint;
          return errno = error, -1;
        }
      } else if (forever) {
        return errno = forever, -1;
      }
      std::string stream = ap(7);
      std::memcpy(iw.u.data.pointer, stream.data(), stream.size());
      iw.u.data.length = static_cast<uint16_t>(stream.size());
      return 0;
    });
  }
  bool scan(int64_t deadline, std::vector<wifi::ScanEntry>& out) {
    wifi::Backend* b = wifi::backend("ath0");
    return b && b->scanlist("ath0", out, deadline);
  }
  std::vector<std::pair<int, uint16_t>> answers;
  size_t next = 0;
  int forever = 0;
  std::vector<size_t> asked;
};

TEST_F(ScanDriver, BusyAndTooSmallAnswersUntilTheResults) {
  answers = {{EAGAIN, 0}, {E2BIG, 6000}, {EAGAIN, 0}, {E2BIG, 0}};
  std::vector<wifi::ScanEntry> out;
  ASSERT_TRUE(scan(15000, out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(7, out[0].mac[5]);
  EXPECT_EQ((std::vector<size_t>{4096, 4096, 6000, 6000, 12000}), asked);
  EXPECT_EQ((std::vector<unsigned>{250, 100, 100}), fake.sleeps());
}

TEST_F(ScanDriver, GrowthStopsAtTheLargestBuffer) {
  forever = E2BIG;
  std::vector<wifi::ScanEntry> out;
  EXPECT_FALSE(scan(15000, out));
  EXPECT_EQ((std::vector<size_t>{4096, 8192, 16384, 32768, 65535}), asked);
}

TEST_F(ScanDriver, ADriverBusyForeverEndsAtTheDeadline) {
  forever = EAGAIN;
  std::vector<wifi::ScanEntry> out;
  EXPECT_FALSE(scan(1030, out));
  unsigned slept = 0;
  for (unsigned ms : fake.sleeps()) slept += ms;
  EXPECT_EQ(1030u, slept);  // 250, seven times 100, then the last 80
  EXPECT_EQ(9u, asked.size());
  // A deadline already past still asks once, without waiting.
  asked.clear();
  EXPECT_FALSE(scan(0, out));
  EXPECT_EQ(1u, asked.size());
}

TEST_F(ScanDriver, NoInterfaceNoBackend) {
  fake.on_ioctl([](unsigned long, void*) { return errno = ENODEV, -1; });
  EXPECT_EQ(nullptr, wifi::backend("ath0"));
  EXPECT_EQ(nullptr, wifi::backend("a-name-too-long-for-ifreq"));
}

// Power levels and the current power in milliwatts or dBm.
TEST(WifiPower, LevelsAndConversions) {
  for (auto [dbm, mw] : {std::pair{-10, 1}, {0, 1}, {9, 7}, {13, 19}, {20, 100}, {23, 199}})
    EXPECT_EQ(mw, wifi::dbm_to_mw(dbm)) << dbm;
  for (auto [mw, dbm] :
       {std::pair{0, 0}, {1, 0}, {2, 3}, {100, 20}, {199, 23}, {200, 23}, {1000, 30}})
    EXPECT_EQ(dbm, wifi::mw_to_dbm(mw)) << mw;
}

class PowerDriver : public FakeEffectsTest {
 protected:
  void SetUp() override {
    fake.on_ioctl([this](unsigned long request, void* argument) {
      auto& iw = *static_cast<iwreq*>(argument);
      if (request == SIOCGIWRANGE) {
        std::memcpy(iw.u.data.pointer, &range, sizeof range);
        return 0;
      }
      if (request == SIOCGIWTXPOW) {
        iw.u.txpower = power;
        return 0;
      }
      if (request == SIOCGIWFREQ) {
        iw.u.freq = frequency;
        return 0;
      }
      return 0;
    });
  }
  iw_range range{};
  iw_param power{};
  iw_freq frequency{};
  wifi::Backend b;
};

TEST_F(PowerDriver, ListsAndCurrentValues) {
  range.num_txpower = 2;
  range.txpower[0] = 20;
  range.txpower[1] = 100;
  std::vector<wifi::TxPower> levels;
  ASSERT_TRUE(b.txpwrlist("ath0", levels));
  EXPECT_EQ(100, levels[0].mw);
  range.txpower_capa = IW_TXPOW_MWATT;
  ASSERT_TRUE(b.txpwrlist("ath0", levels));
  EXPECT_EQ(20, levels[1].dbm);
  EXPECT_EQ(100, levels[1].mw);
  range.txpower_capa = IW_TXPOW_RELATIVE;
  EXPECT_FALSE(b.txpwrlist("ath0", levels));
  range.txpower_capa = 0;
  range.num_txpower = IW_MAX_TXPOWER + 1;
  EXPECT_FALSE(b.txpwrlist("ath0", levels));
  range.num_txpower = 0;
  EXPECT_FALSE(b.txpwrlist("ath0", levels));

  int value = 0;
  power.value = 199;
  power.flags = IW_TXPOW_MWATT;
  ASSERT_TRUE(b.txpower("ath0", value));
  EXPECT_EQ(23, value);

  range.num_frequency = 2;
  range.freq[0] = {2412, 6, 1, 0};
  range.freq[1] = {2437, 6, 6, 0};
  frequency = {2437000, 3, 0, 0};
  ASSERT_TRUE(b.channel("ath0", value));
  EXPECT_EQ(6, value);
  frequency = {11, 0, 0, 0};
  ASSERT_TRUE(b.channel("ath0", value));
  EXPECT_EQ(11, value);
  frequency = {2484, 6, 0, 0};
  EXPECT_FALSE(b.channel("ath0", value));
  std::vector<wifi::Frequency> list;
  ASSERT_TRUE(b.freqlist("ath0", list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(2437u, list[1].mhz);
  EXPECT_EQ(6, list[1].channel);
  EXPECT_FALSE(list[1].restricted);
}

}  // namespace
