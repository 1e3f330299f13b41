// The wireless service through the request router: sub-path routing, the
// radio document and its change, the VAP document and its change, against
// the store and files of a fake device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/worker_state.h"
#include "platform/wifi/wifi.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const commands reverts = {"/sbin/uci revert system", "/sbin/uci revert wireless",
                          "/sbin/uci revert network", "/sbin/uci revert dhcp"};
const commands restarts = {"/sbin/wifi restart", "/etc/init.d/dnsmasq restart"};

std::string iface(const std::string& id, const std::string& extra = "") {
  return "config wifi-iface\n\toption id '" + id + "'\n\toption ssid 'AP" + id +
         "'\n\toption mode 'ap'\n\toption encryption 'none'\n" + extra + "\n";
}

class Wireless : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    system("5", "HX3-9344-V1", "DUAL");
    fake.put_file("/sys/class/net/wifi0/address", "00:03:7f:11:22:33\n");
    fake.put_file("/sys/class/net/wifi1/address", "00:03:7f:44:55:66\n");
    fake.write_config("dhcp", "config snmpd 'snmpd'\n\toption ac_addr '10.0.0.9'\n");
    std::string text =
        "config wifi-device 'wifi0'\n\toption channel '6'\n\toption htmode 'HT20'\n"
        "\toption cca_step '2'\n\toption dfs_off '1'\n\n"
        "config wifi-device 'wifi1'\n\toption channel '149'\n\toption dfs_off '0x'\n\n";
    text += iface("00",
                  "\toption disablecoext '1'\n\toption key1 'a&b'\n\toption comment1 '<c>'\n"
                  "\toption nawds_add_repeater '00:11:22:33:44:5 00:11:22:33:44:55 "
                  "00:11:22:33:44:66'\n\toption macfilter 'deny'\n"
                  "\toption maclist 'AA:BB:CC:DD:EE:01 AA:BB:CC:DD:EE:02'\n");
    for (const char* id : {"01", "02", "03", "10", "11", "12", "13"}) text += iface(id);
    fake.write_config("wireless", text);
  }
  void system(const std::string& mode, const std::string& hardver, const std::string& submode,
              const std::string& extra = "") {
    fake.write_config("system", "config system\n\toption sys_mode '" + mode +
                                    "'\n\toption hardver '" + hardver + "'\n\toption submode '" +
                                    submode + "'\n" + extra);
  }
  std::string get(const std::string& sub_path) {
    return routed_reply("GET /route/wireless" + sub_path);
  }
  std::string post(const std::string& sub_path, const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/wireless" + sub_path + "\n" + body);
  }
  std::string option(const std::string& path) { return cfg_get(path); }
};

