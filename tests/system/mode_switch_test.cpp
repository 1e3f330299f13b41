// The operating-mode switch, on the store of a fake dual-band device.
#include <gtest/gtest.h>

#include <string>

#include "agent/config.h"
#include "agent/startup.h"
#include "agent/worker_state.h"
#include "services/system/mode_switch.h"
#include "tests/support/fake_effects.h"

namespace {

class ModeSwitch : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    device("1", "HX5-9558-V2", "DUAL");
    fake.write_config("network",
                      "config interface 'lan'\n\toption ifname 'eth0.1'\n\toption proto 'static'\n"
                      "\toption ipaddr '192.168.1.1'\n\toption gatewaybak '192.168.1.254'\n"
                      "\toption vantor_ipaddr '10.0.0.9'\n\n"
                      "config interface 'wan'\n\toption ifname 'eth0.2'\n\n"
                      "config qos_global 'qos'\n\toption disable '0'\n\n"
                      "config switch_vlan\n\toption device 'switch0'\n\toption vid '1'\n"
                      "\toption ports '0t 1 2'\n\n"
                      "config switch_vlan\n\toption device 'switch0'\n\toption vid '2'\n"
                      "\toption ports '0t'\n\n"
                      "config switch_vlan\n\toption device 'switch0'\n\toption vid '7'\n"
                      "\toption ports '0t 3 4 5 1t'\n\n"
                      "config interface 'vlan7'\n\toption type 'bridge'\n");
    fake.write_config("dhcp", "config dhcp 'lan'\n\toption ignore '0'\n");
    std::string wireless =
        "config wifi-device 'wifi0'\n\toption hwmode '11ng'\n\n"
        "config wifi-device 'wifi1'\n\toption hwmode '11ac'\n\n";
    for (int slot = 0; slot < 8; ++slot)
      wireless += "config wifi-iface\n\toption network 'vlan7'\n\toption id '" +
                  std::to_string(slot / 4) + std::to_string(slot % 4) + "'\n\n";
    fake.write_config("wireless", wireless);
  }
  void device(const std::string& mode, const std::string& hardver, const std::string& submode) {
    fake.write_config("system", "config system\n\toption sys_mode '" + mode +
                                    "'\n\toption hardver '" + hardver + "'\n\toption submode '" +
                                    submode + "'\n");
    board_ifnames_init();
  }
  // Committed values only: the switch must leave nothing merely staged.
  std::string committed(const std::string& path) {
    fake.remove_file("/tmp/.uci/network");
    fake.remove_file("/tmp/.uci/wireless");
    fake.remove_file("/tmp/.uci/dhcp");
    fake.remove_file("/tmp/.uci/system");
    return cfg_get(path);
  }
};

