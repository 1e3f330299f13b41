#include "tools/wdsie/onekey_request.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The header fields are plain integers of the CPU the driver runs on.
Bytes native_u32(std::uint32_t value) {
  Bytes big = {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8),
               std::uint8_t(value)};
  if (htonl(1) == 1) return big;
  return Bytes(big.rbegin(), big.rend());
}

Bytes header(std::uint32_t frame_id, std::uint32_t length) {
  Bytes bytes = native_u32(frame_id);
  Bytes second = native_u32(length);
  bytes.insert(bytes.end(), second.begin(), second.end());
  return bytes;
}

Bytes vendor_element(const char* tag) {
  Bytes bytes = {0xDE, 16};
  for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<std::uint8_t>(tag[i]));
  return bytes;
}

// The expected buffer: the given leading bytes, zero up to its full size.
template <typename Buffer>
Bytes padded(Bytes leading, const Buffer& like) {
  leading.resize(like.size(), 0);
  return leading;
}

template <typename Buffer>
Bytes bytes_of(const Buffer& buffer) {
  return Bytes(buffer.begin(), buffer.end());
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(OnekeyNames, FrameTypesAndRoles) {
  EXPECT_EQ(onekey::frame_type_id("beacon"), 0u);
  EXPECT_EQ(onekey::frame_type_id("probereq"), 1u);
  EXPECT_EQ(onekey::frame_type_id("probersp"), 2u);
  EXPECT_EQ(onekey::frame_type_id("list"), 9u);
  EXPECT_EQ(onekey::frame_type_id("status"), 10u);
  EXPECT_FALSE(onekey::frame_type_id("Beacon"));
  EXPECT_FALSE(onekey::frame_type_id(""));
  EXPECT_EQ(onekey::parse_role("master"), onekey::Role::master);
  EXPECT_EQ(onekey::parse_role("slave"), onekey::Role::slave);
  EXPECT_FALSE(onekey::parse_role("masters"));
}

TEST(OnekeySetBuffer, BeaconCarriesTheRoleElement) {
  auto master = onekey::build_set_buffer(0, onekey::Role::master);
  EXPECT_EQ(bytes_of(master),
            padded(concat(header(0, 18), vendor_element("VANLINK_WDS_LEAD")), master));
  auto slave = onekey::build_set_buffer(2, onekey::Role::slave);
  EXPECT_EQ(bytes_of(slave),
            padded(concat(header(2, 18), vendor_element("VANLINK_WDS_LINK")), slave));
  // Any identifier other than the probe request's gets the role element.
  auto list = onekey::build_set_buffer(9, onekey::Role::master);
  EXPECT_EQ(bytes_of(list),
            padded(concat(header(9, 18), vendor_element("VANLINK_WDS_LEAD")), list));
}

TEST(OnekeySetBuffer, ProbeRequestElementIgnoresTheRole) {
  auto slave = onekey::build_set_buffer(1, onekey::Role::slave);
  Bytes element = {0x00, 0x00, 0xDE, 0x04, 't', 't', 't', '1'};
  EXPECT_EQ(bytes_of(slave), padded(concat(header(1, 8), element), slave));
  EXPECT_EQ(slave, onekey::build_set_buffer(1, onekey::Role::master));
}

TEST(OnekeySetBuffer, ClearAndGetBuffers) {
  auto clear = onekey::build_clear_buffer(2);
  EXPECT_EQ(clear.size(), 512u);
  EXPECT_EQ(bytes_of(clear), padded(header(2, 0), clear));
  auto get = onekey::build_get_buffer(10);
  EXPECT_EQ(get.size(), 1024u);
  EXPECT_EQ(bytes_of(get), padded(header(10, 1024), get));
}

TEST(OnekeyRequestRecord, NamePointerLengthAndFlags) {
  onekey::SetBuffer buffer{};
  iwreq record = onekey::build_request_record("ath1", buffer.data(), 32);
  char expected_name[16] = "ath1";
  EXPECT_EQ(std::memcmp(record.ifr_name, expected_name, sizeof expected_name), 0);
  EXPECT_EQ(record.u.data.pointer, buffer.data());
  EXPECT_EQ(record.u.data.length, 32);
  EXPECT_EQ(record.u.data.flags, 0);

  // Only 15 characters of a long name are used; the 16th byte stays a terminator.
  iwreq long_name = onekey::build_request_record("abcdefghijklmnopqrst", buffer.data(), 512);
  EXPECT_EQ(std::string(long_name.ifr_name), "abcdefghijklmno");
  EXPECT_EQ(long_name.u.data.length, 512);
}

std::string printed(std::uint32_t frame_id, const onekey::GetBuffer& buffer) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  onekey::print_get_result(out, frame_id, buffer);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

onekey::GetBuffer answer(const Bytes& bytes) {
  onekey::GetBuffer buffer = onekey::build_get_buffer(9);
  std::copy(bytes.begin(), bytes.end(), buffer.begin() + onekey::kAnswerOffset);
  return buffer;
}

TEST(OnekeyGetResult, StatusIsAnUnsignedByte) {
  EXPECT_EQ(printed(10, answer({3})), "\nvan result:\nonekeystatus=3\n");
  EXPECT_EQ(printed(10, answer({200})), "\nvan result:\nonekeystatus=200\n");
}

TEST(OnekeyGetResult, ListWithNoneOneAndSeveralEntries) {
  EXPECT_EQ(printed(9, answer({0})), "\nvan result:\nlistlen=0\n");
  EXPECT_EQ(printed(9, answer({1, 0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 7})),
            "\nvan result:\nlistlen=1\nonekeylist0#00:1a:2b:3c:4d:5e#7#\n");
  EXPECT_EQ(printed(9, answer({3,    1,    2,    3,    4,    5,    6,  0,  //
                               0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5, 1,      //
                               0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 255})),
            "\nvan result:\nlistlen=3\n"
            "onekeylist0#01:02:03:04:05:06#0#\n"
            "onekeylist1#a0:b1:c2:d3:e4:f5#1#\n"
            "onekeylist2#ff:ff:ff:ff:ff:ff#255#\n");
}

TEST(OnekeyGetResult, OtherFrameTypesPrintOnlyTheHeader) {
  EXPECT_EQ(printed(0, answer({5})), "\nvan result:\n");
}

TEST(OnekeyGetResult, CountBeyondTheBufferIsPrintedWithTheEntriesItHolds) {
  // 255 entries would need 1786 answer bytes; the buffer holds 145.
  onekey::GetBuffer buffer = answer({255});
  std::uint8_t* last = buffer.data() + onekey::kAnswerOffset + 1 + 7 * 144;
  const std::uint8_t last_entry[7] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 9};
  std::memcpy(last, last_entry, sizeof last_entry);
  std::string text = printed(9, buffer);
  EXPECT_NE(text.find("\nlistlen=255\n"), std::string::npos);
  EXPECT_EQ(text.find("onekeylist145#"), std::string::npos);
  std::string tail = "onekeylist144#de:ad:be:ef:00:01#9#\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
