// Byte order and word size where they are part of a format or of a library's
// interface. The same expectations hold on the host (x86-64, little-endian)
// and on the boards (32-bit MIPS, big-endian): only the bytes that are in the
// processor's own order differ, and each case names both forms literally.
#include <arpa/inet.h>
#include <event2/event.h>
#include <event2/util.h>
#include <gtest/gtest.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "agent/startup.h"
#include "probes/probes.h"
#include "services/system/login.h"
#include "tests/support/fake_effects.h"
#include "tools/macprov/mac_provision.h"
#include "tools/wdsie/onekey_request.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr bool kBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

template <typename T>
Bytes bytes_of(const T& value, std::size_t offset, std::size_t count) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value) + offset;
  return Bytes(p, p + count);
}

// What the boards run: the build for mips must be big-endian ILP32 with the
// 64-bit time_t and off_t that the C library there uses.
TEST(DataModel, TargetBuildMatchesTheBoards) {
#if defined(__mips__)
  EXPECT_TRUE(kBigEndian);
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_EQ(sizeof(long), 4u);
#endif
  EXPECT_EQ(sizeof(time_t), 8u) << "built without -D_TIME_BITS=64";
  EXPECT_EQ(sizeof(off_t), 8u) << "built without -D_FILE_OFFSET_BITS=64";
  std::uint32_t one = 1;
  EXPECT_EQ(bytes_of(one, 0, 1)[0], kBigEndian ? 0 : 1);
}

// libevent's interface carries struct timeval: the library must have been
// built with the same time_t and off_t as the code calling it.
TEST(LibeventInterface, BuiltWithTheSameTimeAndFileOffsetTypes) {
  EXPECT_EQ(EVENT__SIZEOF_TIME_T, sizeof(time_t));
  EXPECT_EQ(EVENT__SIZEOF_OFF_T, sizeof(off_t));
  EXPECT_EQ(EVENT__SIZEOF_VOID_P, sizeof(void*));
}

