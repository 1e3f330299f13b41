#include "agent/config.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/fake_effects.h"

namespace {

const char* const network_config =
    "config interface 'lan'\n"
    "\toption proto 'static'\n"
    "\toption ipaddr '192.168.1.1'\n"
    "\toption enabled '1'\n"
    "\toption disabled '0'\n"
    "\toption word 'yes'\n"
    "\toption hexzero '0x1'\n"
    "\toption mtu '1500'\n"
    "\toption name 'abc'\n"
    "\tlist dns 'a'\n"
    "\tlist dns 'b'\n"
    "\tlist dns 'c'\n"
    "\n"
    "config rule\n"
    "\toption src 'lan'\n"
    "\n"
    "config rule\n"
    "\toption src 'wan'\n";

class ConfigTest : public FakeEffectsTest {
 protected:
  void SetUp() override { fake.write_config("network", network_config); }
};

// ---- reads ----

TEST_F(ConfigTest, SectionPathReadsItsType) {
  EXPECT_EQ(cfg_get("network.lan"), "interface");
}

TEST_F(ConfigTest, MissingPathsReadEmptyAndClearTheBuffer) {
  char buffer[16] = "leftover";
  EXPECT_STREQ(cfg_get("network.lan.nope", buffer, sizeof buffer), "");
  EXPECT_EQ(cfg_get("network.nope"), "");
  EXPECT_EQ(cfg_get("nopkg.a.b"), "");
}

TEST_F(ConfigTest, ListItemsAreJoinedBySingleBlanksAndCutToTheBuffer) {
  char buffer[64];
  EXPECT_STREQ(cfg_get("network.lan.dns", buffer, sizeof buffer), "a b c");
  char small[4];
  EXPECT_STREQ(cfg_get("network.lan.dns", small, sizeof small), "a b");
}

TEST_F(ConfigTest, PathsOf256CharactersReadEmpty) {
  std::string prefix = "network.lan.";
  std::string option(255 - prefix.size(), 'x');
  fake.write_config("network",
                    std::string("config interface 'lan'\n\toption ") + option + " 'v'\n");
  EXPECT_EQ(cfg_get(prefix + option), "v");
  char buffer[8];
  EXPECT_STREQ(cfg_get((prefix + option).c_str(), buffer, sizeof buffer), "v");

  std::string longer = option + "y";
  fake.write_config("network",
                    std::string("config interface 'lan'\n\toption ") + longer + " 'v'\n");
  EXPECT_EQ(cfg_get(prefix + longer), "");
}

TEST_F(ConfigTest, FlagsAreTrueUnlessEmptyOrStartingWithZero) {
  EXPECT_TRUE(cfg_flag("network.lan.enabled"));
  EXPECT_TRUE(cfg_flag("network.lan.word"));
  EXPECT_FALSE(cfg_flag("network.lan.disabled"));
  EXPECT_FALSE(cfg_flag("network.lan.hexzero"));
  EXPECT_FALSE(cfg_flag("network.lan.nope"));
}

TEST_F(ConfigTest, IntegersReadWithAtoi) {
  int value = 7;
  EXPECT_TRUE(cfg_int("network.lan.mtu", &value));
  EXPECT_EQ(value, 1500);
  EXPECT_TRUE(cfg_int("network.lan.name", &value));
  EXPECT_EQ(value, 0);
  value = 7;
  EXPECT_FALSE(cfg_int("network.lan.nope", &value));
  EXPECT_EQ(value, 0);
}

// ---- changes ----

TEST_F(ConfigTest, SetEscapesAllFourShellCharactersAndIsReadBackAtOnce) {
  const char* value = "a\"b$c`d\\e";
  testing::internal::CaptureStdout();
  EXPECT_EQ(cfg_set("network.lan.name", value), 0);
  std::string trace = testing::internal::GetCapturedStdout();

  std::string command = "uci set network.lan.name=\"a\\\"b\\$c\\`d\\\\e\"";
  ASSERT_EQ(fake.commands(), std::vector<std::string>{command});
  EXPECT_EQ(trace, "cmd " + command + " " + std::to_string(command.size()) + " 13\n");
  EXPECT_EQ(cfg_get("network.lan.name"), value) << fake.uci_errors();
}

TEST_F(ConfigTest, AddListEscapesExpansionCharactersToo) {
  const char* value = "x\"$(reboot)`id`\\";
  cfg_add_list("network.lan.dns", value);
  EXPECT_EQ(fake.commands().back(),
            "uci add_list network.lan.dns=\"x\\\"\\$(reboot)\\`id\\`\\\\\"");
  EXPECT_EQ(cfg_get("network.lan.dns"), std::string("a b c ") + value);
}

TEST_F(ConfigTest, AnonymousPathsKeepTheirPlainForm) {
  fake.write_config("wireless", "config wifi-iface\n\toption ssid 'old'\n");
  cfg_set("wireless.@wifi-iface[0].ssid", "x");
  EXPECT_EQ(fake.commands().back(), "uci set wireless.@wifi-iface[0].ssid=\"x\"");
  EXPECT_EQ(cfg_get("wireless.@wifi-iface[0].ssid"), "x");
}

TEST_F(ConfigTest, PathsWithOtherCharactersAreQuoted) {
  cfg_set("network.lan;reboot.x", "1");
  cfg_delete("network.lan.a b");
  cfg_commit("net work");
  std::vector<std::string> expected = {"uci set 'network.lan;reboot.x'=\"1\"",
                                       "uci delete 'network.lan.a b'", "uci commit 'net work'"};
  EXPECT_EQ(fake.commands(), expected);
}

TEST_F(ConfigTest, ValuesLongerThanTheLimitAfterEscapingAreNotStaged) {
  std::string fits(cfg_value_limit - 2, 'a');
  fits += '"';  // escapes to two characters: exactly at the limit
  std::string too_long = fits + "b";
  testing::internal::CaptureStdout();
  EXPECT_EQ(cfg_set("network.lan.name", fits.c_str()), 0);
  EXPECT_TRUE(cfg_get("network.lan.name") == fits);
  EXPECT_EQ(cfg_set("network.lan.name", too_long), -1);
  EXPECT_EQ(cfg_add_list("network.lan.dns", too_long), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(fake.commands().size(), 1u);
  EXPECT_TRUE(cfg_get("network.lan.name") == fits);
}

TEST_F(ConfigTest, DeleteTraceAndCommitMakeChangesPermanent) {
  testing::internal::CaptureStdout();
  cfg_delete("network.lan.mtu");
  cfg_commit("network");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "cmd uci delete network.lan.mtu 26 0\n");
  std::vector<std::string> expected = {"uci delete network.lan.mtu", "uci commit network"};
  EXPECT_EQ(fake.commands(), expected);
  EXPECT_EQ(fake.read_config("network").find("mtu"), std::string::npos);
  EXPECT_EQ(cfg_get("network.lan.mtu"), "");
}

TEST_F(ConfigTest, DeletingInALoopUntilAReadComesBackEmptyEnds) {
  int deleted = 0;
  while (!cfg_get("network.@rule[0]").empty() && deleted < 5) {
    cfg_delete("network.@rule[0]");
    ++deleted;
  }
  EXPECT_EQ(deleted, 2);
}

// ---- shell readers ----

TEST_F(ConfigTest, WanReadersTakeTheFirstLineWithoutItsLineFeed) {
  const std::string command = ". /lib/functions/network.sh; network_get_ipaddr ip wan; echo $ip";
  fake.on_capture(command, "10.0.0.2\nsecond\n");
  char buffer[32];
  EXPECT_STREQ(read_wan_ipaddr(buffer, sizeof buffer), "10.0.0.2");
  EXPECT_EQ(fake.commands(), std::vector<std::string>{command});
  char small[5];
  EXPECT_STREQ(read_wan_ipaddr(small, sizeof small), "10.0");
}

TEST_F(ConfigTest, WanReadersLeaveTheBufferAloneWhenNothingIsPrinted) {
  char buffer[16] = "keep";
  EXPECT_STREQ(read_wan_gateway(buffer, sizeof buffer), "keep");
  fake.on_capture_prefix(". /lib/functions/network.sh; network_get_dnsserver", "8.8.8.8 1.1.1.1");
  EXPECT_STREQ(read_wan_dnsserver(buffer, sizeof buffer), "8.8.8.8 1.1.1.1");
}

// ---- address checks ----

TEST(AddressChecks, Ipv4) {
  EXPECT_EQ(ipv4_valid("192.168.1.1"), 1);
  EXPECT_EQ(ipv4_valid("0.0.0.0"), 1);
  EXPECT_EQ(ipv4_valid("256.1.1.1"), 0);
  EXPECT_EQ(ipv4_valid("1.2.3"), 0);
  EXPECT_EQ(ipv4_valid(""), 0);
  EXPECT_EQ(ipv4_valid("1.2.3.4 "), 0);
}

TEST(AddressChecks, NetmasksAreOnesFollowedByZeros) {
  for (const char* good : {"0.0.0.0", "255.255.255.0", "255.255.255.255", "128.0.0.0"})
    EXPECT_TRUE(netmask_valid(good)) << good;
  for (const char* bad : {"255.255.0.255", "255.0.255.0", "0.255.255.255", "255.255.255", "x"})
    EXPECT_FALSE(netmask_valid(bad)) << bad;
}

// ---- interfaces ----

size_t open_descriptor_count() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

TEST(IfaceInfo, LoopbackAddresses) {
  iface_record record{};
  int result = iface_info("lo", &record);
  EXPECT_STREQ(record.hwaddr, "00:00:00:00:00:00");
  if (result == EADDRNOTAVAIL) GTEST_SKIP() << "loopback has no IPv4 address here";
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(record.addr, "127.0.0.1");
  EXPECT_STREQ(record.netmask, "255.0.0.0");
}

TEST(IfaceInfo, FailuresReturnErrnoLeaveFieldsAndCloseTheSocket) {
  size_t before = open_descriptor_count();
  iface_record record{};
  std::strcpy(record.addr, "untouched");
  EXPECT_EQ(iface_info("nosuchif0", &record), ENODEV);
  EXPECT_EQ(iface_info("a-name-longer-than-ifnamsiz", &record), ENAMETOOLONG);
  EXPECT_STREQ(record.addr, "untouched");
  EXPECT_EQ(open_descriptor_count(), before);
}

// ---- ARP table ----

TEST_F(ConfigTest, ArpTableKeepsFileOrderUpperCasesAndSkipsOddLines) {
  fake.put_file("/proc/net/arp",
                "IP address       HW type     Flags       HW address            Mask     Device\n"
                "192.168.1.10     0x1         0x2         aa:bb:cc:dd:ee:ff     *        br-lan\n"
                "\n"
                "garbage line\n"
                "192.168.1.11     0x1         0x0         00:00:00:00:00:00     *\n" +
                    std::string(300, 'x') + " 0x1 0x2 11:22:33:44:55:66 * eth0\n" +
                    "10.0.0.2 0X1 0x2 11:22:33:44:55:66 * eth0\n" +
                    "10.0.0.1 0x1 0x6 11:22:33:44:55:66 * eth0");
  arp_entry* table = arp_table_read();
  ASSERT_NE(table, nullptr);
  EXPECT_STREQ(table->ip, "192.168.1.10");
  EXPECT_EQ(table->hw_type, 1);
  EXPECT_EQ(table->flags, 2);
  EXPECT_STREQ(table->hwaddr, "AA:BB:CC:DD:EE:FF");
  EXPECT_STREQ(table->mask, "*");
  EXPECT_STREQ(table->device, "br-lan");
  ASSERT_NE(table->next, nullptr);
  EXPECT_STREQ(table->next->ip, "10.0.0.1");
  EXPECT_EQ(table->next->flags, 6);
  EXPECT_EQ(table->next->next, nullptr);

  EXPECT_STREQ(arp_table_find(table, "aa:BB:cc:DD:ee:FF"), "192.168.1.10");
  EXPECT_EQ(arp_table_find(table, "00:00:00:00:00:01"), nullptr);
  arp_table_free(table);
}

TEST_F(ConfigTest, ArpTableWithoutEntriesOrFileIsNull) {
  EXPECT_EQ(arp_table_read(), nullptr);
  fake.put_file("/proc/net/arp", "IP address       HW type     Flags       HW address\n");
  EXPECT_EQ(arp_table_read(), nullptr);
}

// ---- text helpers ----

TEST(TextHelpers, XmlEscapeReplacesTheFiveCharacters) {
  const char source[] = "a\"b&c'd<e>f";
  char dest[sizeof source * 6];
  size_t written = xml_escape(dest, source, std::strlen(source));
  EXPECT_STREQ(dest, "a&quot;b&amp;c&apos;d&lt;e&gt;f");
  EXPECT_EQ(written, std::strlen(dest));
  EXPECT_EQ(xml_escape(std::string("<x>")), "&lt;x&gt;");
  EXPECT_EQ(xml_escape(dest, source, 0), 0u);
  EXPECT_STREQ(dest, "");
}

struct EscapeCase {
  const char* what;
  std::string text;
  std::string escaped;
};

// U+FFFD as it is written in place of what a document cannot hold.
const std::string fffd = "\xEF\xBF\xBD";

TEST(TextHelpers, XmlEscapeWritesEveryTextAsWellFormedCharacterData) {
  const EscapeCase cases[] = {
      {"plain text, tab, line feed, DEL and C1 controls stay", "ab ~\t\n\x7F\xC2\x85",
       "ab ~\t\n\x7F\xC2\x85"},
      {"carriage return", "a\r\nb", "a&#13;\nb"},
      {"C0 controls and NUL", std::string("a\x01\x1B\x1F\0", 5), "a" + fffd + fffd + fffd + fffd},
      {"CDATA end", "]]>", "]]&gt;"},
      {"two-, three- and four-byte characters", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80",
       "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {"bytes that are never UTF-8, a stray continuation", "\xFF\xFE\x80z",
       fffd + fffd + fffd + "z"},
      {"characters cut short", "\xE4\xB8<\xC3", fffd + fffd + "&lt;" + fffd},
      {"overlong form, surrogate, beyond U+10FFFF", "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80",
       fffd + fffd + fffd + fffd + fffd + fffd + fffd + fffd + fffd},
      {"U+FFFE and U+FFFF, U+FFFD stays", "\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xBF\xBD",
       fffd + fffd + fffd},
  };
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(xml_escape(c.text), c.escaped) << c.what;
    // The buffer form never writes more than six bytes a byte.
    std::vector<char> dest(c.text.size() * 6 + 1, 'X');
    EXPECT_EQ(xml_escape(dest.data(), c.text.data(), c.text.size()), c.escaped.size()) << c.what;
    EXPECT_EQ(std::string(dest.data()), c.escaped) << c.what;
  }
}

