#include "tools/macprov/mac_provision.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

bool accepted(std::vector<const char*> args) {
  args.insert(args.begin(), "ferrin");
  return macprov::parse_arguments(static_cast<int>(args.size()), args.data()).has_value();
}

TEST(FerrinArguments, NeedsStationAndPlace) {
  auto parsed =
      macprov::parse_arguments(3, std::vector<const char*>{"ferrin", "10.0.0.5", "mtd2"}.data());
  ASSERT_TRUE(parsed);
  const auto* station = reinterpret_cast<const std::uint8_t*>(&parsed->station.s_addr);
  EXPECT_EQ((std::vector<std::uint8_t>(station, station + 4)),
            (std::vector<std::uint8_t>{10, 0, 0, 5}));
  EXPECT_STREQ(parsed->place, "mtd2");

  EXPECT_FALSE(accepted({}));
  EXPECT_FALSE(accepted({"10.0.0.5"}));
  EXPECT_FALSE(accepted({"station", "mtd2"}));
  EXPECT_FALSE(accepted({"10.0.0.300", "mtd2"}));
  // The broadcast address is a station address like any other.
  EXPECT_TRUE(accepted({"255.255.255.255", "mtd2"}));
}

TEST(FerrinArguments, IgnoresArgumentsAfterThePlace) {
  std::vector<const char*> argv = {"ferrin", "10.0.0.5", "mtd2", "extra", "a;reboot", ""};
  auto parsed = macprov::parse_arguments(static_cast<int>(argv.size()), argv.data());
  ASSERT_TRUE(parsed);
  EXPECT_STREQ(parsed->place, "mtd2");
}

TEST(FerrinArguments, PlaceMustBeOnePlainWordOfAtMost41Characters) {
  std::string longest(41, 'p');
  EXPECT_TRUE(accepted({"10.0.0.5", longest.c_str()}));
  std::string too_long(42, 'p');
  EXPECT_FALSE(accepted({"10.0.0.5", too_long.c_str()}));
  EXPECT_TRUE(accepted({"10.0.0.5", "/dev/mtd-art_0:1,x=y@z%+."}));
  for (const char* place : {"", "a;reboot", "$(id)", "`id`", "two words", "a|b", "a>b", "a&", "'q'",
                            "\"q\"", "a\nb", "~root", "*", "a\\b"}) {
    EXPECT_FALSE(accepted({"10.0.0.5", place})) << place;
  }
}

std::optional<std::string> mac_of(const char* bytes, std::size_t size) {
  auto mac = macprov::mac_from_answer(reinterpret_cast<const std::uint8_t*>(bytes), size);
  if (!mac) return std::nullopt;
  return std::string(mac->data());
}

TEST(FerrinAnswer, TakesTwelveHexDigitsAfterTwoUnusedBytes) {
  EXPECT_EQ(mac_of("\x01\x02"
                   "00a0B1c2D3e4",
                   14),
            "00a0B1c2D3e4");
  EXPECT_EQ(mac_of("zz"
                   "FFEEDDCCBBAA",
                   14),
            "FFEEDDCCBBAA");
}

TEST(FerrinAnswer, RefusesShortOrNonHexAnswers) {
  EXPECT_FALSE(
      mac_of("\0\0"
             "00a0b1c2d3e",
             13));
  EXPECT_FALSE(mac_of("\0\0", 2));
  EXPECT_FALSE(mac_of("", 0));
  EXPECT_FALSE(
      mac_of("\0\0"
             "00a0b1c2d3\0\0",
             14));
  EXPECT_FALSE(
      mac_of("\0\0"
             "0011;reboot;",
             14));
  EXPECT_FALSE(
      mac_of("\0\0"
             "00a0b1c2d3eg",
             14));
  EXPECT_FALSE(
      mac_of("\0\0"
             " 0a0b1c2d3e4",
             14));
}

TEST(FerrinCommands, WriteCommandAndDatagrams) {
  std::string command = macprov::build_write_command("00a0b1c2d3e4", "mtd2").data();
  EXPECT_EQ(command, "echo 00a0b1c2d3e4 >/var/mymac;macmanage set mtd2 < /var/mymac;");
  // The longest place still fits the 100-byte command buffer with its terminator.
  EXPECT_EQ(std::strlen(
                macprov::build_write_command("00a0b1c2d3e4", std::string(41, 'p').c_str()).data()),
            macprov::kWriteCommandLimit - 1);
  EXPECT_EQ(std::string(macprov::kRestartCommand), "delayreboot.sh  2 &");

  EXPECT_EQ(macprov::request_datagram(), "SETMAC");
  EXPECT_EQ(macprov::acknowledgement_datagram(), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));

  in_addr station{};
  std::memcpy(&station, "\x0a\x00\x00\x05", 4);
  sockaddr_in address = macprov::station_address(station);
  const auto* port = reinterpret_cast<const std::uint8_t*>(&address.sin_port);
  EXPECT_EQ(port[0], 0x22);  // 8901 in network byte order
  EXPECT_EQ(port[1], 0xC5);
  EXPECT_EQ(address.sin_family, AF_INET);
  EXPECT_EQ(std::memcmp(&address.sin_addr, "\x0a\x00\x00\x05", 4), 0);
}

}  // namespace
