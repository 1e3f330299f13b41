// The VLAN service through the request router, and the removal the mode
// switch uses, on the store of a fake device of each board kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/config.h"
#include "services/common/request_body.h"
#include "services/common/sections.h"
#include "services/network/vlan.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

struct switch_map {
  std::string vid;
  std::string ports;
};

const std::vector<switch_map> stock_maps = {{"1", "0t 1 2 3 4"}, {"2", "0t 5"}};

class Vlan : public FakeEffectsTest {
 protected:
  void SetUp() override {
    board("HX5-9558-V2");
    network(stock_maps);
    std::string wireless;
    for (int slot = 0; slot < 8; ++slot)
      wireless += "config wifi-iface\n\toption network 'lan'\n\toption id '" +
                  std::to_string(slot / 4) + std::to_string(slot % 4) + "'\n\n";
    fake.write_config("wireless", wireless);
  }

  void board(const std::string& hardver) {
    fake.write_config("system", "config system\n\toption hardver '" + hardver + "'\n");
  }
  void network(const std::vector<switch_map>& maps) {
    std::string text = "config interface 'lan'\n\toption proto 'static'\n\n";
    for (const switch_map& map : maps) {
      text += "config switch_vlan\n\toption device 'switch0'\n\toption vid '" + map.vid + "'\n";
      if (!map.ports.empty()) text += "\toption ports '" + map.ports + "'\n";
      text += "\n";
    }
    fake.write_config("network", text);
    fake.remove_file("/tmp/.uci/network");  // changes staged by an earlier case
  }
  std::string get(const std::string& option) { return cfg_get(option); }
  std::string post(const std::string& body, const std::string& path = "") {
    fake.clear_commands();
    return routed_reply("POST /route/vlan" + path + "\n" + body);
  }
  std::string vlan_document(const std::string& vlans) {
    return declaration + "<VLAN_CONFIG>" + vlans + "</VLAN_CONFIG>";
  }
};

const std::string ok = envelope(0, "OK");

// ---- GET ----

TEST_F(Vlan, GetListsUserVlansWithPortsAndBoundVaps) {
  network({{"1", "0t 1 4"}, {"2", "0t"}, {"030", "0t 2 3 1t"}, {"7", "0t 1t"}, {"9&", "0t 5 1t"}});
  fake.write_config("wireless",
                    "config wifi-iface\n\toption network 'vlan30'\n\toption id '00'\n\n"
                    "config wifi-iface\n\toption network 'lan'\n\toption id '01'\n\n"
                    "config wifi-iface\n\toption network 'vlan30'\n\toption id '10<'\n\n");
  EXPECT_EQ(routed_reply("GET /route/vlan"),
            vlan_document("<VLAN><VID>030</VID><PORT><NUM>2</NUM><NUM>3</NUM></PORT>"
                          "<SSID><ID>00</ID><ID>10&lt;</ID></SSID></VLAN>"
                          "<VLAN><VID>7</VID></VLAN>"
                          "<VLAN><VID>9&amp;</VID><PORT><NUM>5</NUM></PORT></VLAN>"));
}

TEST_F(Vlan, GetStopsAtTheFirstSectionOfAnotherSwitch) {
  network({{"5", "0t 2 1t"}, {"6", "0t 3 1t"}});
  fake.run("uci set network.@switch_vlan[1].device=switch1");
  EXPECT_EQ(routed_reply("GET /route/vlan/anything"),
            vlan_document("<VLAN><VID>5</VID><PORT><NUM>2</NUM></PORT></VLAN>"));
}

TEST_F(Vlan, GetPortListPerBoard) {
  struct {
    const char* hardver;
    const char* ports;
    const char* shown;
  } cases[] = {
      {"HX3-9344-MT", "0t 2 3 4t", "<PORT><NUM>2</NUM><NUM>3</NUM></PORT>"},  // trunk skipped
      {"HX3-9344-MT", "0t 4t", ""},
      {"HX3-9344-KV", "0t 2 3 1t", ""},
      {"HX3-9344-V1", "0t 0 3 1t", "<PORT><NUM>0</NUM><NUM>3</NUM></PORT>"},
  };
  for (const auto& c : cases) {
    board(c.hardver);
    network({{"5", c.ports}});
    EXPECT_EQ(routed_reply("GET /route/vlan"),
              vlan_document(std::string("<VLAN><VID>5</VID>") + c.shown + "</VLAN>"))
        << c.hardver << " " << c.ports;
  }
}