struct CutCase {
  const char* what;
  std::string text;
  size_t max_bytes;
  std::string kept;
};

TEST(TextHelpers, Utf8CutBacksUpToTheStartOfTheSplitCharacter) {
  const std::string e_acute = "\xC3\xA9";
  const std::string zhong = "\xE4\xB8\xAD";
  const std::string emoji = "\xF0\x9F\x98\x80";
  const CutCase cases[] = {
      {"fits", "abc", 3, "abc"},
      {"ASCII cut", "abcd", 3, "abc"},
      {"cut after a whole character", "a" + e_acute + "b", 3, "a" + e_acute},
      {"inside a two-byte character", "a" + e_acute, 2, "a"},
      {"inside a three-byte character, at 1", zhong + zhong, 4, zhong},
      {"inside a three-byte character, at 2", zhong + zhong, 5, zhong},
      {"inside a four-byte character", "a" + emoji, 4, "a"},
      {"nothing left", e_acute, 1, ""},
      {"stray continuation bytes are cut where they stand", "ab\x80\x80\x80\x80", 3, "ab\x80"},
      {"lead byte without continuation", "a\xC3zz", 2, "a\xC3"},
      {"a complete character followed by a stray byte", e_acute + "\x80", 2, e_acute},
  };
  for (const CutCase& c : cases) {
    EXPECT_EQ(utf8_cut(c.text, c.max_bytes), c.kept) << c.what;
    EXPECT_EQ(utf8_cut_length(c.text.data(), c.text.size(), c.max_bytes), c.kept.size()) << c.what;
  }
}