TEST_F(ModeSwitch, WritesEachModesSettings) {
  struct {
    int mode;
    const char* wan_ifname;
    const char* lan_ifname;
    const char* proto;
    const char* ipaddr;
    const char* dhcp_ignore;
    const char* qos_disable;
    const char* wds;
    const char* nawds_main;  // slot 0, then slot 4
    const char* gateway;     // the option that holds the LAN gateway afterwards
  } cases[] = {
      {1, "eth0.2", "eth0.1", "static", "192.168.1.1", "0", "0", "1", "0 0", "gatewaybak"},
      {2, "", "eth0.1 eth0.2", "static", "192.168.1.1", "0", "1", "1", "0 0", "gatewaybak"},
      {3, "", "eth0.1 eth0.2", "static", "192.168.1.1", "1", "1", "0", "0 0", "gateway"},
      {4, "", "eth0.1 eth0.2", "dhcp", "10.0.0.9", "1", "1", "1", "0 0", "gateway"},
      {5, "", "eth0.1 eth0.2", "dhcp", "10.0.0.9", "1", "1", "1", "1 ", "gateway"},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.mode == 1) device("3", "HX5-9558-V2", "DUAL");
    EXPECT_EQ(mode_switch(c.mode), 0);
    EXPECT_EQ(worker().mode_switch_state, c.mode);
    std::string row = committed("network.wan.ifname") + "|" + cfg_get("network.lan.ifname") + "|" +
                      cfg_get("network.lan.proto") + "|" + cfg_get("network.lan.ipaddr") + "|" +
                      cfg_get("dhcp.lan.ignore") + "|" + cfg_get("network.qos.disable") + "|" +
                      cfg_get("wireless.@wifi-iface[0].wds") + "|" +
                      cfg_get("wireless.@wifi-iface[0].nawds_mode") + " " +
                      cfg_get("wireless.@wifi-iface[4].nawds_mode");
    std::string expected = std::string(c.wan_ifname) + "|" + c.lan_ifname + "|" + c.proto + "|" +
                           c.ipaddr + "|" + c.dhcp_ignore + "|" + c.qos_disable + "|" + c.wds +
                           "|" + c.nawds_main;
    EXPECT_EQ(row, expected) << "mode " << c.mode;
    EXPECT_EQ(cfg_get("network.lan." + std::string(c.gateway)), "192.168.1.254") << c.mode;
    EXPECT_EQ(cfg_get("system.@system[0].sys_mode"), std::to_string(c.mode));
    for (int slot = 0; slot < 8; ++slot) {
      std::string iface = "wireless.@wifi-iface[" + std::to_string(slot) + "].";
      EXPECT_EQ(cfg_get(iface + "network") + cfg_get(iface + "mode") + cfg_get(iface + "extap") +
                    cfg_get(iface + "disabled"),
                std::string("lanap1") + (slot % 4 == 0 ? "0" : "1"))
          << c.mode << " slot " << slot;
    }
    // The user VLAN is gone and its ports are back in the built-in maps.
    EXPECT_EQ(cfg_get("network.@switch_vlan[2]"), "") << c.mode;
    EXPECT_EQ(cfg_get("network.vlan7"), "") << c.mode;
    EXPECT_EQ(cfg_get("network.@switch_vlan[0].ports"), "0t 1 2 3 4") << c.mode;
    EXPECT_EQ(cfg_get("network.@switch_vlan[1].ports"), "0t 5") << c.mode;
  }
}

TEST_F(ModeSwitch, Mode5SetsWdsCapabilitiesOfTheMainVaps) {
  mode_switch(4);
  fake.clear_commands();
  EXPECT_EQ(mode_switch(5), 0);
  // Values already stored are not staged again.
  for (const std::string& command : fake.commands())
    EXPECT_EQ(command.find("network.lan.proto"), std::string::npos) << command;
  EXPECT_EQ(committed("wireless.@wifi-iface[0].nawds_defcaps"), "5");
  EXPECT_EQ(cfg_get("wireless.@wifi-iface[4].nawds_defcaps"), "36");
  EXPECT_EQ(cfg_get("wireless.@wifi-iface[0].nawds_override") +
                cfg_get("wireless.@wifi-iface[4].nawds_override"),
            "00");
}

TEST_F(ModeSwitch, CurrentOrUnknownModeChangesNothing) {
  for (int mode : {1, 0, 6, -1}) {
    EXPECT_EQ(mode_switch(mode), 0);
    EXPECT_TRUE(fake.commands().empty()) << mode;
    EXPECT_EQ(worker().mode_switch_state, 0);
  }
}

TEST_F(ModeSwitch, Single5gBoardLeavesTheFirstRadiosSlots) {
  device("1", "HX5-9558-5G", "SINGLE5G");
  mode_switch(3);
  EXPECT_EQ(committed("wireless.@wifi-iface[0].network"), "vlan7");
  EXPECT_EQ(cfg_get("wireless.@wifi-iface[0].wds"), "");
  EXPECT_EQ(cfg_get("wireless.@wifi-iface[4].wds"), "0");
}

TEST_F(ModeSwitch, WanExitBridgeIsReplacedWithinTheSwitch) {
  fake.write_config("system",
                    "config system\n\toption sys_mode '1'\n\toption wan_exitbridge '1'\n"
                    "\toption hardver 'HX3-9344-V1'\n");
  board_ifnames_init();
  mode_switch(2);
  EXPECT_EQ(fake.commands()[1], "uci set network.lan.ifname=\"eth1\"");
  EXPECT_EQ(committed("network.lan.ifname"), "eth0 eth1");
}

}  // namespace