// ---- POST: refusals ----

TEST_F(Vlan, RefusalsChangeNothing) {
  struct {
    const char* body;
    const char* reply_message;
  } cases[] = {
      {"<VLAN_CONFIG><VLAN><PORT><NUM>2</NUM></PORT></VLAN></VLAN_CONFIG>", "Invalid vlan id"},
      {"<C><VLAN><VID>2</VID><PORT><NUM>2</NUM></PORT></VLAN></C>", "Invalid vlan id"},
      {"<C><VLAN><VID>4095</VID><PORT><NUM>2</NUM></PORT></VLAN></C>", "Invalid vlan id"},
      {"<C><VLAN><VID>5</VID><PORT><NUM>2</NUM></PORT></VLAN>"
       "<VLAN><VID>05</VID><PORT><NUM>3</NUM></PORT></VLAN></C>",
       "Invalid vlan id"},
      {"<C><VLAN><VID>5</VID></VLAN></C>", "Invalid port ssid"},
      {"<C><VLAN><VID>5</VID><PORT></PORT><SSID></SSID></VLAN></C>", "Invalid num id"},
      {"<C><VLAN><VID>5</VID><PORT><NUM>1</NUM></PORT></VLAN></C>", "Invalid port num"},
      {"<C><VLAN><VID>5</VID><PORT><NUM>6</NUM></PORT></VLAN></C>", "Invalid port num"},
      {"<C><VLAN><VID>5</VID><PORT><NUM>3</NUM></PORT></VLAN>"
       "<VLAN><VID>6</VID><PORT><NUM>3</NUM></PORT></VLAN></C>",
       "Double port num"},
      {"<C><VLAN>", "FORMAT ERROR"},
  };
  std::string before = fake.read_config("network");
  for (const auto& c : cases) {
    EXPECT_EQ(post(c.body), envelope(3, c.reply_message)) << c.body;
    EXPECT_TRUE(fake.commands().empty()) << c.body;
  }
  EXPECT_EQ(post("<C/>", "/x"), envelope(1, "NO SERVICE"));
  EXPECT_TRUE(fake.commands().empty());
  EXPECT_EQ(fake.read_config("network"), before);
  EXPECT_EQ(get("network.@switch_vlan[-1].vid"), "2");
}

TEST_F(Vlan, FamilyBoardsTakePortsZeroToThree) {
  board("HX3-9344-V1");
  EXPECT_EQ(post("<C><VLAN><VID>5</VID><PORT><NUM>4</NUM></PORT></VLAN></C>"),
            envelope(3, "Invalid port num"));
  EXPECT_EQ(post("<C><VLAN><VID>5</VID><PORT><NUM>0</NUM></PORT></VLAN></C>"), ok);
}

// ---- POST: changes ----