TEST_F(ConfigTest, BufferReadsCutAtACharacterBoundary) {
  fake.write_config("network", "config interface 'lan'\n\toption name 'a\xC3\xA9\xC3\xA9'\n");
  char buffer[5];
  EXPECT_STREQ(cfg_get("network.lan.name", buffer, sizeof buffer), "a\xC3\xA9");
}

TEST(TextHelpers, HexEncodeIsUpperCasePairs) {
  const unsigned char bytes[] = {0x41, 0xE4};
  char dest[5];
  EXPECT_STREQ(hex_encode(bytes, 2, dest), "41E4");
  EXPECT_STREQ(hex_encode(bytes, 0, dest), "");
}

TEST(TextHelpers, StageableValuesFollowTheStoreCharacterRuleAndLimit) {
  EXPECT_TRUE(cfg_value_stageable(""));
  EXPECT_TRUE(cfg_value_stageable("a\tb\r\nc"));
  EXPECT_TRUE(cfg_value_stageable(std::string(cfg_value_limit, 'x')));
  EXPECT_FALSE(cfg_value_stageable(std::string(cfg_value_limit + 1, 'x')));
  // Escaping counts: each " becomes two characters inside the command.
  EXPECT_FALSE(cfg_value_stageable(std::string(cfg_value_limit / 2 + 1, '"')));
  EXPECT_FALSE(cfg_value_stageable("1300\x01"));
  EXPECT_FALSE(cfg_value_stageable("a\x7f"));
  EXPECT_TRUE(cfg_value_stageable(static_cast<const char*>(nullptr)));
}

