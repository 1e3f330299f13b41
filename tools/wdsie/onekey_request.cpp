#include "tools/wdsie/onekey_request.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace onekey {
namespace {

constexpr std::uint8_t kVendorElementId = 0xDE;
constexpr char kMasterTag[] = "VANLINK_WDS_LEAD";
constexpr char kSlaveTag[] = "VANLINK_WDS_LINK";
constexpr std::size_t kTagLength = sizeof(kMasterTag) - 1;
// The probe-request element sits after two zero bytes; it is the same for both roles.
constexpr std::uint8_t kProbeRequestElement[] = {0x00, 0x00, 0xDE, 0x04, 't', 't', 't', '1'};
constexpr std::size_t kListEntrySize = 7;

// The driver reads the 32-bit header fields as plain integers of the CPU
// it runs on, so they are stored in the machine's own byte order.
void store_u32_native(std::uint8_t* at, std::uint32_t value) {
  std::memcpy(at, &value, sizeof value);
}

void store_header(std::uint8_t* buffer, std::uint32_t frame_id, std::uint32_t length) {
  store_u32_native(buffer, frame_id);
  store_u32_native(buffer + 4, length);
}

}  // namespace

std::optional<std::uint32_t> frame_type_id(std::string_view name) {
  if (name == "beacon") return kFrameBeacon;
  if (name == "probereq") return kFrameProbeRequest;
  if (name == "probersp") return kFrameProbeResponse;
  if (name == "list") return kFrameList;
  if (name == "status") return kFrameStatus;
  return std::nullopt;
}

std::optional<Role> parse_role(std::string_view name) {
  if (name == "master") return Role::master;
  if (name == "slave") return Role::slave;
  return std::nullopt;
}

SetBuffer build_set_buffer(std::uint32_t frame_id, Role role) {
  SetBuffer buffer{};
  std::uint8_t* element = buffer.data() + 8;
  if (frame_id == kFrameProbeRequest) {
    store_header(buffer.data(), frame_id, sizeof kProbeRequestElement);
    std::memcpy(element, kProbeRequestElement, sizeof kProbeRequestElement);
    return buffer;
  }
  store_header(buffer.data(), frame_id, 2 + kTagLength);
  element[0] = kVendorElementId;
  element[1] = kTagLength;
  std::memcpy(element + 2, role == Role::master ? kMasterTag : kSlaveTag, kTagLength);
  return buffer;
}

SetBuffer build_clear_buffer(std::uint32_t frame_id) {
  SetBuffer buffer{};
  store_header(buffer.data(), frame_id, 0);
  return buffer;
}

GetBuffer build_get_buffer(std::uint32_t frame_id) {
  GetBuffer buffer{};
  store_header(buffer.data(), frame_id, kGetBufferSize);
  return buffer;
}

iwreq build_request_record(std::string_view dev, void* buffer, std::uint16_t length) {
  iwreq record;
  std::memset(&record, 0, sizeof record);
  std::size_t name_length = std::min(dev.size(), sizeof record.ifr_name - 1);
  std::memcpy(record.ifr_name, dev.data(), name_length);
  record.u.data.pointer = buffer;
  record.u.data.length = length;
  record.u.data.flags = 0;
  return record;
}

std::size_t max_list_entries() {
  return (kGetBufferSize - kAnswerOffset - 1) / kListEntrySize;
}

namespace {

void print_list(std::FILE* out, const std::uint8_t* answer) {
  // The count is the driver's; of a count larger than the buffer can hold,
  // only the entries inside it are shown.
  std::size_t count = answer[0];
  std::fprintf(out, "listlen=%zu\n", count);
  std::size_t shown = std::min(count, max_list_entries());
  for (std::size_t i = 0; i < shown; ++i) {
    const std::uint8_t* entry = answer + 1 + kListEntrySize * i;
    std::fprintf(out, "onekeylist%zu#%.2x:%.2x:%.2x:%.2x:%.2x:%.2x#%d#\n", i, entry[0], entry[1],
                 entry[2], entry[3], entry[4], entry[5], entry[6]);
  }
}

}  // namespace

void print_get_result(std::FILE* out, std::uint32_t frame_id, const GetBuffer& buffer) {
  const std::uint8_t* answer = buffer.data() + kAnswerOffset;
  std::fputs("\nvan result:\n", out);
  if (frame_id == kFrameStatus)
    std::fprintf(out, "onekeystatus=%d\n", answer[0]);
  else if (frame_id == kFrameList)
    print_list(out, answer);
}

}  // namespace onekey
