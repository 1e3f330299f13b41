// The "dhcp" service: the LAN DHCP server's settings (on/off, static leases,
// lease time, address pool) and its current leases.
#include <arpa/inet.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/errno_text.h"
#include "platform/fields.h"
#include "platform/localtime.h"
#include "services/common/request_body.h"
#include "services/common/sections.h"
#include "services/common/uci_command.h"
#include "services/common/value_shapes.h"
#include "services/network/restart.h"

namespace {

constexpr const char* lease_file = "/var/dhcp.leases";

// An address in host byte order; 0 when the text is not an address.
uint32_t host_order(const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return 0;
  return ntohl(address.s_addr);
}

std::string dotted(uint32_t host) {
  in_addr address{htonl(host)};
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::string host_path(int index, const char* option = nullptr) {
  std::string path = "dhcp.@host[" + std::to_string(index) + "]";
  return option ? path + "." + option : path;
}

struct lan_subnet {
  uint32_t address;
  uint32_t netmask;
};

lan_subnet read_lan_subnet() {
  return {host_order(cfg_get(std::string("network.lan.ipaddr"))),
          host_order(cfg_get(std::string("network.lan.netmask")))};
}

// ---- GET /config ----

int get_config(int fd) {
  std::string statics;
  for (int n = 0; !cfg_get(host_path(n)).empty(); ++n)
    appendf(statics, "<STATIC><MAC>%s</MAC><IP>%s</IP></STATIC>",
            xml_escape(cfg_get(host_path(n, "mac"))).c_str(),
            xml_escape(cfg_get(host_path(n, "ip"))).c_str());
  int disable = cfg_get(std::string("dhcp.lan.ignore")) == "1" ? 1 : 0;
  int leasetime = std::atoi(cfg_get(std::string("dhcp.lan.leasetime")).c_str());

  lan_subnet lan = read_lan_subnet();
  uint32_t network = lan.address & lan.netmask;
  int start = std::atoi(cfg_get(std::string("dhcp.lan.start")).c_str());
  int limit = std::atoi(cfg_get(std::string("dhcp.lan.limit")).c_str());
  std::printf("%d %d\n", start, limit);
  uint32_t first = network + static_cast<uint32_t>(start);
  uint32_t last = first + static_cast<uint32_t>(limit) - 1;

  std::string doc = xml_declaration;
  appendf(doc, "<DHCP><DISABLE>%d</DISABLE>", disable);
  doc += statics;
  appendf(doc,
          "<LEASETIME>%d</LEASETIME><ADDRPOOL><START>%s</START><END>%s</END></ADDRPOOL></DHCP>",
          leasetime, dotted(first).c_str(), dotted(last).c_str());
  send_all(fd, doc);
  return 0;
}

// ---- GET /clients ----

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The expiry as ctime gives it (the device's local time, ending in a line
// feed); empty for a time that cannot be shown.
std::string expiry_text(long long expiry) {
  return device_ctime(static_cast<time_t>(expiry));
}

// Appends the CLIENTS element of one lease line; false for a blank line.
bool append_lease(std::string& doc, const std::string& line) {
  char mac[64] = "";
  char ip[64] = "";
  char hostname[256] = "";
  // "EXPIRY MAC IP HOSTNAME ...", read as far as it goes: a line that does
  // not start with a number keeps every field empty.
  char* end = nullptr;
  long long expiry = std::strtoll(line.c_str(), &end, 10);
  if (end == line.c_str()) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return false;
  } else {
    const char* p = scan_word(end, mac, sizeof mac);
    if (p) p = scan_word(p, ip, sizeof ip);
    if (p) scan_word(p, hostname, sizeof hostname);
  }
  appendf(doc, "<CLIENTS><MAC>%s</MAC><IP>%s</IP><HOSTNAME>%s</HOSTNAME><TIME>%s</TIME></CLIENTS>",
          xml_escape(upper(mac)).c_str(), xml_escape(ip).c_str(), xml_escape(hostname).c_str(),
          expiry_text(expiry).c_str());
  return true;
}

int get_clients(int fd) {
  worker().mode_switch_state = 0;
  std::string leases;
  errno = 0;
  if (!fx().read_file(lease_file, leases))
    return reply_result(fd, 5, errno_text(errno ? errno : ENOENT));

  std::string doc = xml_declaration;
  doc += "<DHCP>";
  int count = 0;
  for (const std::string& line : text_lines(leases)) {
    if (append_lease(doc, line)) ++count;
  }
  appendf(doc, "<CLIENTS_NUM>%d</CLIENTS_NUM></DHCP>", count);
  send_all(fd, doc);
  return 0;
}

// ---- POST ----

// Checks DISABLE; on a fault returns its message.
const char* disable_fault(const char* disable) {
  if (!disable) return nullptr;
  if (!*disable) return "Invalid DISABLE arg";
  int value = std::atoi(disable);
  return value == 0 || value == 1 ? nullptr : "DISABLE arg 0/1";
}

// The server's configuration lists a static lease's addresses as words
// (MAC, then IP, comma-separated), so the MAC must be one address.
bool statics_valid(xml_node* root) {
  for (xml_node* entry = xml_child(root, "STATIC"); entry; entry = entry->next) {
    const char* mac = child_text(entry, "MAC");
    if (!mac || !mac_address(mac) || !valid_address(child_text(entry, "IP"))) return false;
  }
  return true;
}

// A lease time as the server's address range takes it after a comma: a
// number, in seconds or with the unit m, h, d or w, or "infinite". Empty
// keeps the stored one.
bool lease_time_valid(const char* text) {
  if (!text || !*text || std::strcmp(text, "infinite") == 0) return true;
  std::string_view time = text;
  if (std::strchr("mhdw", time.back())) time.remove_suffix(1);
  return decimal_number(time);
}

// The pool as the store keeps it: first address as an offset from the LAN
// network address, and the number of addresses.
struct pool_change {
  bool wanted = false;
  bool valid = true;
  int start = 0;
  int limit = 0;
};

bool in_subnet(uint32_t address, const lan_subnet& lan) {
  return ((lan.address ^ address) & lan.netmask) == 0;
}

pool_change read_pool(xml_node* root) {
  pool_change pool;
  xml_node* addrpool = xml_child(root, "ADDRPOOL");
  if (!addrpool) return pool;
  const char* start = child_text(addrpool, "START");
  const char* end = child_text(addrpool, "END");
  if (!start && !end) return pool;
  if (start && end && !*start && !*end) return pool;
  pool.wanted = true;
  lan_subnet lan = read_lan_subnet();
  // A pool that ends before it starts would leave the server with a
  // negative size, so the order is checked too.
  if (!valid_address(start) || !valid_address(end) || host_order(end) < host_order(start) ||
      !in_subnet(host_order(start), lan) || !in_subnet(host_order(end), lan)) {
    pool.valid = false;
    return pool;
  }
  pool.start = static_cast<int>(host_order(start) - (lan.address & lan.netmask));
  pool.limit = static_cast<int>(host_order(end) - host_order(start) + 1);
  return pool;
}

void remove_static_leases() {
  delete_last_sections("dhcp", "host", "/sbin/uci delete dhcp.@host[-1]",
                       [](const std::string&) { return true; });
}

void add_static_leases(xml_node* root) {
  for (xml_node* entry = xml_child(root, "STATIC"); entry; entry = entry->next) {
    uci_run("/sbin/uci add dhcp host");
    cfg_set("dhcp.@host[-1].mac", child_text(entry, "MAC"));
    cfg_set("dhcp.@host[-1].ip", child_text(entry, "IP"));
  }
}

void restart_dhcp_server() {
  kill_dhcp_check();
  fx().run("killall udhcpc");
  if (worker().lan_restart_pending) {
    worker().lan_restart_pending = false;
    fx().run("/etc/init.d/network restart");
    firewall_cycle();
  }
  fx().run("/etc/init.d/dnsmasq restart");
  samba_cycle();
}

int post_config(int fd, char* body, size_t body_len) {
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  xml_node* root = request.root();
  // Everything is checked before anything is staged, so a refused request
  // leaves nothing for the next commit of the package to pick up.
  const char* disable = child_text(root, "DISABLE");
  if (const char* fault = disable_fault(disable)) return reply_result(fd, FORMAT_ERROR, fault);
  if (!statics_valid(root)) return reply_result(fd, FORMAT_ERROR, "Static List");
  const char* leasetime = child_text(root, "LEASETIME");
  if (!lease_time_valid(leasetime) || !all_stageable({leasetime}))
    return reply_code(fd, FORMAT_ERROR);
  pool_change pool = read_pool(root);
  if (!pool.valid) return reply_result(fd, FORMAT_ERROR, "Invalid address pool");

  if (disable) cfg_set("dhcp.lan.ignore", std::atoi(disable) == 1 ? "1" : "");
  remove_static_leases();
  add_static_leases(root);
  if (leasetime && *leasetime) cfg_set("dhcp.lan.leasetime", leasetime);
  if (pool.wanted) {
    cfg_set("dhcp.lan.start", std::to_string(pool.start));
    cfg_set("dhcp.lan.limit", std::to_string(pool.limit));
  }
  cfg_commit("dhcp");

  const char* active = child_text(root, "ACTIVE");
  if (active && std::strcmp(active, "1") == 0) return 0;
  restart_dhcp_server();
  return 0;
}

}  // namespace

int dhcp_get(int fd, char* sub_path, size_t sub_path_len, char* /*rest*/) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string();
  if (path == "/config") return get_config(fd);
  if (path == "/clients") return get_clients(fd);
  return reply_code(fd, NO_SERVICE);
}

int dhcp_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  return post_config(fd, body, body_len);
}