TEST(TextHelpers, HexDecode) {
  char dest[8];
  EXPECT_STREQ(hex_decode("414243", dest), "ABC");
  EXPECT_STREQ(hex_decode("4142434", dest), "ABC");
  EXPECT_STREQ(hex_decode("6a6B", dest), "jk");
  EXPECT_STREQ(hex_decode("00", dest), "");
  EXPECT_STREQ(hex_decode("", dest), "");
  // Non-hex digits count as -1: (16 * -1 + 1) modulo 256.
  hex_decode("z1", dest);
  EXPECT_EQ(static_cast<unsigned char>(dest[0]), 0xF1);
}

TEST(TextHelpers, HexRoundTripOfEveryNonZeroByte) {
  unsigned char bytes[255];
  for (int i = 0; i < 255; ++i) bytes[i] = static_cast<unsigned char>(i + 1);
  char hex[2 * sizeof bytes + 1];
  char decoded[sizeof bytes + 1];
  hex_decode(hex_encode(bytes, sizeof bytes, hex), decoded);
  EXPECT_EQ(std::memcmp(decoded, bytes, sizeof bytes), 0);
  EXPECT_EQ(decoded[sizeof bytes], '\0');
}

// ---- character sets ----

const std::string nihao_utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD";
const std::string nihao_gb2312 = "\xC4\xE3\xBA\xC3";

