// The system service through the request router, on the store, /proc files
// and clock of a fake device. Device actions only reach the fake.
#include <gtest/gtest.h>

#include <string>

#include "agent/config.h"
#include "agent/worker_state.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;

const std::string ok = envelope(0, "OK");
const std::string meminfo_now =
    "MemTotal:         124036 kB\nMemFree:           61200 kB\nMemAvailable:      80000 kB\n"
    "Buffers:            4096 kB\nCached:            12288 kB\nSwapCached:            0 kB\n";
const std::string meminfo_old =
    "MemTotal:         124036 kB\nMemFree:           61200 kB\nBuffers:            4096 kB\n"
    "Cached:            12288 kB\n";

class System : public FakeEffectsTest {
 protected:
  void SetUp() override {
    worker() = worker_state{};
    fake.write_config("system",
                      "config system\n\toption hostname 'AP'\n\toption version 'old'\n"
                      "\toption mode 'HX5'\n\toption sysdevgroup 'a<b&c'\n"
                      "\toption sysdevname 'x</SYSDEVNAME><USER_RIGHT>1</USER_RIGHT>'\n"
                      "\toption sys_mode '1'\n\toption rst_disabled '1'\n"
                      "\toption tn_disable '0'\n");
    vaps("11111111");
    fake.put_file("/etc/lsb-version", "2.4.1-r7\nbuilt today\n");
    fake.put_file("/proc/uptime", "3600.87 7000.12\n");
    fake.put_file("/proc/meminfo", meminfo_now);
    fake.put_file("/proc/stat", "cpu  4294967301 2 3 400 5 6 7 0 0 0\ncpu0 1 2 3\n");
    fake.put_file("/tmp/TZ", "CST-8\n");
    fake.set_now(1772442303);  // 2026-03-02 09:05:03 UTC
  }
  // Disabled options of VAP slots 0..n ('1' disabled, '0' enabled, '-' empty).
  void vaps(const std::string& disabled) {
    std::string text;
    for (char d : disabled)
      text += std::string("config wifi-iface\n") +
              (d == '-' ? "" : std::string("\toption disabled '") + d + "'\n") + "\n";
    fake.write_config("wireless", text);
  }
  std::string get(const std::string& path) { return routed_reply("GET /route/system" + path); }
  std::string post(const std::string& path, const std::string& body) {
    fake.clear_commands();
    return routed_reply("POST /route/system" + path + "\n" + body);
  }
};

std::string basic_document(const std::string& version, const std::string& cached_buffer,
                           const std::string& user_right, const std::string& freq_mode) {
  return declaration + "<SYSTEM><NAME>AP</NAME><VERSION>" + version +
         "</VERSION><MODEL>HX5</MODEL><SYSDEVGROUP>a&lt;b&amp;c</SYSDEVGROUP>"
         "<SYSDEVNAME>x&lt;/SYSDEVNAME&gt;&lt;USER_RIGHT&gt;1&lt;/USER_RIGHT&gt;</SYSDEVNAME>"
         "<CTIME>Mon Mar  2 17:05:03 2026\n</CTIME><UPTIME>3600</UPTIME><SYS_MODE>1</SYS_MODE>"
         "<MEM_INFO><TOTAL>124036</TOTAL><FREE>61200</FREE>" +
         cached_buffer +
         "</MEM_INFO><CPU_INFO><USER>5</USER><NICE>2</NICE><SYSTEM>3</SYSTEM><IDLE>400</IDLE>"
         "<IOWAIT>5</IOWAIT><IRQ>6</IRQ><SOFTIRQ>7</SOFTIRQ></CPU_INFO><USER_RIGHT>" +
         user_right + "</USER_RIGHT><RST_BT_DISABLE>1</RST_BT_DISABLE><FREQ_MODE>" + freq_mode +
         "</FREQ_MODE><TELNET_ENABLE>1</TELNET_ENABLE></SYSTEM>";
}

// ---- GET /basic ----

