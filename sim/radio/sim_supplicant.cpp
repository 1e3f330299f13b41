// sim-supplicant: the simulated device's station supplicant. It serves only
// the control-socket side the agent uses: one datagram socket per interface
// at <run-dir>/wpa_supplicant-<if>/<if>, answering PING, ATTACH, DETACH,
// SCAN (followed by a scan-results event to attached clients), SCAN_RESULTS
// (from the interface's radio-state scan file) and TERMINATE, with failure
// controls per interface.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/radio/radio_state.h"

namespace {

const char kScanEvent[] = "<3>CTRL-EVENT-SCAN-RESULTS ";

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int) {
  stop_requested = 1;
}

struct Options {
  std::string state_dir = simradio::kRadioRoot;
  std::string run_dir = "/var/run";
  int scan_delay_ms = 0;
  bool background = false;
  std::string pid_file;
  std::vector<std::string> interfaces;
};

struct Client {
  sockaddr_un addr;
  socklen_t len;
};

struct ControlSocket {
  std::string ifname;
  std::string path;
  int fd = -1;
  std::vector<Client> attached;
  long long scan_event_due_ms = -1;  // when the pending scan event goes out
  int flood_ms = 0;                  // event_flood of the controls: the period
  long long flood_due_ms = -1;       // when the next flood event goes out
};

const char kFloodEvent[] = "<3>CTRL-EVENT-BSS-ADDED 0 00:00:00:00:00:00";

// The failure controls of an interface: "key=value" lines of
// <state-dir>/<ifname>/supplicant, read at every command so a test can
// change them while the supplicant runs. An absent key is -1.
struct Controls {
  std::string text;
  long value(const char* key) const {
    std::string v;
    if (!simradio::parse_info_value(text, key, v) || v.empty()) return -1;
    return strtol(v.c_str(), nullptr, 10);
  }
  bool is(const char* key, const char* expected) const {
    std::string v;
    return simradio::parse_info_value(text, key, v) && v == expected;
  }
};

Controls read_controls(const Options& opt, const std::string& ifname) {
  Controls c;
  FILE* f = fopen((opt.state_dir + "/" + ifname + "/supplicant").c_str(), "r");
  if (!f) return c;
  char buf[1024];
  size_t n = fread(buf, 1, sizeof buf, f);
  fclose(f);
  c.text.assign(buf, n);
  return c;
}

void sleep_ms(long ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool same_client(const Client& a, const sockaddr_un& addr, socklen_t len) {
  return a.len == len && memcmp(&a.addr, &addr, len) == 0;
}

// Text of an SSID as the supplicant prints it: printable ASCII as is,
// everything else escaped, so the table stays one line per network.
std::string escaped_ssid(const char* ssid) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(ssid); *p; ++p) {
    char hex[5];
    switch (*p) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (*p >= 32 && *p < 127) {
          out += static_cast<char>(*p);
        } else {
          snprintf(hex, sizeof hex, "\\x%02x", *p);
          out += hex;
        }
    }
  }
  return out;
}

std::string cipher_text(uint8_t ciphers) {
  std::string out;
  if (ciphers & wifi::kCipherCcmp) out += "+CCMP";
  if (ciphers & wifi::kCipherTkip) out += "+TKIP";
  if (ciphers & (wifi::kCipherWep40 | wifi::kCipherWep104)) out += "+WEP";
  return out.empty() ? "NONE" : out.substr(1);
}

std::string wpa_flag(const char* proto, const wifi::Crypto& c) {
  std::string auth;
  if (c.auth_suites & wifi::kSuite8021x) auth += "+EAP";
  if (c.auth_suites & wifi::kSuitePsk) auth += "+PSK";
  auth = auth.empty() ? "NONE" : auth.substr(1);
  return std::string("[") + proto + "-" + auth + "-" + cipher_text(c.pair_ciphers) + "]";
}

std::string flags_text(const wifi::Crypto& c) {
  std::string flags;
  if (c.enabled && c.wpa_version == 0) flags += "[WEP]";
  if (c.enabled && (c.wpa_version & 1)) flags += wpa_flag("WPA", c);
  if (c.enabled && (c.wpa_version & 2)) flags += wpa_flag("WPA2", c);
  return flags + "[ESS]";
}

int channel_mhz(int channel) {
  if (channel == 14) return 2484;
  if (channel < 14) return 2407 + 5 * channel;
  return 5000 + 5 * channel;
}