TEST_F(Wireless, SubPathsRouteAsTheTablesSay) {
  const std::string no_service = envelope(1, "NO SERVICE");
  EXPECT_EQ(get(""), get("/config"));
  for (const char* path : {"/configx", "/stainfo?active=2", "/scanx", "/Config"})
    EXPECT_EQ(no_service, get(path)) << path;
  EXPECT_EQ(no_service, routed_reply("POST /route/wireless\n<A/>"));
  EXPECT_EQ(no_service, post("/vapx", "<A/>"));
  // A leading part selects a handler; an unparsable body reverts nothing.
  EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/v", "<A>"));
  EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/c", "<A/>"));
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(Wireless, RadioDocumentShowsBothRadiosEscaped) {
  std::string doc = get("/config");
  EXPECT_EQ(0u, doc.find(declaration + "<WIRELESS><CONFIG><BAND>2G</BAND><MAC>00:03:7F:11:22:33\n"
                                       "</MAC><DISABLE>0</DISABLE><BASE><CHANNEL>6</CHANNEL>"));
  EXPECT_NE(std::string::npos, doc.find("<HTMODE>HT20</HTMODE>"));  // coexistence off
  EXPECT_NE(std::string::npos, doc.find("<HTMODE>AUTO</HTMODE>"));  // 5G: disablecoext unset
  EXPECT_NE(std::string::npos,
            doc.find("<DFS_ENABLED>0</DFS_ENABLED><WDSONEKEY>0</WDSONEKEY><CCA_STEP>2</CCA_STEP>"));
  EXPECT_NE(
      std::string::npos,
      doc.find("<DFS_ENABLED>1x</DFS_ENABLED><WDSONEKEY>0</WDSONEKEY><CCA_STEP>0</CCA_STEP>"));
  EXPECT_NE(
      std::string::npos,
      doc.find("<WDS><WDSMODE>0</WDSMODE><ENCMODE>0</ENCMODE><KEY1>a&amp;b</KEY1><KEY2></KEY2>"
               "<KEY3></KEY3><KEY4></KEY4><KEYIDX>1</KEYIDX><COMMENT1>&lt;c&gt;</COMMENT1>"
               "<COMMENT2></COMMENT2><COMMENT3></COMMENT3><COMMENT4></COMMENT4>"
               "<MAC1>00:11:22:33:44:55</MAC1><MAC2>00:11:22:33:44:66</MAC2><MAC3></MAC3>"
               "<MAC4></MAC4></WDS></CONFIG><CONFIG><BAND>5G</BAND>"));
  EXPECT_EQ(doc.size() - 20, doc.rfind("</CONFIG></WIRELESS>"));

  system("1", "HX5-9558-5G", "SINGLE5G");
  EXPECT_EQ(std::string::npos, get("/config").find("<BAND>2G</BAND>"));
}

TEST_F(Wireless, RadioAddressIsReadAgainUntilItCouldBeRead) {
  fake.remove_file("/sys/class/net/wifi1/address");
  EXPECT_NE(std::string::npos, get("/config").find("<BAND>5G</BAND><MAC></MAC>"));
  fake.put_file("/sys/class/net/wifi1/address", "00:03:7f:44:55:66\n");
  fake.put_file("/sys/class/net/wifi0/address", "changed\n");
  std::string doc = get("/config");
  EXPECT_NE(std::string::npos, doc.find("<MAC>00:03:7F:44:55:66\n</MAC>"));
  EXPECT_NE(std::string::npos, doc.find("<MAC>00:03:7F:11:22:33\n</MAC>"));  // kept
}

TEST_F(Wireless, RadioChangeStagesCommitsAndRestartsInOrder) {
  EXPECT_EQ(envelope(0, "OK"),
            post("/config",
                 "<R><CONFIG><BAND>5G</BAND><BASE><CHANNEL>36</CHANNEL><TXPOWER>17"
                 "</TXPOWER></BASE><ADVANCE><HTMODE>AUTO</HTMODE><MODE>11ac</MODE>"
                 "</ADVANCE></CONFIG></R>"));
  commands expected_commands = {
      "uci set wireless.@wifi-iface[4].nawds_mode=\"0\"", "uci set wireless.wifi1.channel=\"36\"",
      "uci set wireless.wifi1.txpower=\"17\"", "uci set wireless.wifi1.htmode=\"HT40\"",
      "uci set wireless.wifi1.hwmode=\"11ac\""};
  for (int slot = 4; slot < 8; ++slot) {
    std::string prefix = "uci set wireless.@wifi-iface[" + std::to_string(slot) + "].";
    expected_commands.push_back(prefix + "disablecoext=\"0\"");
    expected_commands.push_back(prefix + "wmm=\"1\"");
  }
  expected_commands.insert(expected_commands.end(), {"uci commit wireless", "uci commit system"});
  expected_commands.insert(expected_commands.end(), restarts.begin(), restarts.end());
  EXPECT_EQ(expected_commands, fake.commands());
}

TEST_F(Wireless, WdsPeersAndCommentsMoveUpInWdsMode) {
  EXPECT_EQ(envelope(0, "OK"),
            post("/config",
                 "<R><ACTIVE>1</ACTIVE><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL>"
                 "<TXPOWER>20</TXPOWER></BASE><WDS><MAC1></MAC1><COMMENT1>lost</COMMENT1>"
                 "<MAC2>aa:bb:cc:dd:ee:ff</MAC2><COMMENT2>x&amp;y</COMMENT2>"
                 "<KEY2>k</KEY2></WDS></CONFIG></R>"));
  EXPECT_EQ("aa:bb:cc:dd:ee:ff", option("wireless.@wifi-iface[0].nawds_add_repeater"));
  EXPECT_EQ("x&y", option("wireless.@wifi-iface[0].comment1"));
  EXPECT_EQ("", option("wireless.@wifi-iface[0].key1"));
  EXPECT_EQ("0", option("wireless.@wifi-iface[0].nawds_defcaps"));  // no ADVANCE
  EXPECT_EQ("uci commit system", fake.commands().back());           // ACTIVE: no restart
}

// Each CONFIG sees what the earlier ones of the request changed: cca_step
// is written only while it holds a value.
TEST_F(Wireless, LaterConfigsReadWhatEarlierOnesStaged) {
  auto config = [](const std::string& cca) {
    return "<CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20</TXPOWER></BASE>"
           "<ADVANCE><CCA_STEP>" +
           cca + "</CCA_STEP></ADVANCE></CONFIG>";
  };
  const struct {
    const char* first;
    const char* second;
    const char* stored;
  } cases[] = {{"", "5", ""}, {"3", "5", "5"}, {"3", "", ""}};
  for (const auto& c : cases) {
    fake.run("uci set wireless.wifi0.cca_step=2");
    EXPECT_EQ(envelope(0, "OK"), post("/config", "<R>" + config(c.first) + config(c.second) +
                                                     "<ACTIVE>1</ACTIVE></R>"));
    EXPECT_EQ(c.stored, option("wireless.wifi0.cca_step")) << c.first << " then " << c.second;
  }
}

// Only keys and comments are held to what the documents show; the store
// takes ENCMODE and KEYIDX as they come.
TEST_F(Wireless, WdsEncryptionModeAndKeyIndexAreStoredWhole) {
  std::string encmode(100, 'e');
  std::string keyidx = "1" + std::string(80, '0');
  EXPECT_EQ(envelope(0, "OK"),
            post("/config",
                 "<R><ACTIVE>1</ACTIVE><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1"
                 "</CHANNEL><TXPOWER>20</TXPOWER></BASE><WDS><ENCMODE>" +
                     encmode + "</ENCMODE><KEYIDX>" + keyidx + "</KEYIDX></WDS></CONFIG></R>"));
  EXPECT_EQ(encmode, option("wireless.@wifi-iface[0].wdsenc"));
  EXPECT_EQ(keyidx, option("wireless.@wifi-iface[0].keyindex"));
  std::string too_long =
      "<R><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20"
      "</TXPOWER></BASE><WDS><ENCMODE>" +
      std::string(cfg_value_limit + 1, 'e') + "</ENCMODE></WDS></CONFIG></R>";
  EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/config", too_long));
  EXPECT_EQ(encmode, option("wireless.@wifi-iface[0].wdsenc"));
}

TEST_F(Wireless, RefusedRadioChangesStageNothing) {
  const std::string ok_config =
      "<CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20</TXPOWER></BASE></CONFIG>";
  auto with_wds = [&](const std::string& wds) {
    return "<R>" + ok_config + "<CONFIG><BAND>5G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20" +
           "</TXPOWER></BASE><WDS>" + wds + "</WDS></CONFIG></R>";
  };
  const std::vector<std::string> bodies = {
      "<R>" + ok_config + "<CONFIG><BAND>6G</BAND><BASE/></CONFIG></R>",
      "<R><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL></BASE></CONFIG></R>",
      "<R><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1&#10;x</CHANNEL><TXPOWER>1</TXPOWER></BASE>"
      "</CONFIG></R>",
      with_wds("<MAC1>$(reboot)</MAC1>"),
      with_wds("<MAC1>00:11:22:33:44:5 </MAC1>"),
      with_wds("<MAC1>00:11:22:33:44:55</MAC1><COMMENT1>" + std::string(64, 'c') + "</COMMENT1>"),
      with_wds("<KEY1>" + std::string(64, 'k') + "</KEY1>"),
  };
  for (const std::string& body : bodies) {
    EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/config", body)) << body;
    EXPECT_EQ(reverts, fake.commands()) << body;
  }
}

TEST_F(Wireless, VapDocumentShowsSecurityByEncryptionName) {
  fake.run("uci set wireless.@wifi-iface[1].encryption=psk2+ccmp");
  fake.run("uci set wireless.@wifi-iface[1].key=secret12");
  fake.run("uci set wireless.@wifi-iface[2].encryption=psk2");
  fake.run("uci set wireless.@wifi-iface[2].key=secret12");
  fake.run("uci set wireless.@wifi-iface[3].encryption=''");
  std::string doc = get("/vap/2g");
  EXPECT_EQ(0u, doc.find(declaration + "<WIRELESS><VAP><ID>00</ID><DISABLE></DISABLE><SSID>AP00"
                                       "</SSID><BSSID></BSSID><BSSID_EN>0</BSSID_EN>"
                                       "<CUR_CHANNEL>6</CUR_CHANNEL><MODE>ap</MODE>"));
  const std::string defaults =
      "<EAP><AUTH_SECRET>please enter key</AUTH_SECRET><AUTH_PORT>1812</AUTH_PORT><AUTH_SERVER>"
      "10.0.0.9</AUTH_SERVER><USER>please enter user</USER><PASSWORD>please enter password"
      "</PASSWORD><EAP_TYPE></EAP_TYPE></EAP>";
  EXPECT_NE(
      std::string::npos,
      doc.find("<SECURITY><ENCRYPTION>0</ENCRYPTION><KEY></KEY><KEY1>a&amp;b</KEY1></SECURITY>" +
               defaults +
               "<ACL><DISABLE>0</DISABLE><MODE>deny</MODE><MAC>AA:BB:CC:DD:EE:01"
               "</MAC><MAC>AA:BB:CC:DD:EE:02</MAC></ACL></VAP>"));
  EXPECT_NE(std::string::npos, doc.find("<ENCRYPTION>7</ENCRYPTION><KEY>7365637265743132</KEY>"));
  EXPECT_NE(std::string::npos, doc.find("<ENCRYPTION>-1</ENCRYPTION><KEY>7365637265743132</KEY>"));
  EXPECT_NE(std::string::npos, doc.find("</MCAST_RATE>" + defaults + "</VAP></WIRELESS>"));
  EXPECT_EQ(std::string::npos, doc.find("<ID>10</ID>"));

  system("1", "HX5-9558-5G", "SINGLE5G");
  doc = get("/vap");
  EXPECT_EQ(std::string::npos, doc.find("<ID>03</ID>"));
  EXPECT_NE(std::string::npos, doc.find("<VAP><ID>10</ID>"));
}

const std::string psk_vap =
    "<VAP><ID>01</ID><SSID>Office</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>7</ENCRYPTION>"
    "<KEY>3132333435363738</KEY></SECURITY><DISABLE>0</DISABLE></VAP>";

TEST_F(Wireless, VapChangeStagesCommitsAndRestartsInOrder) {
  system("1", "HX3-9344-V1", "DUAL");
  EXPECT_EQ(envelope(0, "OK"), post("/vap", "<R>" + psk_vap + "</R>"));
  const std::string slot = "uci set wireless.@wifi-iface[1].";
  commands expected_commands = {
      slot + "ssid=\"Office\"",  slot + "mode=\"ap\"",    slot + "encryption=\"psk2+ccmp\"",
      slot + "key=\"12345678\"", slot + "rts=\"\"",       slot + "frag=\"\"",
      slot + "maxsta=\"\"",      slot + "extap=\"1\"",    slot + "wds=\"1\"",
      slot + "hidden=\"0\"",     slot + "disabled=\"0\"", slot + "wmm=\"0\"",
      slot + "mcast_rate=\"\"",  "uci commit system",     "uci commit wireless",
      "uci commit network",      "uci commit dhcp"};
  expected_commands.insert(expected_commands.end(), restarts.begin(), restarts.end());
  EXPECT_EQ(expected_commands, fake.commands());

  worker().mode_switch_state = 2;
  post("/vap", "<R>" + psk_vap + "</R>");
  EXPECT_EQ("uci commit dhcp", fake.commands().back());
}

TEST_F(Wireless, VapSecurityVariantsStoreWhatTheyMean) {
  auto vap = [](const std::string& id, const std::string& mode, const std::string& security) {
    return "<R><VAP><ID>" + id + "</ID><SSID>s</SSID><MODE>" + mode + "</MODE><SECURITY>" +
           security + "</SECURITY><EAP><USER>u</USER><AUTH_SERVER>10.1.1.1</AUTH_SERVER></EAP>" +
           "</VAP></R>";
  };
  post("/vap", vap("00", "sta", "<ENCRYPTION>20</ENCRYPTION>"));
  EXPECT_EQ("u", option("wireless.@wifi-iface[0].identity"));
  EXPECT_EQ("peap", option("wireless.@wifi-iface[0].eap_type"));
  post("/vap", vap("01", "sta", "<ENCRYPTION>20</ENCRYPTION>"));
  EXPECT_EQ("10.1.1.1", option("wireless.@wifi-iface[1].auth_server"));
  post("/vap",
       "<R><VAP><ID>02</ID><SSID>s</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>20"
       "</ENCRYPTION></SECURITY></VAP></R>");
  EXPECT_EQ("wpa", option("wireless.@wifi-iface[2].encryption"));  // no EAP: still WPA
  post("/vap",
       vap("03", "ap",
           "<ENCRYPTION>1</ENCRYPTION><KEY>9</KEY><KEY1>" + std::string(70, 'w') + "</KEY1>"));
  EXPECT_EQ("1", option("wireless.@wifi-iface[3].key"));
  EXPECT_EQ(std::string(63, 'w') + "", option("wireless.@wifi-iface[3].key1"));
}

TEST_F(Wireless, TextsAreStoredAndShownInWholeCharacters) {
  auto times = [](const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
  };
  const std::string e_acute = "\xC3\xA9";
  const std::string zhong = "\xE4\xB8\xAD";
  // A WEP key is cut to 63 bytes before the character that does not fit.
  post("/vap",
       "<R><VAP><ID>03</ID><SSID>s</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>1</ENCRYPTION>"
       "<KEY>1</KEY><KEY1>" +
           times(e_acute, 40) + "</KEY1></SECURITY></VAP></R>");
  EXPECT_EQ(times(e_acute, 31), option("wireless.@wifi-iface[3].key1"));
  // Texts read into fixed sizes are shown the same way.
  cfg_set("wireless.@wifi-iface[3].key2", times(e_acute, 40));
  cfg_set("wireless.wifi0.channel", times(zhong, 40));
  EXPECT_NE(std::string::npos, get("/vap/2g").find("<KEY2>" + times(e_acute, 31) + "</KEY2>"));
  EXPECT_NE(std::string::npos, get("/config").find("<CHANNEL>" + times(zhong, 10) + "</CHANNEL>"));
}

TEST_F(Wireless, FilterKeepsAtMost113Addresses) {
  std::string macs;
  for (int n = 0; n < 120; ++n)
    macs += "<MAC>00:11:22:33:44:" + std::to_string(10 + n % 90) + "</MAC>";
  EXPECT_EQ(envelope(0, "OK"),
            post("/vap",
                 "<R><VAP><ID>10</ID><SSID>s</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>0"
                 "</ENCRYPTION></SECURITY><ACL><DISABLE>0</DISABLE><MODE>allow</MODE>" +
                     macs + "</ACL></VAP></R>"));
  std::string list = option("wireless.@wifi-iface[7].maclist");
  EXPECT_EQ(113u * 18, list.size());
}

TEST_F(Wireless, RefusedVapChangesStageNothing) {
  auto vap = [](const std::string& id, const std::string& mode, const std::string& ssid,
                const std::string& security, const std::string& extra = "") {
    return "<R>" + psk_vap + "<VAP><ID>" + id + "</ID><SSID>" + ssid + "</SSID><MODE>" + mode +
           "</MODE><SECURITY>" + security + "</SECURITY>" + extra + "</VAP></R>";
  };
  const std::string none = "<ENCRYPTION>0</ENCRYPTION>";
  system("2", "HX3-9344-V1", "DUAL");
  const std::vector<std::string> bodies = {
      vap("99", "ap", "s", none),
      vap("00", "client", "s", none),
      vap("00", "ap", "s", "<ENCRYPTION>psk2</ENCRYPTION><KEY>3132333435363738</KEY>"),
      vap("00", "ap", "s", "<ENCRYPTION></ENCRYPTION>"),
      vap("00", "ap", "s", "<ENCRYPTION>7</ENCRYPTION><KEY>31323334353637</KEY>"),
      vap("00", "ap", "s", "<ENCRYPTION>7</ENCRYPTION><KEY>00414141414141414141</KEY>"),
      vap("00", "ap", "s", "<ENCRYPTION>7</ENCRYPTION><KEY>3132333435363738zz</KEY>"),
      vap("00", "ap", "s", "<ENCRYPTION>7</ENCRYPTION><KEY>31323334350a3738</KEY>"),
      vap("00", "ap", "s", "<ENCRYPTION>7</ENCRYPTION><KEY>313233343536373</KEY>"),
      vap("01", "sta", "s", none),
      vap("00", "ap", std::string(33, 's'), none),
      vap("00", "ap", "a&#10;b", none),
      vap("00", "ap", "s", none, "<ACL><DISABLE>0</DISABLE><MODE>deny</MODE><MAC>x y</MAC></ACL>"),
      vap("00", "ap", "s", none, "<ACL><DISABLE>0</DISABLE><MODE>deny</MODE></ACL>"),
  };
  for (const std::string& body : bodies) {
    EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/vap", body)) << body;
    EXPECT_EQ(reverts, fake.commands()) << body;
  }
}

}  // namespace

