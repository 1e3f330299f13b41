#include "agent/factory.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "tests/support/fake_effects.h"

namespace {

const std::string header = "Content-type: text/html\n\n";
const std::string reset_command = "(sleep 3; kill -15 -1; rm -rf /overlay/*; reboot) &";

std::string result(const std::string& value) {
  return header + "{\"result\":\t \"" + value + "\"}";
}

// One wifi-iface section of the factory wireless file.
std::string iface(const std::string& ssid, const std::string& encryption,
                  const std::string& key_options) {
  return "config wifi-iface\n\toption ssid '" + ssid + "'\n\toption encryption '" + encryption +
         "'\n" + key_options + "\n";
}

class Factory : public FakeEffectsTest {
 protected:
  // Factory defaults of a board; slots 0 and 4 get the two given sections,
  // the others plain open ones.
  void rom(const std::string& hardver, const std::string& submode, const std::string& slot0,
           const std::string& slot4, const std::string& sys_mode = "1") {
    fake.put_file("/rom/etc/config/system", "config system\n\toption hardver '" + hardver +
                                                "'\n\toption submode '" + submode +
                                                "'\n\toption sys_mode '" + sys_mode + "'\n");
    fake.put_file("/rom/etc/config/network",
                  "config interface 'lan'\n\toption ipaddr '192.168.10.1'\n");
    fake.put_file("/rom/etc/config/dhcp",
                  "config dhcp 'lan'\n\toption start '100'\n\toption limit '150'\n");
    std::string wireless =
        "config wifi-device 'wifi0'\n\toption channel '6'\n\n"
        "config wifi-device 'wifi1'\n\toption channel '149'\n\n" +
        slot0;
    for (int i = 1; i < 4; ++i) wireless += iface("x", "none", "");
    wireless += slot4;
    fake.put_file("/rom/etc/config/wireless", wireless);
  }

  std::string ask(const std::string& query) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    std::vector<char> text(query.begin(), query.end());
    text.push_back('\0');
    EXPECT_EQ(factory_request(fds[0], text.data()), 0);
    close(fds[0]);
    std::string reply;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fds[1], chunk, sizeof chunk)) > 0) reply.append(chunk, n);
    close(fds[1]);
    return reply;
  }

  bool reset_started() {
    for (const std::string& command : fake.commands())
      if (command == reset_command) return true;
    return false;
  }
};

std::string eth0_mac() {
  iface_record record{};
  iface_info("eth0", &record);
  return record.hwaddr;
}

TEST(QueryParse, DecodesPlusAndPercentEscapesOfEitherCase) {
  EXPECT_EQ(query_decode("a+b%41%4a%4A%2b"), "a bAJJ+");
  // '+' turns into a blank before escapes are read, so %2B stays a plus.
  EXPECT_EQ(query_decode("%2B+"), "+ ");
  // Incomplete escapes at the end are dropped.
  EXPECT_EQ(query_decode("ab%4"), "ab");
  EXPECT_EQ(query_decode("ab%"), "ab");
  // A decoded zero byte ends the text.
  EXPECT_EQ(query_decode("ab%00cd"), "ab");
}

TEST(QueryParse, SplitsPairsAndIgnoresATrailingNameWithoutValue) {
  auto pairs = query_parse("opcode=1&x%3D=a+b&tail");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].name, "opcode");
  EXPECT_EQ(pairs[0].value, "1");
  EXPECT_EQ(pairs[1].name, "x=");
  EXPECT_EQ(pairs[1].value, "a b");
  // A name runs to the next '=', whatever comes before it.
  pairs = query_parse("a&opcode=1");
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].name, "a&opcode");
  // The last value keeps the rest of the line.
  pairs = query_parse("opcode=3 HTTP/1.1");
  EXPECT_EQ(pairs.at(0).value, "3 HTTP/1.1");
  EXPECT_TRUE(query_parse("").empty());
  EXPECT_TRUE(query_parse("opcode").empty());
}

TEST(QueryParse, LimitsNamesValuesAndPairs) {
  std::string many;
  for (int i = 0; i < 300; ++i) many += "n" + std::to_string(i) + "=v&";
  auto pairs = query_parse(many.c_str());
  ASSERT_EQ(pairs.size(), query_pair_limit);
  EXPECT_EQ(pairs.back().name, "n254");

  std::string long_pair = std::string(200, 'n') + "=" + std::string(5000, 'v') + "&b=c";
  pairs = query_parse(long_pair.c_str());
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].name.size(), query_name_limit);
  EXPECT_EQ(pairs[0].value.size(), query_value_limit);
  EXPECT_EQ(pairs[1].name, "b");
}

