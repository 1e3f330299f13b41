// Requests to the wireless driver's one-key WDS element ioctls and the text
// made from its answers. Everything here builds or reads memory only, so the
// exact bytes can be checked without a driver. Nothing here needs the C++
// library at run time.
#pragma once

#include <linux/wireless.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

namespace onekey {

// Private ioctls of the driver: put/remove an element, read status or list.
constexpr unsigned long kSetIoctl = 0x8BF4;
constexpr unsigned long kGetIoctl = 0x8BF3;

constexpr std::size_t kSetBufferSize = 512;
constexpr std::size_t kGetBufferSize = 1024;
constexpr std::uint16_t kSetDescriptorLength = 32;
constexpr std::uint16_t kGetDescriptorLength = 512;
// The driver's answer to a get starts after the frame type and the size.
constexpr std::size_t kAnswerOffset = 8;

// Frame type identifiers as the driver knows them.
constexpr std::uint32_t kFrameBeacon = 0;
constexpr std::uint32_t kFrameProbeRequest = 1;
constexpr std::uint32_t kFrameProbeResponse = 2;
constexpr std::uint32_t kFrameList = 9;
constexpr std::uint32_t kFrameStatus = 10;

enum class Role { master, slave };

using SetBuffer = std::array<std::uint8_t, kSetBufferSize>;
using GetBuffer = std::array<std::uint8_t, kGetBufferSize>;

// "beacon", "probereq", "probersp", "list", "status"; nothing for other text.
std::optional<std::uint32_t> frame_type_id(std::string_view name);
// "master" or "slave"; nothing for other text.
std::optional<Role> parse_role(std::string_view name);

// Set buffer that puts the element for this frame type and role.
SetBuffer build_set_buffer(std::uint32_t frame_id, Role role);
// Set buffer that removes the element from this frame type.
SetBuffer build_clear_buffer(std::uint32_t frame_id);
// Get buffer asking for the status or the list.
GetBuffer build_get_buffer(std::uint32_t frame_id);

// Wireless-extension request record for dev (at most 15 characters are
// used) pointing at buffer with the given descriptor length and flags 0.
iwreq build_request_record(std::string_view dev, void* buffer, std::uint16_t length);

// Prints the text that follows a successful get: the header line, then the
// status or the list entries the answer holds.
void print_get_result(std::FILE* out, std::uint32_t frame_id, const GetBuffer& buffer);

// Most list entries an answer can hold inside the get buffer.
std::size_t max_list_entries();

}  // namespace onekey
