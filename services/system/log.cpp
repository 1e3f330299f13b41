#include "services/system/log.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "platform/shell.h"
#include "services/common/request_body.h"

namespace {

constexpr const char* base64_alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t base64_line = 72;
// The system log is a 16 KiB ring buffer; this bounds what is taken of it.
constexpr size_t log_read_limit = 64 * 1024;
// The kernel's ring buffer is read whole (it is far smaller than this) and
// its last 16 KiB are shown.
constexpr size_t kernel_read_limit = 1024 * 1024;
constexpr size_t kernel_tail = 16 * 1024;
// Longest remote host name a POST stores.
constexpr size_t host_name_limit = 253;

// ---- GET ----

// The log text, escaped and Base64-encoded whole, so the client can always
// decode it and the document always ends with its closing text.
int log_document(int fd, const std::string& log) {
  std::string escaped = xml_escape(log);
  std::string doc = xml_declaration;
  doc += "<LOG><MSG>";
  doc += base64_encode(escaped.data(), escaped.size());
  doc += "</MSG></LOG>";
  send_all(fd, doc);
  return 0;
}

int remote_document(int fd) {
  std::string doc = xml_declaration;
  appendf(doc, "<LOG><REMOTE><IP>%s</IP><PORT>%s</PORT></REMOTE></LOG>",
          stored_text("system.@system[0].log_ip").c_str(),
          stored_text("system.@system[0].log_port").c_str());
  send_all(fd, doc);
  return 0;
}

// The last 16 KiB of the kernel log, cut here rather than by a second
// program in a pipeline.
std::string kernel_log_tail() {
  std::string log = fx().capture("/bin/dmesg", kernel_read_limit);
  return log.size() > kernel_tail ? log.substr(log.size() - kernel_tail) : log;
}

// ---- POST ----

// Empty (no remote logging), or an IPv4 address or host name.
bool remote_host_valid(const char* host) {
  size_t length = std::strlen(host);
  if (length > host_name_limit) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(host[i]);
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

// Empty (the default port), or a port number.
bool remote_port_valid(const char* port) {
  size_t length = std::strlen(port);
  if (length == 0) return true;
  if (length > 5) return false;
  for (size_t i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(port[i]))) return false;
  }
  long value = std::strtol(port, nullptr, 10);
  return value >= 1 && value <= 65535;
}

// Starts the syslog daemon again with the stored remote target. The target
// is one quoted word, whatever the store holds.
void syslog_restart() {
  std::string host = cfg_get(std::string("system.@system[0].log_ip"));
  std::string port = cfg_get(std::string("system.@system[0].log_port"));
  std::string command = "/sbin/syslogd -L -l 8 -C16";
  if (!host.empty())
    command = "/sbin/syslogd -L -R " + shell_quote(host + ":" + (port.empty() ? "514" : port)) +
              " -l 8 -C16";
  fx().run("/usr/bin/killall syslogd");
  fx().run(command);
}

int post_log(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* root = request.root();
  xml_node* remote = xml_child(root, "REMOTE");
  const char* host = child_text(remote, "IP");
  const char* port = child_text(remote, "PORT");
  if ((host && !remote_host_valid(host)) || (port && !remote_port_valid(port)))
    return reply_code(fd, FORMAT_ERROR);

  bool restart = false;
  if (remote) {
    if (host) cfg_set("system.@system[0].log_ip", host);
    if (port) cfg_set("system.@system[0].log_port", port);
    cfg_commit("system");
    restart = true;
  }
  for (xml_node* act = xml_child(root, "ACT"); act; act = act->next) {
    if (std::strcmp(act->text, "SYS_CLEAN") == 0) restart = true;
    if (std::strcmp(act->text, "KERNEL_CLEAN") == 0) fx().run("/bin/dmesg -c >/dev/null");
  }
  // A fresh daemon also starts with an empty log.
  if (restart) syslog_restart();
  return 0;
}

}  // namespace

std::string base64_encode(const char* data, size_t length) {
  std::string out;
  out.reserve((length + 2) / 3 * 4 + (length / 54 + 2));
  size_t line = 0;
  auto put = [&](char c) {
    out += c;
    if (++line == base64_line) {
      out += '\n';
      line = 0;
    }
  };
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length; i += 3) {
    size_t left = length - i;
    unsigned value = bytes[i] << 16;
    if (left > 1) value |= bytes[i + 1] << 8;
    if (left > 2) value |= bytes[i + 2];
    put(base64_alphabet[(value >> 18) & 63]);
    put(base64_alphabet[(value >> 12) & 63]);
    put(left > 1 ? base64_alphabet[(value >> 6) & 63] : '=');
    put(left > 2 ? base64_alphabet[value & 63] : '=');
  }
  if (line > 0) out += '\n';
  return out;
}

int log_get(int fd, char* sub_path, size_t sub_path_len, char* /*rest*/) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string();
  if (path == "/syslog") return log_document(fd, fx().capture("/sbin/logread", log_read_limit));
  if (path == "/kerlog") return log_document(fd, kernel_log_tail());
  if (path == "/config") return remote_document(fd);
  return reply_code(fd, NO_SERVICE);
}

// The sub-path is not examined.
int log_post(int fd, char* body, size_t body_len, char* /*sub_path*/) {
  return post_log(fd, body, body_len);
}
