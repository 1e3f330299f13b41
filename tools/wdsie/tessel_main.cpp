// tessel: puts, removes and reads the one-key WDS element of a wireless
// interface through the driver's private ioctls.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "tools/wdsie/onekey_request.h"

namespace {

const char* const kUsageLines[] = {
    "|---------------------v1.0------------------------------------------------|",
    "|---parameters:                                                           |",
    "|     dev    : ath0/ath1                                                  |",
    "|     frmtype: beacon/probereq/probersp/status/list                       |",
    "|     role   : master/slave                                               |",
    "|     example:frmtype: beacon/probereq/probersp                           |",
    "|---set:                                                                  |",
    "|    format: set dev frmtype role                                         |",
    "|    example:set ath0 beacon master (set onekey master ie into beacon)    |",
    "|---clear:                                                                |",
    "|    format: clear dev                                                    |",
    "|    example:clear ath0 (clear onekey ie from both beacon and probersp)   |",
    "|---get:                                                                  |",
    "|    format: get dev frmtype                                              |",
    "|    example:clear ath0 (get onekey ie from both beacon and probersp)     |",
    "|-------------------------------------------------------------------------|",
};

// Set and clear end with this status whatever the driver answered; get ends
// with 0 once its request was made.
constexpr int kSetStatus = 1;
constexpr int kGetStatus = 0;
constexpr int kErrorStatus = 1;

// The datagram socket the ioctls go through: opened on first use,
// close-on-exec, closed when the program ends.
class DriverSocket {
 public:
  DriverSocket() = default;
  DriverSocket(const DriverSocket&) = delete;
  DriverSocket& operator=(const DriverSocket&) = delete;
  ~DriverSocket() {
    if (fd_ >= 0) close(fd_);
  }

  int get() {
    if (fd_ < 0) {
      fd_ = socket(AF_INET, SOCK_DGRAM, 0);
      if (fd_ >= 0) fcntl(fd_, F_SETFD, FD_CLOEXEC);
    }
    return fd_;
  }

 private:
  int fd_ = -1;
};

void print_usage() {
  for (const char* line : kUsageLines) std::printf("%s\r\n", line);
}

// Issues one private ioctl on dev; reports a failure and returns its result.
int driver_request(DriverSocket& driver, unsigned long request, std::string_view dev, void* buffer,
                   std::uint16_t length) {
  iwreq record = onekey::build_request_record(dev, buffer, length);
  int fd = driver.get();
  int result = fd < 0 ? -1 : ioctl(fd, request, &record);
  if (result < 0) std::printf("IOCTL return err =%d\r\n", result);
  return result;
}

int send_set_buffer(DriverSocket& driver, std::string_view dev, onekey::SetBuffer buffer) {
  return driver_request(driver, onekey::kSetIoctl, dev, buffer.data(),
                        onekey::kSetDescriptorLength);
}

int run_get(std::string_view dev, std::string_view frame_name) {
  auto frame_id = onekey::frame_type_id(frame_name);
  if (!frame_id) {
    std::printf("get error id\r\n");
    return kErrorStatus;
  }
  DriverSocket driver;
  onekey::GetBuffer buffer = onekey::build_get_buffer(*frame_id);
  if (driver_request(driver, onekey::kGetIoctl, dev, buffer.data(), onekey::kGetDescriptorLength) >=
      0) {
    onekey::print_get_result(stdout, *frame_id, buffer);
  }
  return kGetStatus;
}

int run_clear(std::string_view dev) {
  DriverSocket driver;
  send_set_buffer(driver, dev, onekey::build_clear_buffer(onekey::kFrameBeacon));
  send_set_buffer(driver, dev, onekey::build_clear_buffer(onekey::kFrameProbeResponse));
  return kSetStatus;
}

int run_set(std::string_view dev, std::string_view frame_name, const char* role_name) {
  auto frame_id = onekey::frame_type_id(frame_name);
  auto role = role_name ? onekey::parse_role(role_name) : std::nullopt;
  if (!frame_id || !role) {
    std::printf("set err id\r\n");
    return kSetStatus;
  }
  DriverSocket driver;
  send_set_buffer(driver, dev, onekey::build_set_buffer(*frame_id, *role));
  return kSetStatus;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage();
    return kErrorStatus;
  }
  std::string_view command = argv[1];
  if (command == "get" && argc >= 4) return run_get(argv[2], argv[3]);
  if (command == "clear" && argc >= 3) return run_clear(argv[2]);
  // A set without its role still counts as a set and is refused as such.
  if (command == "set" && argc >= 4)
    return run_set(argv[2], argv[3], argc >= 5 ? argv[4] : nullptr);
  std::printf("format error \r\n");
  return kErrorStatus;
}