TEST_F(Vlan, PostOnSwitchBoardReplacesUserVlansAndRewritesBuiltinMaps) {
  network({{"1", "0t 1 2 4"}, {"2", "0t 5"}, {"8", "0t 3 1t"}});
  fake.write_config("wireless",
                    "config wifi-iface\n\toption network 'vlan8'\n\toption id '00'\n\n"
                    "config wifi-iface\n\toption network 'lan'\n\toption id '01'\n\n");
  // A NUM with a shell tail counts as its number, and only the number is used.
  EXPECT_EQ(post("<C><VLAN><VID>10</VID><PORT><NUM>3' ; reboot ; '</NUM><NUM>5</NUM></PORT>"
                 "<SSID><ID>01</ID><ID>99</ID></SSID></VLAN>"
                 "<VLAN><VID>11</VID><SSID><ID>00</ID></SSID></VLAN></C>"),
            ok);
  EXPECT_EQ(fake.commands(), (commands{"uci delete network.@switch_vlan[-1]",
                                       "uci delete network.vlan8",
                                       "uci set wireless.@wifi-iface[0].network=\"lan\"",
                                       "uci add network switch_vlan",
                                       "uci set network.@switch_vlan[-1].device=switch0",
                                       "uci set network.@switch_vlan[-1].vlan=3",
                                       "uci set network.@switch_vlan[-1].vid=10",
                                       "uci set network.@switch_vlan[-1].ports='0t 3 5 1t'",
                                       "uci set network.vlan10=interface",
                                       "uci set network.vlan10.type=bridge",
                                       "uci set network.vlan10.proto=none",
                                       "uci set network.vlan10.ifname=eth0.10",
                                       "uci set wireless.@wifi-iface[1].network=\"vlan10\"",
                                       "uci add network switch_vlan",
                                       "uci set network.@switch_vlan[-1].device=switch0",
                                       "uci set network.@switch_vlan[-1].vlan=4",
                                       "uci set network.@switch_vlan[-1].vid=11",
                                       "uci set network.@switch_vlan[-1].ports='0t 1t'",
                                       "uci set network.vlan11=interface",
                                       "uci set network.vlan11.type=bridge",
                                       "uci set network.vlan11.proto=none",
                                       "uci set network.vlan11.ifname=eth0.11",
                                       "uci set wireless.@wifi-iface[0].network=\"vlan11\"",
                                       "uci set network.@switch_vlan[1].ports='0t'",
                                       "uci set network.@switch_vlan[0].ports='0t 2 4 1'",
                                       "uci commit network",
                                       "uci commit wireless"}));
  EXPECT_EQ(fake.read_config("network").find("vlan8"), std::string::npos);
  EXPECT_EQ(get("network.vlan10.ifname"), "eth0.10");
  EXPECT_EQ(get("network.@switch_vlan[2].vid"), "10");
  EXPECT_EQ(get("wireless.@wifi-iface[0].network"), "vlan11");
}

TEST_F(Vlan, EmptyPostRemovesUserVlansAndRestoresBuiltinMaps) {
  network({{"1", "0t 1 2"}, {"2", "0t"}, {"5", "0t 3 4 1t"}, {"6", "0t 5 1t"}});
  EXPECT_EQ(post("<VLAN_CONFIG></VLAN_CONFIG>"), ok);
  EXPECT_EQ(section_count("network", "switch_vlan"), 2);
  EXPECT_EQ(get("network.@switch_vlan[0].ports"), "0t 2 3 4 1");
  EXPECT_EQ(get("network.@switch_vlan[1].ports"), "0t 5");
}

TEST_F(Vlan, CreationPerBoard) {
  struct {
    const char* hardver;
    const char* index;
    const char* ports_command;  // "" when the section gets no ports
    const char* ifname;
  } cases[] = {
      {"HX3-9344-V1", "3", "uci set network.@switch_vlan[-1].ports='0t 0 2 1t'", "eth1.7"},
      {"HX3-9344-MT", "1", "uci set network.@switch_vlan[-1].ports='0t 0 2 4t'", "eth1.7"},
      {"HX3-9344-KV", "3", "", "eth0.7"},
      {"HX8100-9344-KV", "3", "uci set network.@switch_vlan[-1].ports='0t 3t'", "eth0.7"},
  };
  for (const auto& c : cases) {
    board(c.hardver);
    network({});
    EXPECT_EQ(post("<C><VLAN><VID>7</VID><PORT><NUM>0</NUM><NUM>2</NUM></PORT></VLAN></C>"), ok);
    commands expected = {"uci add network switch_vlan",
                         "uci set network.@switch_vlan[-1].device=switch0",
                         std::string("uci set network.@switch_vlan[-1].vlan=") + c.index,
                         "uci set network.@switch_vlan[-1].vid=7"};
    if (*c.ports_command) expected.push_back(c.ports_command);
    for (const char* tail : {"=interface", ".type=bridge", ".proto=none"})
      expected.push_back(std::string("uci set network.vlan7") + tail);
    expected.push_back(std::string("uci set network.vlan7.ifname=") + c.ifname);
    expected.push_back("uci commit network");
    expected.push_back("uci commit wireless");
    EXPECT_EQ(fake.commands(), expected) << c.hardver;
  }
}

