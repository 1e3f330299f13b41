// The uplink service with stand-in probes, and the probes' pure pieces: the
// judges of DHCP answers and of PADOs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/startup.h"
#include "probes/probes.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"
#include "tests/support/routing.h"

namespace {

using namespace expected;
using Bytes = std::vector<uint8_t>;

std::vector<std::string> probed;
uplink_found answers;

uplink_found fake_probe(const char* ifname) {
  probed.push_back(ifname);
  return answers;
}

class Uplink : public FakeEffectsTest {
 protected:
  void SetUp() override {
    saved_ = uplink_prober;
    uplink_prober = fake_probe;
    probed.clear();
  }
  void TearDown() override { uplink_prober = saved_; }
  uplink_found (*saved_)(const char*) = nullptr;
};

TEST_F(Uplink, ModeChoosesTheInterfaceAndAnswersReachTheDocument) {
  struct Case {
    const char* sys_mode;
    bool dhcp, pppoe;
    std::string ifname, protos;
  } cases[] = {
      {"1", true, false, wan_ifname, "<PROTO>dhcp</PROTO><PROTO></PROTO>"},
      {"2", false, true, "br-lan", "<PROTO></PROTO><PROTO>pppoe</PROTO>"},
      {"5", true, true, "br-lan", "<PROTO>dhcp</PROTO><PROTO>pppoe</PROTO>"},
      {"", false, false, "br-lan", "<PROTO></PROTO><PROTO></PROTO>"},
  };
  for (const Case& c : cases) {
    fake.write_config("system",
                      std::string("config system\n\toption sys_mode '") + c.sys_mode + "'\n");
    answers = {c.dhcp, c.pppoe};
    probed.clear();
    EXPECT_EQ(routed_reply("GET /route/uplink"), declaration + "<UPLINK>" + c.protos + "</UPLINK>")
        << "mode " << c.sys_mode;
    EXPECT_EQ(probed, std::vector<std::string>{c.ifname});
  }
}

TEST_F(Uplink, SubPathIsRefusedBeforeAnyProbe) {
  EXPECT_EQ(routed_reply("GET /route/uplink/x"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(routed_reply("GET /route/uplink/"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(routed_reply("POST /route/uplink\n<UPLINK/>"), envelope(1, "NO SERVICE"));
  EXPECT_TRUE(probed.empty());
}

TEST(ProbeInterface, NamesThatDoNotFitAreNotProbed) {
  uplink_found found = uplink_probe("eth0.1000000000x");
  EXPECT_FALSE(found.dhcp);
  EXPECT_FALSE(found.pppoe);
  EXPECT_TRUE(probe_ifname_fits("eth0.100000000x"));
}

// ---- The common window

// A discovery on a pipe: each byte written is one message, and 'y' is the
// answer that ends its wait.
class PipeDiscovery : public discovery {
 public:
  PipeDiscovery(int64_t window_ms, const std::string& messages, bool opened = true) {
    int ends[2];
    if (pipe(ends) != 0) return;
    writer_.reset(ends[1]);
    EXPECT_EQ(write(ends[1], messages.data(), messages.size()), ssize_t(messages.size()));
    if (opened)
      socket_.reset(ends[0]);
    else
      close(ends[0]);
    window_end_ms_ = monotonic_ms() + window_ms;
  }
  std::string taken;

 private:
  bool take() override {
    char message = 0;
    if (read(socket_.get(), &message, 1) == 1) taken += message;
    return message == 'y';
  }
  OwnedFd writer_;
};

TEST(ListenForAnswers, EachWaitEndsAtItsAnswerOrItsWindow) {
  constexpr int64_t long_window = 30000;
  struct Side {
    int64_t window_ms;
    std::string messages;
    bool opened;
    std::string taken;
  };
  struct Case {
    const char* what;
    Side a, b;
  } cases[] = {
      {"both answer at once", {long_window, "y", true, "y"}, {long_window, "y", true, "y"}},
      {"wrong messages first, then the answer; nothing read after it",
       {long_window, "nny", true, "nny"},
       {long_window, "yy", true, "y"}},
      {"one silent until its window ends", {long_window, "y", true, "y"}, {50, "", true, ""}},
      {"wrong messages do not prolong the window", {50, "nnn", true, "nnn"}, {40, "n", true, "n"}},
      {"a discovery that could not open does not wait",
       {long_window, "y", true, "y"},
       {long_window, "y", false, ""}},
  };
  for (const Case& c : cases) {
    PipeDiscovery a(c.a.window_ms, c.a.messages, c.a.opened);
    PipeDiscovery b(c.b.window_ms, c.b.messages, c.b.opened);
    discovery* const both[] = {&a, &b};
    const int64_t started = monotonic_ms();
    EXPECT_TRUE(listen_for_answers(both, 2)) << c.what;
    EXPECT_LT(monotonic_ms() - started, long_window / 2) << c.what;
    EXPECT_EQ(a.taken, c.a.taken) << c.what;
    EXPECT_EQ(b.taken, c.b.taken) << c.what;
    EXPECT_FALSE(a.listening() || b.listening()) << c.what;
  }
}

// ---- DHCP answers

const uint8_t our_mac[6] = {0x02, 0x11, 0x22, 0x33, 0x00, 0x04};
constexpr uint32_t our_xid = 0x0a0b0c0d;

in_addr address(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a;
}

TEST(DhcpAnswer, CountsOnlyAnswersToUsFromAnotherHost) {
  uint8_t offer[dhcp_message_size];
  dhcp_discover_build(our_xid, our_mac, offer);
  offer[0] = 2;
  const std::vector<in_addr> own = {address("127.0.0.1"), address("192.168.1.1")};
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
    size_t length;
    const char* sender;
    bool counts;
  } cases[] = {
      {"an offer", 0, 2, sizeof offer, "203.0.113.1", true},
      {"a NAK (type not examined)", 242, 6, sizeof offer, "203.0.113.1", true},
      {"a datagram cut after chaddr", 0, 2, 34, "203.0.113.1", true},
      {"another transaction", 7, 0x0e, sizeof offer, "203.0.113.1", false},
      {"another station", 33, 0x05, sizeof offer, "203.0.113.1", false},
      {"shorter than chaddr", 0, 2, 33, "203.0.113.1", false},
      {"the device's own server", 0, 2, sizeof offer, "192.168.1.1", false},
  };
  for (const Case& c : cases) {
    uint8_t answer[dhcp_message_size];
    std::copy(offer, offer + sizeof offer, answer);
    answer[c.at] = c.value;
    EXPECT_EQ(dhcp_answer_counts(answer, c.length, our_xid, our_mac, address(c.sender), own),
              c.counts)
        << c.what;
  }
}

// ---- PADOs

const uint8_t ac_mac[6] = {0x02, 0xac, 0x00, 0x00, 0x00, 0x01};

// Byte by byte: g++ 12 misjudges the bounds of vector range inserts.
void append(Bytes& to, const uint8_t* from, size_t count) {
  for (size_t i = 0; i < count; i++) to.push_back(from[i]);
}

Bytes operator+(Bytes a, const Bytes& b) {
  append(a, b.data(), b.size());
  return a;
}

Bytes tag(uint16_t type, const std::string& value) {
  Bytes t = {uint8_t(type >> 8), uint8_t(type), uint8_t(value.size() >> 8), uint8_t(value.size())};
  append(t, reinterpret_cast<const uint8_t*>(value.data()), value.size());
  return t;
}

Bytes frame(const Bytes& tags, uint8_t code = 0x07, const uint8_t* to = our_mac,
            const uint8_t* from = ac_mac, uint8_t version_type = 0x11) {
  Bytes f;
  append(f, to, 6);
  append(f, from, 6);
  return f + Bytes{0x88,
                   0x63,
                   version_type,
                   code,
                   0,
                   0,
                   uint8_t(tags.size() >> 8),
                   uint8_t(tags.size())} +
         tags;
}

const std::string accepted_lines =
    "---------------------------recv PADO-----------------------\n"
    "AC-Ethernet-Address: 02:ac:00:00:00:01\n"
    "##_____waitForPADO____414___##\n##_____waitForPADO____417___##\n";

TEST(Pado, JudgedAsTheProtocolSays) {
  const Bytes ac = tag(0x0102, "isp-ac");
  const Bytes any = tag(0x0101, "");
  const uint8_t broadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  const uint8_t other[6] = {0x02, 0, 0, 0, 0, 0x98};
  Bytes cut_tag = ac + any + Bytes{0x01, 0x02};  // a tag header cut by the payload's end
  Bytes long_tag = any + Bytes{0x01, 0x02, 0x00, 0x09, 'a', 'b'};
  Bytes padded = frame(ac + any) + Bytes(30, 0);
  Bytes bogus = frame(ac + any);
  bogus.resize(bogus.size() - 1);
  Bytes runt = frame(ac + any);
  runt.resize(19);
  struct Case {
    const char* what;
    Bytes frame;
    bool accepted;
    std::string out, err;
  } cases[] = {
      {"AC-Name and empty Service-Name", frame(ac + any), true,
       "Access-Concentrator: isp-ac\n" + accepted_lines, ""},
      {"named service, then End-Of-List",
       frame(tag(0x0101, "isp") + ac + tag(0, "") + tag(0x0203, "x")), true,
       "       Service-Name: isp\nAccess-Concentrator: isp-ac\n" + accepted_lines, ""},
      {"trailing padding", padded, true, "Access-Concentrator: isp-ac\n" + accepted_lines, ""},
      {"tag header cut by the end", frame(cut_tag), true,
       "Access-Concentrator: isp-ac\n" + accepted_lines, ""},
      {"no AC-Name", frame(any), false, "", "Ignoring PADO packet with no AC-Name tag\n"},
      {"no Service-Name", frame(ac), false, "Access-Concentrator: isp-ac\n",
       "Ignoring PADO packet with no Service-Name tag\n"},
      {"value past the payload", frame(long_tag), false, "",
       "Invalid PPPoE tag length (9)\nIgnoring PADO packet with no AC-Name tag\n"},
      {"from broadcast", frame(ac + any, 0x07, our_mac, broadcast), false, "",
       "Ignoring PADO packet from broadcast MAC address\n"},
      {"for another station", frame(ac + any, 0x07, other), false, "", ""},
      {"a PADI", frame(any, 0x09, broadcast), false, "", ""},
      {"runt", runt, false, "", ""},
      {"payload longer than received", bogus, false, "", "Bogus PPPoE length field (14)\n"},
      {"version 2", frame(ac + any, 0x07, our_mac, ac_mac, 0x21), false, "",
       "Invalid PPPoE version (2)\nIgnoring PADO packet with no AC-Name tag\n"},
      {"type 2", frame(ac + any, 0x07, our_mac, ac_mac, 0x12), false, "",
       "Invalid PPPoE type (2)\nIgnoring PADO packet with no AC-Name tag\n"},
      {"payload over 1494", frame(ac + any + tag(0x0105, std::string(1478, 'x'))), false, "",
       "Invalid PPPoE packet length (1496)\nIgnoring PADO packet with no AC-Name tag\n"},
  };
  for (const Case& c : cases) {
    pado_verdict v = pado_judge(c.frame.data(), c.frame.size(), our_mac);
    EXPECT_EQ(v.accepted, c.accepted) << c.what;
    EXPECT_EQ(v.out, c.out) << c.what;
    EXPECT_EQ(v.err, c.err) << c.what;
    if (c.accepted) {
      EXPECT_EQ(Bytes(v.ac_mac, v.ac_mac + 6), Bytes(ac_mac, ac_mac + 6));
    }
  }
}

TEST(Pado, CookiesAndRelayIdsPrintTwentyBytesAtMost) {
  std::string cookie(21, '\xc5');
  Bytes f = frame(tag(0x0104, cookie) + tag(0x0110, "\x01\x02") + tag(0x0102, "ac") +
                  tag(0x0101, "") + tag(0x0202, "busy"));
  pado_verdict v = pado_judge(f.data(), f.size(), our_mac);
  std::string twenty;
  for (int i = 0; i < 20; i++) twenty += " c5";
  EXPECT_EQ(v.out, "Got a cookie:" + twenty + "...\nGot a Relay-ID: 01 02\n" +
                       "Access-Concentrator: ac\nGot a System-Error tag: busy\n" + accepted_lines);
}

}  // namespace