std::string scan_results_table(const std::vector<simradio::ScanLine>& lines) {
  std::string table = "bssid / frequency / signal level / flags / ssid\n";
  for (const simradio::ScanLine& line : lines) {
    const wifi::ScanEntry& e = line.entry;
    char head[96];
    // The level column is the signal in dBm plus 95.
    snprintf(head, sizeof head, "%02x:%02x:%02x:%02x:%02x:%02x\t%d\t%d\t", e.mac[0], e.mac[1],
             e.mac[2], e.mac[3], e.mac[4], e.mac[5], channel_mhz(e.channel),
             static_cast<int>(e.signal) - 256 + 95);
    table += head + flags_text(e.crypto) + "\t" + escaped_ssid(e.ssid) + "\n";
  }
  return table;
}

void reply(int fd, const sockaddr_un& to, socklen_t len, const std::string& text) {
  sendto(fd, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), len);
}

void send_scan_event(ControlSocket& sock) {
  std::vector<Client> still_there;
  for (const Client& c : sock.attached) {
    ssize_t n = sendto(sock.fd, kScanEvent, sizeof kScanEvent - 1, MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&c.addr), c.len);
    // A client whose socket is gone stops getting events; a full queue
    // only loses this one.
    if (n >= 0 || errno == EAGAIN || errno == ENOBUFS) still_there.push_back(c);
  }
  sock.attached.swap(still_there);
  sock.scan_event_due_ms = -1;
}

void detach(ControlSocket& sock, const sockaddr_un& from, socklen_t len, bool& found) {
  found = false;
  for (size_t i = 0; i < sock.attached.size(); ++i) {
    if (same_client(sock.attached[i], from, len)) {
      sock.attached.erase(sock.attached.begin() + static_cast<long>(i));
      found = true;
      return;
    }
  }
}

void send_flood_event(ControlSocket& sock) {
  for (const Client& c : sock.attached) {
    sendto(sock.fd, kFloodEvent, sizeof kFloodEvent - 1, MSG_NOSIGNAL | MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&c.addr), c.len);
  }
  sock.flood_due_ms = sock.attached.empty() ? -1 : now_ms() + sock.flood_ms;
}

void handle_command(ControlSocket& sock, const Options& opt, std::string command,
                    const sockaddr_un& from, socklen_t len) {
  while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) {
    command.pop_back();
  }
  Controls controls = read_controls(opt, sock.ifname);
  // Events an attached sender gets before each reply.
  long events = controls.value("events_before_reply");
  for (long i = 0; i < events && i < 1000; ++i) {
    for (const Client& c : sock.attached) {
      if (same_client(c, from, len)) reply(sock.fd, from, len, kFloodEvent);
    }
  }
  bool found = false;
  if (command == "PING") {
    reply(sock.fd, from, len, "PONG\n");
  } else if (command == "ATTACH") {
    detach(sock, from, len, found);
    if (controls.is("attach", "fail")) {
      reply(sock.fd, from, len, "FAIL\n");
      return;
    }
    sock.attached.push_back({from, len});
    reply(sock.fd, from, len, "OK\n");
    sock.flood_ms = static_cast<int>(controls.value("event_flood"));
    if (sock.flood_ms > 0) sock.flood_due_ms = now_ms();
  } else if (command == "DETACH") {
    detach(sock, from, len, found);
    reply(sock.fd, from, len, found ? "OK\n" : "FAIL\n");
  } else if (command == "SCAN") {
    reply(sock.fd, from, len, "OK\n");
    if (controls.is("scan_event", "0")) return;
    long delay = controls.value("scan_delay");
    if (delay < 0) delay = opt.scan_delay_ms;
    sock.scan_event_due_ms = now_ms() + delay;
    if (delay == 0) send_scan_event(sock);
  } else if (command == "SCAN_RESULTS") {
    sleep_ms(controls.value("results_delay"));
    if (controls.is("results", "none")) return;
    simradio::SystemFiles files;
    simradio::RadioState state(files, opt.state_dir);
    std::string table =
        scan_results_table(state.is_wireless(sock.ifname) ? state.scan(sock.ifname)
                                                          : std::vector<simradio::ScanLine>());
    long limit = controls.value("table_limit");
    if (limit >= 0 && static_cast<size_t>(limit) < table.size()) table.resize(limit);
    reply(sock.fd, from, len, table);
  } else if (command == "TERMINATE") {
    reply(sock.fd, from, len, "OK\n");
    stop_requested = 1;
  } else {
    reply(sock.fd, from, len, "UNKNOWN COMMAND\n");
  }
}