// Every switch section of a 7100/8100-KV board counts as the board family's,
// yet its first two are the built-in maps: they stay, and only they get the
// built-in ports.
TEST_F(Vlan, KvBoardKeepsItsBuiltinMaps) {
  board("HX8100-9344-KV");
  network({{"1", "0t 2"}, {"2", "0t 3"}, {"5", "0t 3t"}});
  EXPECT_EQ(post("<C><VLAN><VID>9</VID><SSID><ID>00</ID></SSID></VLAN></C>"), ok);
  EXPECT_EQ(section_count("network", "switch_vlan"), 3);
  EXPECT_EQ(get("network.@switch_vlan[0].ports"), "0t 2");
  EXPECT_EQ(get("network.@switch_vlan[1].ports"), "0t 3");
  EXPECT_EQ(get("network.@switch_vlan[2].vid"), "9");
  EXPECT_EQ(get("network.@switch_vlan[2].ports"), "0t 3t");

  // With no built-in sections at all, no user VLAN is rewritten.
  network({});
  EXPECT_EQ(post("<C><VLAN><VID>9</VID><SSID><ID>00</ID></SSID></VLAN>"
                 "<VLAN><VID>10</VID><SSID><ID>01</ID></SSID></VLAN></C>"),
            ok);
  EXPECT_EQ(get("network.@switch_vlan[0].ports"), "0t 3t");
  EXPECT_EQ(get("network.@switch_vlan[1].ports"), "0t 3t");
}

// ---- clear_extra_vlans ----

TEST_F(Vlan, ClearDeletesByNumberAndRestoresMapsOnSwitchBoards) {
  network({{"1", "0t 1 2 4"}, {"2", "0t"}, {"3;reboot", "0t 3 5 1t"}, {"030", "0t 1t"}});
  fake.clear_commands();
  clear_extra_vlans();
  EXPECT_EQ(fake.commands(),
            (commands{"uci delete network.@switch_vlan[2]", "uci delete network.vlan3",
                      "uci delete network.@switch_vlan[2]", "uci delete network.vlan30",
                      "uci set network.@switch_vlan[0].ports='0t 1 2 3 4'",
                      "uci set network.@switch_vlan[1].ports='0t 5'"}));
}

TEST_F(Vlan, ClearStartsWhereTheBoardsUserVlansStart) {
  struct {
    const char* hardver;
    int left;
  } cases[] = {
      {"HX-A-VERY-LONG-BOARD-NAME-9344", 0},  // family beyond the 15th character
      {"HX3-9344-MT", 0},
      {"HX8100-9344-KV", 2},
      {"HX5-9558-V2", 2},
  };
  for (const auto& c : cases) {
    board(c.hardver);
    network({{"1", "0t 2"}, {"2", "0t 3"}, {"4", "0t 3t"}});
    clear_extra_vlans();
    EXPECT_EQ(section_count("network", "switch_vlan"), c.left) << c.hardver;
  }
}

TEST_F(Vlan, ClearEndsWhenDeletionsFail) {
  network({{"1", "0t 1 2 3 4"}, {"2", "0t 5"}, {"4", "0t 3 1t"}, {"5", "0t 2 1t"}});
  // The staging folder is a plain file: every store change fails.
  std::string savedir = fake.root() + "/tmp/.uci";
  std::filesystem::remove_all(savedir);
  fake.put_file("/tmp/.uci", "");
  fake.clear_commands();
  clear_extra_vlans();
  EXPECT_EQ(std::count_if(fake.commands().begin(), fake.commands().end(),
                          [](const std::string& c) { return c.rfind("uci delete", 0) == 0; }),
            4);
}

}  // namespace
