// ferrin: asks the provisioning station for this device's MAC address, writes
// it with macmanage, acknowledges to the station and restarts the device.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errno_text.h"
#include "tools/macprov/mac_provision.h"

namespace {

// Set-up failures end the program with this status after their message.
constexpr int kSetupFailed = 1;
constexpr int kUsageError = 2;

// Close-on-exec, so macmanage and the background restart script do not keep
// port 9000 open.
class UdpSocket {
 public:
  UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  ~UdpSocket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Allows broadcast, sets the 2-second receive time-out and binds to port
// 9000; prints the message of the step that failed.
bool prepare_socket(int fd) {
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    std::printf("set socket SO_BROADCAST error %s\n", errno_text(errno));
    return false;
  }
  timeval timeout{};
  timeout.tv_sec = 2;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
    std::printf("set socket  SO_RCVTIMEO error %s\n", errno_text(errno));
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(macprov::kListenPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::printf("bind socket error");
    return false;
  }
  return true;
}

// One round: sends the request and waits for an answer. Returns the MAC text
// of a usable answer and its sender; nothing after a failed send, a time-out
// or an answer that does not hold twelve hexadecimal digits.
std::optional<macprov::MacText> ask_station_once(int fd, const sockaddr_in& station,
                                                 sockaddr_in& answerer) {
  std::string_view request = macprov::request_datagram();
  if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&station),
             sizeof station) < 0) {
    return std::nullopt;
  }
  std::uint8_t answer[macprov::kAnswerSize] = {};
  socklen_t answerer_size = sizeof answerer;
  ssize_t received = recvfrom(fd, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&answerer),
                              &answerer_size);
  if (received < 0) return std::nullopt;
  return macprov::mac_from_answer(answer, static_cast<std::size_t>(received));
}

// Asks every 3 seconds (2 of waiting, 1 of sleep) until a station answers.
macprov::MacText ask_station(int fd, const sockaddr_in& station, sockaddr_in& answerer) {
  for (;;) {
    if (auto mac = ask_station_once(fd, station, answerer)) return *mac;
    sleep(1);
  }
}

void run_shell(const char* command) {
  std::fflush(stdout);
  std::system(command);
}

}  // namespace

int main(int argc, char** argv) {
  auto arguments = macprov::parse_arguments(argc, argv);
  if (!arguments) {
    std::fputs(macprov::kUsage, stderr);
    return kUsageError;
  }
  UdpSocket udp;
  if (udp.fd() < 0) {
    std::printf("create socket error");
    return kSetupFailed;
  }
  if (!prepare_socket(udp.fd())) return kSetupFailed;

  sockaddr_in station = macprov::station_address(arguments->station);
  sockaddr_in answerer{};
  macprov::MacText mac = ask_station(udp.fd(), station, answerer);
  run_shell(macprov::build_write_command(mac.data(), arguments->place).data());

  sleep(1);
  auto ack = macprov::acknowledgement_datagram();
  sendto(udp.fd(), ack.data(), ack.size(), 0, reinterpret_cast<sockaddr*>(&answerer),
         sizeof answerer);
  std::puts(macprov::kDoneMessage);
  run_shell(macprov::kRestartCommand);
  return 0;
}