TEST_F(System, BasicDocumentEscapesStoredTextAndCopiesTheVersionOnce) {
  const std::string figures = "<CACHED>12288</CACHED><BUFFER>4096</BUFFER>";
  EXPECT_EQ(get("/basic"), basic_document("2.4.1-r7", figures, "", "0"));
  EXPECT_EQ(fake.commands(),
            (commands{"uci set system.@system[0].version=\"2.4.1-r7\"", "uci commit system"}));
  fake.clear_commands();
  worker().user_right[0] = '2';
  fake.put_file("/proc/meminfo", meminfo_old);
  EXPECT_EQ(get("/basic"), basic_document("2.4.1-r7", figures, "2", "0"));
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(System, EmptyVersionLineKeepsTheStoredVersion) {
  fake.put_file("/etc/lsb-version", "\n");
  get("/basic");
  EXPECT_EQ(cfg_get(std::string("system.@system[0].version")), "old");
  EXPECT_TRUE(fake.commands().empty());
}

TEST_F(System, FreqModeFollowsTheFirstEnabledVap) {
  struct {
    const char* disabled;
    const char* freq_mode;
  } cases[] = {{"11111111", "0"}, {"11111011", "1"}, {"1111-111", "1"},
               {"01111011", "0"}, {"1111", "1"},     {"11110", "1"}};
  for (const auto& c : cases) {
    vaps(c.disabled);
    EXPECT_NE(get("/basic").find(std::string("<FREQ_MODE>") + c.freq_mode + "</FREQ_MODE>"),
              std::string::npos)
        << c.disabled;
  }
}

// ---- GET /traffic ----

TEST_F(System, TrafficReadsWholeLinesAndLow32BitsOfCounters) {
  fake.put_file(
      "/proc/net/dev",
      "Inter-|   Receive                                                |  Transmit\n"
      " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets\n"
      "    lo:     100       2    0    0    0     0          0         0      300       4    0 "
      "   0    0     0       0          0\n"
      "wifi0-long-name: 4294967396 4294967297 0 0 0 0 0 0 8589934593 12 0 0 0 0 0 "
      "0000000000000000000000000000000000000000000000000000000000000000000000000000000\n"
      "eth0:123 5 0 0 0 0 0 0 7 8 0 0 0 0 0 0\n"
      "broken: 1 2 3\n"
      "garbage without colon\n");
  EXPECT_EQ(get("/traffic"),
            declaration +
                "<SYSTEM><TRAFFIC>"
                "<INTERFACE><NAME>lo</NAME><SEND_BYTES>300</SEND_BYTES><SEND_PKTS>4</SEND_PKTS>"
                "<RECV_BYTES>100</RECV_BYTES><RECV_PKTS>2</RECV_PKTS></INTERFACE>"
                "<INTERFACE><NAME>wifi0-long-name</NAME><SEND_BYTES>1</SEND_BYTES>"
                "<SEND_PKTS>12</SEND_PKTS><RECV_BYTES>100</RECV_BYTES><RECV_PKTS>1</RECV_PKTS>"
                "</INTERFACE>"
                "<INTERFACE><NAME>eth0</NAME><SEND_BYTES>7</SEND_BYTES><SEND_PKTS>8</SEND_PKTS>"
                "<RECV_BYTES>123</RECV_BYTES><RECV_PKTS>5</RECV_PKTS></INTERFACE>"
                "</TRAFFIC></SYSTEM>");
  fake.remove_file("/proc/net/dev");
  EXPECT_EQ(get("/traffic"), envelope(5, "No such file or directory"));
}

// ---- GET /backup, unknown sub-paths ----

TEST_F(System, BackupIsNamedByUtcTimeWithoutLeadingZeros) {
  EXPECT_EQ(get("/backup"), declaration + "<SYSTEM><URL>bakfile.bin</URL></SYSTEM>");
  EXPECT_EQ(fake.commands(),
            (commands{"/usr/bin/find /etc -type f ! -name lsb-version |xargs /bin/tar -czvf "
                      "/tmp/backup-202632-9:5:3.tar.gz",
                      "/bin/ln -sf /tmp/backup-202632-9:5:3.tar.gz /www/bakfile.bin"}));
  for (const char* path : {"", "/", "/basics", "/backupx"})
    EXPECT_EQ(get(path), envelope(1, "NO SERVICE")) << path;
}

// ---- POST /basic ----

TEST_F(System, BasicSettings) {
  const std::string telnet_job = "(/etc/init.d/telnet stop; /etc/init.d/telnet restart) &";
  struct {
    const char* path;
    const char* body;
    std::string reply;
    commands run;
  } cases[] = {
      {"/basic",
       "<S><SYSDEVGROUP>g</SYSDEVGROUP><SYSDEVNAME>n 1</SYSDEVNAME>"
       "<RST_BT_DISABLE>0</RST_BT_DISABLE><TELNET_ENABLE>0</TELNET_ENABLE></S>",
       ok,
       {"uci set system.@system[0].rst_disabled=\"0\"",
        "uci set system.@system[0].sysdevgroup=\"g\"",
        "uci set system.@system[0].sysdevname=\"n 1\"",
        "uci set system.@system[0].tn_disable=\"1\"", "uci commit system", telnet_job}},
      {"/",
       "<S><TELNET_ENABLE></TELNET_ENABLE></S>",
       ok,
       {"uci set system.@system[0].tn_disable=\"0\"", "uci commit system", telnet_job}},
      {"/basic",
       "<S><RST_BT_DISABLE>1</RST_BT_DISABLE></S>",
       ok,
       {"uci set system.@system[0].rst_disabled=\"1\"", "uci commit system"}},
      {"/basic", "<S><SYSDEVNAME>only</SYSDEVNAME></S>", "", {}},
      {"/basic",
       "<S><SYSDEVGROUP>g</SYSDEVGROUP><SYSDEVNAME>\x01</SYSDEVNAME></S>",
       envelope(3, "FORMAT ERROR"),
       {}},
      {"/basic", "<S><SYSDEVGROUP>", envelope(3, "FORMAT ERROR"), {}},
      {"/other", "<S><SYSDEVGROUP>", envelope(3, "FORMAT ERROR"), {}},
      {"/other", "<S/>", envelope(1, "Invalid service"), {}},
      {"", "<S/>", envelope(1, "Invalid service"), {}},
  };
  for (const auto& c : cases) {
    fake.remove_file("/tmp/kkk");
    EXPECT_EQ(post(c.path, c.body), c.reply) << c.body;
    EXPECT_EQ(fake.commands(), c.run) << c.body;
  }
  EXPECT_EQ(fake.file_text("/tmp/kkk"), "");
  post("/basic", "<S><RST_BT_DISABLE>1</RST_BT_DISABLE></S>");
  EXPECT_EQ(fake.file_text("/tmp/kkk"), "rst\n");
  EXPECT_NE(fake.read_config("system").find("option rst_disabled '1'"), std::string::npos);

  std::string huge(2048, 'n');
  EXPECT_EQ(post("/basic", "<S><SYSDEVGROUP>g</SYSDEVGROUP><SYSDEVNAME>" + huge +
                               "</SYSDEVNAME><TELNET_ENABLE>1</TELNET_ENABLE></S>"),
            envelope(3, "FORMAT ERROR"));
  EXPECT_TRUE(fake.commands().empty());
}

// ---- POST /active ----

TEST_F(System, ActionsSyncBeforeEveryRestartAndAnswerWhenTheKernelRefuses) {
  const std::string restart = "reboot 1234567";
  struct {
    const char* body;
    std::string reply;
    commands timeline;
  } cases[] = {
      {"<A><ACT>Reboot</ACT></A>",
       envelope(1, "NO SERVICE"),
       {"sync", "/sbin/reboot -n -f", "sync", restart}},
      {"<A><ACT>Poweroff</ACT></A>", envelope(1, "NO SERVICE"), {"sync", "reboot 4321fedc"}},
      {"<A><ACT>Reset</ACT></A>",
       envelope(1, "NO SERVICE"),
       {"kill -1 15", "/bin/rm -rf /overlay/*", "sync", restart}},
      {"<A><ACT>Restore</ACT><URL>backup-202632-9:5:3.tar.gz</URL></A>",
       envelope(1, "NO SERVICE"),
       {"/bin/tar -C / -xzvf /tmp/backup-202632-9:5:3.tar.gz", "sync", restart}},
      {"<A><ACT>Restore</ACT><URL>x;reboot $(id)</URL></A>",
       envelope(1, "NO SERVICE"),
       {"/bin/tar -C / -xzvf '/tmp/x;reboot $(id)'", "sync", restart}},
      {"<A><ACT>Upgrade</ACT><URL>fw.bin</URL></A>",
       envelope(1, "NO SERVICE"),
       {"/sbin/sysupgrade /tmp/fw.bin", "sync", restart}},
      {"<A><ACT>Upgrade</ACT><URL>fw.bin</URL><SAVE_CFG>1</SAVE_CFG></A>",
       envelope(1, "NO SERVICE"),
       {"/sbin/sysupgrade /tmp/fw.bin", "sync", restart}},
      {"<A><ACT>Upgrade</ACT><URL>fw.bin</URL><SAVE_CFG>0</SAVE_CFG></A>",
       envelope(1, "NO SERVICE"),
       {"/sbin/sysupgrade -n /tmp/fw.bin", "sync", restart}},
      {"<A><ACT>reboot</ACT></A>", envelope(1, "NO SERVICE"), {}},
      {"<A/>", envelope(1, "NO SERVICE"), {}},
      {"<A><ACT>Mode</ACT></A>", envelope(3, "FORMAT ERROR"), {}},
      {"<A><ACT>Mode</ACT><MODE>9</MODE></A>", ok, {}},
      {"<A><ACT>Mode</ACT><MODE>1</MODE></A>", ok, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(post("/active", c.body), c.reply) << c.body;
    EXPECT_EQ(fake.timeline(), c.timeline) << c.body;
  }
  EXPECT_EQ(worker().mode_switch_state, 0);
}

TEST_F(System, ArchiveNamesOutsideTmpOrTooLongAreRefused) {
  std::string too_long(1000, 'a');
  for (std::string url : {std::string(""), std::string("../etc/config/network"), std::string(".."),
                          std::string("."), std::string("a/b"), too_long}) {
    for (const char* act : {"Restore", "Upgrade"}) {
      EXPECT_EQ(post("/active", std::string("<A><ACT>") + act + "</ACT><URL>" + url +
                                    "</URL><SAVE_CFG>0</SAVE_CFG></A>"),
                envelope(3, "FORMAT ERROR"))
          << act << " " << url;
      EXPECT_TRUE(fake.timeline().empty()) << url;
    }
  }
  EXPECT_EQ(post("/active", "<A><ACT>Upgrade</ACT></A>"), envelope(3, "FORMAT ERROR"));
}

}  // namespace