// The same at run time: with a mismatched library a timeval written by
// libevent reads back as seconds and microseconds run together, and a
// timeout we pass is read with its fields shifted.
TEST(LibeventInterface, TimevalsCrossTheLibraryIntact) {
  timeval now{};
  ASSERT_EQ(evutil_gettimeofday(&now, nullptr), 0);
  // time() reads a coarser clock that may still show the previous second.
  std::time_t reference = std::time(nullptr);
  EXPECT_LE(now.tv_sec, reference + 1);
  EXPECT_GE(now.tv_sec, reference - 5);
  EXPECT_GE(now.tv_usec, 0);
  EXPECT_LT(now.tv_usec, 1000000);

  event_base* base = event_base_new();
  ASSERT_NE(base, nullptr);
  bool fired = false;
  const timeval wait{0, 200000};
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(event_base_once(
                base, -1, EV_TIMEOUT,
                [](evutil_socket_t, short, void* flag) { *static_cast<bool*>(flag) = true; },
                &fired, &wait),
            0);
  // Polled against our own clock, so a misread timeout fails instead of hanging.
  while (!fired && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    usleep(5000);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  event_base_free(base);
  EXPECT_TRUE(fired);
  EXPECT_GE(elapsed, std::chrono::milliseconds(190));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

// The driver reads the set buffer's frame type and element length as 32-bit
// integers of its own processor.
TEST(DriverRequest, HeaderFieldsAreInTheProcessorsOrder) {
  onekey::SetBuffer set =
      onekey::build_set_buffer(onekey::kFrameProbeResponse, onekey::Role::master);
  Bytes board = {0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x12};
  Bytes host = {0x02, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(set.begin(), set.begin() + 8), kBigEndian ? board : host);

  onekey::GetBuffer get = onekey::build_get_buffer(onekey::kFrameStatus);
  board = {0x00, 0x00, 0x00, 0x0a, 0x00, 0x00, 0x04, 0x00};
  host = {0x0a, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
  EXPECT_EQ(Bytes(get.begin(), get.begin() + 8), kBigEndian ? board : host);
}

// Request record: 16 bytes of name, then pointer, 16-bit length and 16-bit
// flags, laid out by the processor's word size and byte order.
TEST(DriverRequest, RecordLayoutFollowsTheWordSize) {
  onekey::SetBuffer buffer{};
  iwreq record = onekey::build_request_record("ath0", buffer.data(), onekey::kSetDescriptorLength);
  EXPECT_EQ(offsetof(iwreq, u.data.pointer), 16u);
  EXPECT_EQ(offsetof(iwreq, u.data.length), 16u + sizeof(void*));
  std::size_t at = 16 + sizeof(void*);
  EXPECT_EQ(bytes_of(record, at, 4),
            kBigEndian ? (Bytes{0x00, 0x20, 0x00, 0x00}) : (Bytes{0x20, 0x00, 0x00, 0x00}));
}

// Other local processes read the token block's login time at offset 64 as a
// 32-bit integer of the processor.
class TokenBlock : public FakeEffectsTest {
 protected:
  void SetUp() override {
    key_ = 0x7000 + (getpid() & 0xfff);
    ASSERT_EQ(shm_create(key_), 0);
    block_ = static_cast<std::uint8_t*>(shm_attach(key_));
    ASSERT_NE(block_, nullptr);
    login_token_key = key_;
  }
  void TearDown() override {
    login_token_key = token_block_key;
    if (block_) shm_detach(block_);
    shmctl(shmget(key_, token_block_size, 0600), IPC_RMID, nullptr);
  }
  key_t key_ = 0;
  std::uint8_t* block_ = nullptr;
};

TEST_F(TokenBlock, LoginTimeIsInTheProcessorsOrder) {
  fake.set_now(0x65544a7b);  // 1700000379
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  issue_token("admin", fds[0]);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(Bytes(block_ + 64, block_ + 68),
            kBigEndian ? (Bytes{0x65, 0x54, 0x4a, 0x7b}) : (Bytes{0x7b, 0x4a, 0x54, 0x65}));
}

// Network-order fields are big-endian on every processor.
TEST(NetworkOrder, FerrinFieldsAreBigEndianOnEveryProcessor) {
  EXPECT_EQ(macprov::acknowledgement_datagram(), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));

  in_addr station{};
  ASSERT_EQ(inet_pton(AF_INET, "192.168.10.1", &station), 1);
  sockaddr_in to = macprov::station_address(station);
  EXPECT_EQ(bytes_of(to.sin_port, 0, 2), (Bytes{0x22, 0xc5}));  // 8901
  EXPECT_EQ(bytes_of(to.sin_addr, 0, 4), (Bytes{192, 168, 10, 1}));
  EXPECT_EQ(to.sin_family, AF_INET);
}

// The discovery probes' frames and the fields they read back from answers.
const std::uint8_t probe_mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(NetworkOrder, DhcpDiscoverIsLaidOutInNetworkOrder) {
  std::uint8_t d[dhcp_message_size];
  dhcp_discover_build(0x12345678, probe_mac, d);
  EXPECT_EQ(Bytes(d, d + 12), (Bytes{1, 1, 6, 0, 0x12, 0x34, 0x56, 0x78, 0x00, 0xff, 0x80, 0x00}));
  EXPECT_EQ(Bytes(d + 28, d + 34), Bytes(probe_mac, probe_mac + 6));
  EXPECT_EQ(Bytes(d + 236, d + 243), (Bytes{0x63, 0x82, 0x53, 0x63, 53, 1, 1}));
  EXPECT_EQ(std::count(d, d + sizeof d, 0), static_cast<long>(sizeof d - 22)) << "no END option";

  // The answer's transaction id is read in network order.
  in_addr server{};
  inet_pton(AF_INET, "203.0.113.1", &server);
  EXPECT_TRUE(dhcp_answer_counts(d, sizeof d, 0x12345678, probe_mac, server, {}));
  EXPECT_FALSE(dhcp_answer_counts(d, sizeof d, 0x78563412, probe_mac, server, {}));
}

TEST(NetworkOrder, PadiIsLaidOutInNetworkOrder) {
  std::uint8_t padi[pppoe_padi_size];
  pppoe_padi_build(probe_mac, padi);
  EXPECT_EQ(Bytes(padi, padi + sizeof padi),
            (Bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55,
                   0x88, 0x63, 0x11, 0x09, 0x00, 0x00, 0x00, 0x04, 0x01, 0x01, 0x00, 0x00}));
}

TEST(NetworkOrder, PadoLengthsAreReadInNetworkOrder) {
  Bytes pado = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02, 0xac, 0,    0,
                0,    1,    0x88, 0x63, 0x11, 0x07, 0x00, 0x00, 0x00, 0x0a,
                0x01, 0x02, 0x00, 0x02, 'a',  'c',  0x01, 0x01, 0x00, 0x00};
  EXPECT_TRUE(pado_judge(pado.data(), pado.size(), probe_mac).accepted);
  pado[18] = 0x01;
  pado[19] = 0x02;
  EXPECT_EQ(pado_judge(pado.data(), pado.size(), probe_mac).err,
            "Bogus PPPoE length field (258)\n");
}

}  // namespace