void receive_command(ControlSocket& sock, const Options& opt) {
  char buf[4096];
  sockaddr_un from;
  socklen_t len = sizeof from;
  ssize_t n =
      recvfrom(sock.fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
  // An unbound client has no address to answer to.
  if (n < 0 || len <= sizeof from.sun_family) return;
  handle_command(sock, opt, std::string(buf, static_cast<size_t>(n)), from, len);
}

// mkdir -p: the run directory may not exist yet early in the device's start.
bool make_directories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0770) < 0 && errno != EEXIST) {
      perror(part.c_str());
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

bool open_control_socket(ControlSocket& sock, const std::string& run_dir) {
  std::string dir = run_dir + "/wpa_supplicant-" + sock.ifname;
  sock.path = dir + "/" + sock.ifname;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (sock.path.size() >= sizeof addr.sun_path) {
    fprintf(stderr, "sim-supplicant: %s: path too long\n", sock.path.c_str());
    return false;
  }
  memcpy(addr.sun_path, sock.path.c_str(), sock.path.size());
  if (!make_directories(dir)) return false;
  unlink(sock.path.c_str());
  sock.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock.fd < 0 || bind(sock.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    perror(sock.path.c_str());
    return false;
  }
  return true;
}

void close_control_sockets(std::vector<ControlSocket>& socks) {
  for (ControlSocket& sock : socks) {
    if (sock.fd < 0) continue;
    close(sock.fd);
    unlink(sock.path.c_str());
    sock.fd = -1;
  }
}

int poll_timeout_ms(const std::vector<ControlSocket>& socks) {
  long long next = -1;
  for (const ControlSocket& sock : socks) {
    for (long long due : {sock.scan_event_due_ms, sock.flood_due_ms}) {
      if (due >= 0 && (next < 0 || due < next)) next = due;
    }
  }
  if (next < 0) return -1;
  long long wait = next - now_ms();
  return wait < 0 ? 0 : static_cast<int>(wait);
}

void serve(std::vector<ControlSocket>& socks, const Options& opt) {
  std::vector<pollfd> fds;
  for (const ControlSocket& sock : socks) fds.push_back({sock.fd, POLLIN, 0});
  while (!stop_requested) {
    int ready = poll(fds.data(), fds.size(), poll_timeout_ms(socks));
    if (ready < 0 && errno != EINTR) {
      perror("poll");
      return;
    }
    for (size_t i = 0; i < socks.size(); ++i) {
      if (ready > 0 && (fds[i].revents & POLLIN)) receive_command(socks[i], opt);
      if (socks[i].scan_event_due_ms >= 0 && socks[i].scan_event_due_ms <= now_ms()) {
        send_scan_event(socks[i]);
      }
      if (socks[i].flood_due_ms >= 0 && socks[i].flood_due_ms <= now_ms()) {
        send_flood_event(socks[i]);
      }
    }
  }
}

const char kUsage[] =
    "usage: sim-supplicant [--state-dir DIR] [--run-dir DIR] [--scan-delay MS] [-B] [-P PIDFILE] "
    "IFNAME...\n";

bool parse_options(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--state-dir" && has_value) {
      opt.state_dir = argv[++i];
    } else if (arg == "--run-dir" && has_value) {
      opt.run_dir = argv[++i];
    } else if (arg == "--scan-delay" && has_value) {
      char* end = nullptr;
      long ms = strtol(argv[++i], &end, 10);
      if (*end || ms < 0 || ms > 60000) return false;
      opt.scan_delay_ms = static_cast<int>(ms);
    } else if (arg == "-B") {
      opt.background = true;
    } else if (arg == "-P" && has_value) {
      opt.pid_file = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && arg.find('/') == std::string::npos) {
      opt.interfaces.push_back(arg);
    } else {
      return false;
    }
  }
  return !opt.interfaces.empty();
}

bool write_pid_file(const std::string& path) {
  FILE* f = fopen(path.c_str(), "we");
  if (!f) return false;
  fprintf(f, "%d\n", static_cast<int>(getpid()));
  return fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!parse_options(argc, argv, opt)) {
    fputs(kUsage, stderr);
    return 2;
  }
  std::vector<ControlSocket> socks(opt.interfaces.size());
  for (size_t i = 0; i < socks.size(); ++i) {
    socks[i].ifname = opt.interfaces[i];
    if (!open_control_socket(socks[i], opt.run_dir)) {
      close_control_sockets(socks);
      return 1;
    }
  }
  // The sockets exist before the parent returns, so a caller can use them at once.
  if (opt.background && daemon(1, 0) < 0) {
    perror("daemon");
    close_control_sockets(socks);
    return 1;
  }
  if (!opt.pid_file.empty() && !write_pid_file(opt.pid_file)) perror(opt.pid_file.c_str());
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop_signal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  serve(socks, opt);
  close_control_sockets(socks);
  if (!opt.pid_file.empty()) unlink(opt.pid_file.c_str());
  return 0;
}
