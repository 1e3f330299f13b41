#include "tools/macprov/mac_provision.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "platform/shell.h"

namespace macprov {

bool place_is_acceptable(std::string_view place) {
  // Only text the shell takes as one plain word goes into the command.
  return !place.empty() && place.size() <= kMaxPlaceLength && shell_is_plain(place);
}

std::optional<Arguments> parse_arguments(int argc, const char* const* argv) {
  // Arguments after the place are not used; a caller that passes more still
  // gets its address written.
  if (argc < 3) return std::nullopt;
  Arguments arguments{};
  // inet_aton, unlike inet_addr, tells a typing error from 255.255.255.255.
  if (inet_aton(argv[1], &arguments.station) == 0) return std::nullopt;
  if (!place_is_acceptable(argv[2])) return std::nullopt;
  arguments.place = argv[2];
  return arguments;
}

std::string_view request_datagram() {
  return "SETMAC";
}

std::array<std::uint8_t, 4> acknowledgement_datagram() {
  return {0, 0, 0, 0};
}

namespace {
bool is_hex_digit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}  // namespace

std::optional<MacText> mac_from_answer(const std::uint8_t* data, std::size_t size) {
  if (size < kMacOffset + kMacLength) return std::nullopt;
  const std::uint8_t* mac = data + kMacOffset;
  MacText text{};
  for (std::size_t i = 0; i < kMacLength; ++i) {
    if (!is_hex_digit(mac[i])) return std::nullopt;
    text[i] = static_cast<char>(mac[i]);
  }
  return text;
}

WriteCommand build_write_command(const char* mac, const char* place) {
  WriteCommand command{};
  std::snprintf(command.data(), command.size(),
                "echo %s >/var/mymac;macmanage set %s < /var/mymac;", mac, place);
  return command;
}

sockaddr_in station_address(in_addr station) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(kStationPort);
  address.sin_addr = station;
  return address;
}

}  // namespace macprov