TEST(Charset, LooksGb2312CountsPairsAgainstForeignBytes) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(looks_gb2312("plain ascii", 11));
  EXPECT_TRUE(looks_gb2312(nihao_gb2312.data(), nihao_gb2312.size()));
  EXPECT_FALSE(looks_gb2312(nihao_utf8.data(), nihao_utf8.size()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0 0\n2 0\n1 2\n");
}

TEST(Charset, LeadByteAtTheEndIsForeignAndNotReadPast) {
  std::vector<char> text = {'a', '\xC4'};  // exact size, so a read past it is caught by ASan
  testing::internal::CaptureStdout();
  EXPECT_FALSE(looks_gb2312(text.data(), text.size()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0 1\n");
}

TEST(Charset, Gb2312RoundTrip) {
  char gb[16] = {};
  ASSERT_EQ(utf8_to_gb2312(nihao_utf8.data(), nihao_utf8.size(), gb, sizeof gb), 0);
  EXPECT_EQ(std::string(gb), nihao_gb2312);
  char utf8[16] = {};
  ASSERT_EQ(gb2312_to_utf8(gb, std::strlen(gb), utf8, sizeof utf8), 0);
  EXPECT_EQ(std::string(utf8), nihao_utf8);
}

TEST(Charset, ConversionFailuresReturnMinusOneAndStayInsideTheOutput) {
  char out[8];
  std::memset(out, '#', sizeof out);
  // Room for one of the two three-byte characters only.
  EXPECT_EQ(gb2312_to_utf8(nihao_gb2312.data(), nihao_gb2312.size(), out, 4), -1);
  EXPECT_EQ(std::string(out, 3), nihao_utf8.substr(0, 3));
  EXPECT_EQ(std::string(out + 4, 4), "####");

  char gb[8] = {};
  EXPECT_EQ(utf8_to_gb2312("\xFF\xFE", 2, gb, sizeof gb), -1);
  EXPECT_EQ(gb2312_to_utf8("\xC4", 1, gb, sizeof gb), -1);  // cut pair
}

}  // namespace