TEST(JsonEscape, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(json_escape("plain AP-2G"), "plain AP-2G");
  EXPECT_EQ(json_escape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\u000a\\u0001");
  EXPECT_EQ(json_escape("\xe4\xb8\xad"), "\xe4\xb8\xad");
}

TEST_F(Factory, RomReaderRunsTheToolAndKeepsOneLine) {
  fake.on_capture("uci -q -c /rom/etc/config/ get system.@system[0].hardver", "HX 9344 \n2\n");
  EXPECT_EQ(rom_cfg_get("system.@system[0].hardver"), "HX 9344 ");
  fake.on_capture("uci -q -c /rom/etc/config/ get network.lan.x", std::string(600, 'k'));
  EXPECT_EQ(rom_cfg_get("network.lan.x"), std::string(511, 'k'));
  EXPECT_EQ(rom_cfg_get("network.lan.missing"), "");
}

TEST_F(Factory, OtherOrMissingOpcodesAnswerOne) {
  for (const char* query :
       {"opcode=7", "opcode=abc", "opcode=0", "opcodex=2", "opcode", "opcode=%", "opcode=\"4\""})
    EXPECT_EQ(ask(query), result("1")) << query;
  EXPECT_FALSE(reset_started());
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(Factory, EncodedOrQuotedTwoStartsTheFactoryReset) {
  EXPECT_EQ(ask("opcode=%32 HTTP/1.1"), result("0"));
  EXPECT_EQ(fake.commands(), std::vector<std::string>{reset_command});
  fake.clear_commands();
  // Only four characters count; one quote at either end is removed.
  EXPECT_EQ(ask("opcode=\"2\"&x=1"), result("0"));
  EXPECT_EQ(ask("x=1&opcode=2&opcode=3"), result("0"));
  EXPECT_EQ(fake.commands().size(), 2u);
}

time_t modified(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

TEST_F(Factory, ResetButtonTestReportsTheFileAndLeavesTheMarker) {
  EXPECT_EQ(ask("opcode=3 HTTP/1.1"), result("0"));
  EXPECT_EQ(modified(fake.host_path("/var/testprotect_noreset")), fake.now());
  EXPECT_FALSE(reset_started());
  // A marker that is there already gets the time of the new test.
  fake.set_now(fake.now() + 3600);
  EXPECT_EQ(ask("opcode=3"), result("0"));
  EXPECT_EQ(modified(fake.host_path("/var/testprotect_noreset")), fake.now());

  fake.put_file("/var/resetbuttontest", "1\nmore\n");
  EXPECT_EQ(ask("opcode=3"), result("1"));
  fake.put_file("/var/resetbuttontest", "\"");
  EXPECT_EQ(ask("opcode=3"), result("\\\""));
  fake.put_file("/var/resetbuttontest", "");
  EXPECT_EQ(ask("opcode=3"), result("0"));
}

TEST_F(Factory, ProductInformationOfADualBandBoard) {
  rom("HX5-9558-V2", "DUAL", iface("AP-2G", "psk2+ccmp", "\toption key '12345678'"),
      iface("AP-5G", "wep-shared", "\toption key '1'\n\toption key1 's:abcde'"), "3");
  fake.write_config("system", "config system\n\toption version 'V1.2'\n");
  std::string expected = header + "{\"pd_sw_ver_val\":\"V1.2\",\"pd_mac_val\":\"" + eth0_mac() +
                         "\",\"pd_opmode_val\":\"1\",\"pd_ip_val\":\"192.168.10.1\","
                         "\"pd_dhcpserver_ipstart_val\":\"192.168.10.100\","
                         "\"pd_dhcpserver_ipend_val\":\"192.168.10.249\","
                         "\"ItemList\":{\"wlandata\":["
                         "{\"pd_wlan_ssid_val\":\"AP-2G\",\"pd_wlan_channel_val\":\"6\","
                         "\"pd_wlan_authmode_val\":\"6\",\"pd_wlan_cipher_val\":\"3\","
                         "\"pd_wlan_pwd_val\":\"3132333435363738\"},"
                         "{\"pd_wlan_ssid_val\":\"AP-5G\",\"pd_wlan_channel_val\":\"149\","
                         "\"pd_wlan_authmode_val\":\"2\",\"pd_wlan_cipher_val\":\"0\","
                         "\"pd_wlan_pwd_val\":\"abcde\"}],\"count\":\"2\"}}";
  EXPECT_EQ(ask("opcode=1"), expected);
}

TEST_F(Factory, SingleBandBoardsDescribeOneBand) {
  const std::string empty_entry =
      "{\"pd_wlan_ssid_val\":\"\",\"pd_wlan_channel_val\":\"\",\"pd_wlan_authmode_val\":\"0\","
      "\"pd_wlan_cipher_val\":\"0\",\"pd_wlan_pwd_val\":\"\"}],\"count\":\"1\"}}";
  rom("HX3-9341-V1", "SINGLE", iface("AP-2G", "none", ""), iface("AP-5G", "none", ""));
  std::string reply = ask("opcode=1");
  EXPECT_NE(reply.find("{\"pd_wlan_ssid_val\":\"AP-2G\""), std::string::npos);
  EXPECT_EQ(reply.substr(reply.size() - empty_entry.size()), empty_entry);

  rom("HX5-9558-5G", "SINGLE5G", iface("AP-2G", "none", ""), iface("AP-5G", "none", ""));
  reply = ask("opcode=1");
  EXPECT_NE(reply.find("[{\"pd_wlan_ssid_val\":\"AP-5G\",\"pd_wlan_channel_val\":\"149\""),
            std::string::npos);
  EXPECT_EQ(reply.substr(reply.size() - empty_entry.size()), empty_entry);

  // A family board set up for both bands describes both.
  rom("HX1-9531-V1", "DUAL", iface("AP-2G", "none", ""), iface("AP-5G", "none", ""));
  EXPECT_NE(ask("opcode=1").find("\"count\":\"2\""), std::string::npos);
}

TEST_F(Factory, ValuesThatWouldBreakTheDocumentAreEscaped) {
  rom("HX5-9558-V2", "DUAL",
      iface("say \"hi\" \\o/", "wep-open", "\toption key '2'\n\toption key2 'a\"\\'"),
      iface("AP-5G", "none", ""));
  std::string reply = ask("opcode=1");
  EXPECT_NE(reply.find("\"pd_wlan_ssid_val\":\"say \\\"hi\\\" \\\\o/\""), std::string::npos);
  EXPECT_NE(reply.find("\"pd_wlan_pwd_val\":\"a\\\"\\\\\""), std::string::npos);
}

TEST_F(Factory, OperatingModeAndPoolFromTheDefaults) {
  const std::pair<const char*, const char*> modes[] = {{"1", "0"}, {"2", "2"}, {"3", "1"},
                                                       {"4", "3"}, {"5", "4"}, {"", "3"}};
  for (const auto& [sys_mode, opmode] : modes) {
    rom("HX5-9558-V2", "DUAL", iface("a", "none", ""), iface("b", "none", ""), sys_mode);
    EXPECT_NE(ask("opcode=1").find("\"pd_opmode_val\":\"" + std::string(opmode) + "\""),
              std::string::npos)
        << sys_mode;
  }
  // The pool may carry into the third octet.
  fake.put_file("/rom/etc/config/dhcp",
                "config dhcp 'lan'\n\toption start '200'\n\toption limit '100'\n");
  std::string reply = ask("opcode=1");
  EXPECT_NE(reply.find("\"pd_dhcpserver_ipstart_val\":\"192.168.10.200\","
                       "\"pd_dhcpserver_ipend_val\":\"192.168.11.43\""),
            std::string::npos);
}

TEST_F(Factory, BandEntriesByEncryption) {
  struct Case {
    std::string encryption;
    std::string keys;
    int authmode;
    int cipher;
    std::string password;
  };
  const std::string hex26 = "0123456789abcdef0123456789";
  const Case cases[] = {
      {"none", "\toption key 'ignored'", 1, 9, ""},
      {"", "", 1, 9, ""},
      {"wpa2+ccmp", "\toption key 'ignored'", 1, 9, ""},
      {"psk+tkip", "\toption key 'ab'", 5, 1, "6162"},
      {"psk+tkip+ccmp", "\toption key 'ab'", 5, 7, "6162"},
      {"psk2+tkip", "\toption key 'ab'", 6, 1, "6162"},
      {"psk2+tkip+ccmp", "\toption key 'ab'", 6, 7, "6162"},
      {"psk-mixed+ccmp", "\toption key '\xe4'", 9, 3, "E4"},
      {"wep-open", "\toption key '1'\n\toption key1 's:abcde'", 1, 0, "abcde"},
      {"wep-open", "\toption key '3'\n\toption key3 '" + hex26 + "'", 1, 8, hex26},
      {"wep-shared", "\toption key '2'\n\toption key2 's:abcdefghijklm'", 2, 8, "abcdefghijklm"},
      {"wep-shared", "\toption key '4'\n\toption key4 '12345678'", 2, 0, "12345678"},
  };
  for (const Case& c : cases) {
    rom("HX5-9558-V2", "DUAL", iface("s", c.encryption, c.keys), iface("t", "none", ""));
    wlan_band band = wlan_factory_info(0);
    EXPECT_EQ(band.authmode, c.authmode) << c.encryption;
    EXPECT_EQ(band.cipher, c.cipher) << c.encryption;
    EXPECT_EQ(band.password, c.password) << c.encryption;
  }
}

}  // namespace