TEST_F(Wireless, RadioButtonDecidesForBothRadios) {
  struct {
    const char* touch_btn;
    const char* led_switch;  // null: no state file
    const char* disable_2g;
    const char* disable_5g;
  } cases[] = {
      {"1", "radio up\n", "0", "0"},
      {"1", "down\nup\n", "1", "1"},
      {"1", nullptr, "1", "1"},
      {"0", nullptr, "0", "1"},  // no button: the radios' own disabled options
  };
  fake.run("uci set wireless.wifi1.disabled=1");
  for (const auto& c : cases) {
    system("1", "HX3-9344-V1", "DUAL", std::string("\toption touch_btn '") + c.touch_btn + "'\n");
    fake.remove_file("/tmp/led-switch");
    if (c.led_switch) fake.put_file("/tmp/led-switch", c.led_switch);
    std::string doc = get("/config");
    EXPECT_NE(std::string::npos,
              doc.find(std::string("<DISABLE>") + c.disable_2g + "</DISABLE><BASE><CHANNEL>6<"));
    EXPECT_NE(std::string::npos,
              doc.find(std::string("<DISABLE>") + c.disable_5g + "</DISABLE><BASE><CHANNEL>149<"));
  }
  // A radio switched off by its button keeps its VAPs' state.
  system("1", "HX3-9344-V1", "DUAL", "\toption touch_btn '1'\n");
  post("/vap",
       "<R>" + psk_vap.substr(0, psk_vap.find("<DISABLE>")) + "<DISABLE>1</DISABLE></VAP></R>");
  EXPECT_EQ("", option("wireless.@wifi-iface[1].disabled"));
}

TEST_F(Wireless, ExtraSlotsKeepTheirNamesInGb2312) {
  char probe[4];
  if (utf8_to_gb2312("\xE4\xB8\xAD", 3, probe, sizeof probe) != 0)
    GTEST_SKIP() << "no GB2312 converter on this system";
  std::string utf8;
  std::string gb2312;
  for (int n = 0; n < 11; ++n) {  // 33 bytes in UTF-8, 22 in GB2312
    utf8 += "\xE4\xB8\xAD";
    gb2312 += "\xD6\xD0";
  }
  auto vap = [&](const char* id) {
    return "<R><VAP><ID>" + std::string(id) + "</ID><SSID>" + utf8 +
           "</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>0</ENCRYPTION></SECURITY></VAP></R>";
  };
  EXPECT_EQ(envelope(0, "OK"), post("/vap", vap("01")));
  EXPECT_EQ(gb2312, option("wireless.@wifi-iface[1].ssid"));
  EXPECT_NE(std::string::npos, get("/vap/2g").find("<SSID>" + utf8 + "</SSID>"));
  // Main slots keep the name as received: 33 bytes are too long.
  EXPECT_EQ(envelope(3, "FORMAT ERROR"), post("/vap", vap("00")));
}
