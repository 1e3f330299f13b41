// The UDP exchange with the provisioning station and the commands ferrin
// runs. Everything here builds or checks memory only, so the exact bytes and
// command lines can be checked without a network. Texts live in fixed arrays:
// the program needs nothing of the C++ library at run time.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace macprov {

constexpr std::uint16_t kStationPort = 8901;
constexpr std::uint16_t kListenPort = 9000;
// Answer: 2 unused bytes, then the 12 hexadecimal digits of the address.
constexpr std::size_t kAnswerSize = 14;
constexpr std::size_t kMacOffset = 2;
constexpr std::size_t kMacLength = 12;
// The write command must fit in 100 bytes with its terminator.
constexpr std::size_t kWriteCommandLimit = 100;
constexpr std::size_t kMaxPlaceLength = 41;

constexpr char kRestartCommand[] = "delayreboot.sh  2 &";
constexpr char kDoneMessage[] = "Write Dev Mac  OK,Reboot Dev................................";
constexpr char kUsage[] =
    "usage: ferrin STATION-IPV4 PLACE  (PLACE: 1-41 of A-Z a-z 0-9 . _ : / @ % + = , -)\n";

// What the command line asks for, once it has been checked.
struct Arguments {
  in_addr station;
  const char* place;  // the argument itself
};

// The MAC text of an answer (twelve hex digits) and the write command, each
// terminated.
using MacText = std::array<char, kMacLength + 1>;
using WriteCommand = std::array<char, kWriteCommandLimit>;

// Both arguments present, argument 1 an IPv4 address, argument 2 at most 41
// characters that reach the shell as one plain word; nothing otherwise.
// Further arguments are ignored.
std::optional<Arguments> parse_arguments(int argc, const char* const* argv);
bool place_is_acceptable(std::string_view place);

// The request datagram: the six characters "SETMAC".
std::string_view request_datagram();
// The acknowledgement: a 32-bit zero in network byte order.
std::array<std::uint8_t, 4> acknowledgement_datagram();

// The MAC text of an answer of `size` received bytes: its bytes 2 to 13 when
// all twelve are there and are hexadecimal digits; nothing otherwise.
std::optional<MacText> mac_from_answer(const std::uint8_t* data, std::size_t size);

// "echo MAC >/var/mymac;macmanage set PLACE < /var/mymac;" for a place that
// passed place_is_acceptable (so the command always fits).
WriteCommand build_write_command(const char* mac, const char* place);

// Address of the station's request port.
sockaddr_in station_address(in_addr station);

}  // namespace macprov
