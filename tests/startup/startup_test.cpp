#include "agent/startup.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "agent/terminate.h"
#include "tests/support/fake_effects.h"

namespace {

class Startup : public FakeEffectsTest {
 protected:
  void board(const std::string& hardver) {
    fake.write_config("system", "config system\n\toption hardver '" + hardver + "'\n");
  }
  void snmp_device(const std::string& sys_mode, const std::string& proto,
                   const std::string& snmpd_options) {
    fake.write_config("system", "config system\n\toption sys_mode '" + sys_mode + "'\n");
    fake.write_config("network", "config interface 'lan'\n\toption proto '" + proto + "'\n");
    fake.write_config("dhcp",
                      "config snmpd 'snmpd'\n\toption ac_addr '192.168.1.9'\n" + snmpd_options);
  }
};

TEST_F(Startup, BoardFamilyChoosesSeparateEthernetInterfaces) {
  board("AP-9344-v2");
  board_ifnames_init();
  EXPECT_STREQ(wan_ifname, "eth0");
  EXPECT_STREQ(lan_ifname, "eth1");
  EXPECT_STREQ(bridge_ifnames, "eth0 eth1");
  EXPECT_STREQ(switch_dev, "eth1");

  board("");
  board_ifnames_init();
  EXPECT_STREQ(wan_ifname, "eth0.2");
  EXPECT_STREQ(lan_ifname, "eth0.1");
  EXPECT_STREQ(bridge_ifnames, "eth0.1 eth0.2");
  EXPECT_STREQ(switch_dev, "eth0");

  for (const char* family : {"9531", "x9341y"}) {
    board(family);
    board_ifnames_init();
    EXPECT_STREQ(wan_ifname, "eth0") << family;
  }
  board("934");
  board_ifnames_init();
  EXPECT_STREQ(wan_ifname, "eth0.2");
}

TEST_F(Startup, SnmpConfigurationWithDefaultCommunities) {
  snmp_device("4", "static", "");
  EXPECT_EQ(snmpd_conf_write(), 0);
  EXPECT_EQ(fake.file_text("/var/run/snmpd.conf"),
            "sysobjectid .1.3.6.1.4.1.47215.100.1.1.1.1.10\n"
            "agentAddress udp:161\n"
            "sysservices 72\n"
            "rwcommunity k4tw9rq2zm7x\n"
            "rocommunity k4tw9rq2zm7x\n"
            "trapcommunity mivrok\n"
            "trap2sink 192.168.1.9\n");
  ASSERT_EQ(fake.commands().size(), 1u);
  EXPECT_EQ(fake.commands()[0], "kill -SIGHUP `cat /var/run/snmpd.pid`");
}

TEST_F(Startup, SnmpConfigurationWithOwnEnterpriseAndMissingCommunities) {
  snmp_device("5", "static", "\toption enterprisesid '1234'\n");
  snmpd_conf_write();
  std::string conf = fake.file_text("/var/run/snmpd.conf");
  EXPECT_NE(conf.find("sysobjectid .1.3.6.1.4.1.1234.100.1.1.1.1.10\n"), std::string::npos);
  EXPECT_NE(conf.find("\nrwcommunity \nrocommunity \n"), std::string::npos);
}

TEST_F(Startup, SnmpConfigurationOnlyForBridgeModesWithStaticLan) {
  for (auto [mode, proto] : {std::pair{"1", "static"},
                             {"4", "dhcp"},
                             {"3", "static"},
                             {"", "static"},
                             {"4", "statics"}}) {
    snmp_device(mode, proto, "");
    snmpd_conf_write();
    EXPECT_FALSE(fake.exists("/var/run/snmpd.conf")) << mode << " " << proto;
    EXPECT_TRUE(fake.commands().empty()) << mode << " " << proto;
  }
}

TEST_F(Startup, StoredCommunitiesNeverReachTheShellOrAddLines) {
  snmp_device("4", "static",
              "\toption enterprisesid '99'\n"
              "\toption rwcommunity 'a\"b$(touch /tmp/owned)`id`'\n"
              "\toption rocommunity 'pub\nrwcommunity evil'\n");
  snmpd_conf_write();
  std::string conf = fake.file_text("/var/run/snmpd.conf");
  EXPECT_NE(conf.find("rwcommunity a\"b$(touch /tmp/owned)`id`\n"), std::string::npos);
  EXPECT_NE(conf.find("rocommunity pub\ntrapcommunity"), std::string::npos);
  EXPECT_EQ(conf.find("evil"), std::string::npos);
  EXPECT_EQ(std::count(conf.begin(), conf.end(), '\n'), 7);
  ASSERT_EQ(fake.commands().size(), 1u);  // only the signal
}

// A private key so the test never creates the device's block on this host.
TEST(TokenBlock, CreateZeroesAndAttachSharesTheSameBytes) {
  key_t key = 0x5000 + (getpid() & 0xfff);
  ASSERT_EQ(shm_create(key), 0);
  auto* block = static_cast<unsigned char*>(shm_attach(key));
  ASSERT_NE(block, nullptr);
  for (size_t i = 0; i < token_block_size; ++i) ASSERT_EQ(block[i], 0) << i;
  block[0] = 'A';
  block[67] = 'Z';
  auto* again = static_cast<unsigned char*>(shm_attach(key));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again[0], 'A');
  EXPECT_EQ(again[67], 'Z');
  EXPECT_EQ(shm_detach(again), 0);
  EXPECT_EQ(shm_detach(block), 0);
  shmctl(shmget(key, token_block_size, 0600), IPC_RMID, nullptr);
  EXPECT_EQ(shm_attach(key), nullptr);
}

// The line names the exception being handled, without the type name that
// would need the demangler, and the process ends by SIGABRT (an emulator
// may add lines of its own after it).
TEST(TerseTerminate, OneLineThenAbort) {
  auto with_exception = [] {
    std::set_terminate(terse_terminate);
    try {
      throw std::runtime_error("worker gave up");
    } catch (...) {
      std::terminate();
    }
  };
  EXPECT_EXIT(with_exception(), testing::KilledBySignal(SIGABRT),
              "^terminate called: worker gave up\n");
  auto without = [] {
    std::set_terminate(terse_terminate);
    std::terminate();
  };
  EXPECT_EXIT(without(), testing::KilledBySignal(SIGABRT), "^terminate called\n");
}

}  // namespace
