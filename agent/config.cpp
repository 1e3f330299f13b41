#include "agent/config.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/effects.h"
#include "platform/fields.h"
#include "platform/owned_fd.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/uci/store.h"
#include "platform/uci/uci.h"
#include "xml/utf8.h"

namespace {

// ---- store reads ----

uci::Dirs store_dirs() {
  uci::Dirs dirs;
  dirs.confdir = fx().host_path(paths::uci_confdir);
  dirs.savedir = fx().host_path(paths::uci_savedir);
  dirs.overridedir = fx().host_path(dirs.overridedir);
  return dirs;
}

std::string store_read(std::string_view path) {
  std::string value;
  if (path.size() >= cfg_path_limit) return value;
  if (!uci::get(store_dirs(), path, value)) value.clear();
  return value;
}

// Copies text into buffer, cut to size - 1 bytes at a character boundary
// and terminated.
char* copy_cut(const std::string& text, char* buffer, size_t size) {
  if (!buffer || size == 0) return buffer;
  size_t n = utf8_cut_length(text.data(), text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return buffer;
}

// ---- store changes ----

bool is_plain_path_char(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("_-.@[]", c) != nullptr;
}

}  // namespace

std::string uci_path_word(std::string_view path) {
  bool plain = !path.empty();
  for (char c : path) plain = plain && is_plain_path_char(c);
  return plain ? std::string(path) : shell_quote(path);
}

namespace {

// Runs one staging command of the form "uci <verb> <path>="<escaped>"".
int run_staging(const char* verb, std::string_view path, std::string_view value) {
  std::string escaped = shell_dquote_escape(value);
  if (escaped.size() > cfg_value_limit) {
    std::printf("cmd refused: uci %s %s value of %zu characters\n", verb, std::string(path).c_str(),
                escaped.size());
    return -1;
  }
  std::string command =
      std::string("uci ") + verb + " " + uci_path_word(path) + "=\"" + escaped + "\"";
  std::printf("cmd %s %d %d\n", command.c_str(), static_cast<int>(command.size()),
              static_cast<int>(escaped.size()));
  store_command({"uci", verb, std::string(path) + "=" + std::string(value)}, command);
  return 0;
}

// The value is escaped for double quotes in the trace text ($ and ` as well
// as " and \), so that the line shown is one a shell would read back as the
// value unchanged.
int stage_set(std::string_view path, std::string_view value) {
  return run_staging("set", path, value);
}

int stage_add_list(std::string_view path, std::string_view value) {
  return run_staging("add_list", path, value);
}

int stage_delete(std::string_view path) {
  std::string command = "uci delete " + uci_path_word(path);
  std::printf("cmd %s %d %d\n", command.c_str(), static_cast<int>(command.size()), 0);
  store_command({"uci", "delete", std::string(path)}, command);
  return 0;
}

int commit_package(std::string_view package) {
  store_command({"uci", "commit", std::string(package)}, "uci commit " + uci_path_word(package));
  return 0;
}

std::string_view view_of(const char* text) {
  return text ? std::string_view(text) : "";
}

// ---- shell readers ----

char* read_first_line(const char* command, char* buffer, size_t size) {
  if (!buffer || size == 0) return buffer;
  std::string out = fx().capture(command, size);
  if (out.empty()) return buffer;
  size_t end = out.find('\n');
  std::string line = out.substr(0, end == std::string::npos ? out.size() : end + 1);
  copy_cut(line, buffer, size);
  size_t length = std::strlen(buffer);
  if (length > 0 && buffer[length - 1] == '\n') buffer[length - 1] = '\0';
  return buffer;
}

// ---- interface information ----

void format_inet(const ifreq& request, char* field, size_t size) {
  const auto* address = reinterpret_cast<const sockaddr_in*>(&request.ifr_addr);
  if (!inet_ntop(AF_INET, &address->sin_addr, field, size)) field[0] = '\0';
}

void format_hwaddr(const ifreq& request, char* field, size_t size) {
  const auto* b = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
  std::snprintf(field, size, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
}

// ---- ARP table ----

// Reads " 0x%x": "0x" after white space and the number after it, as strtoul
// reads one in base 16. Returns where reading stops, or null.
const char* scan_hex_field(const char* p, int& value) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p[0] != '0' || p[1] != 'x') return nullptr;
  char* end = nullptr;
  unsigned long number = std::strtoul(p + 2, &end, 16);
  if (end == p + 2) return nullptr;
  value = static_cast<int>(static_cast<unsigned>(number));
  return end;
}

// A line of the kernel's table: "IP 0xTYPE 0xFLAGS HWADDR MASK DEVICE".
bool parse_arp_line(const char* line, arp_entry& entry) {
  const char* p = scan_word(line, entry.ip, sizeof entry.ip);
  if (p) p = scan_hex_field(p, entry.hw_type);
  if (p) p = scan_hex_field(p, entry.flags);
  if (p) p = scan_word(p, entry.hwaddr, sizeof entry.hwaddr);
  if (p) p = scan_word(p, entry.mask, sizeof entry.mask);
  if (p) p = scan_word(p, entry.device, sizeof entry.device);
  if (!p) return false;
  for (char* p = entry.hwaddr; *p; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return true;
}

}  // namespace

// ---- store reads ----

char* cfg_get(const char* path, char* buffer, size_t size) {
  if (!buffer || size == 0) return buffer;
  buffer[0] = '\0';
  if (!path) return buffer;
  return copy_cut(store_read(path), buffer, size);
}

std::string cfg_get(const std::string& path) {
  return store_read(path);
}

bool cfg_flag(const char* path) {
  char value[32];
  cfg_get(path, value, sizeof value);
  return value[0] != '\0' && value[0] != '0';
}

bool cfg_flag(const std::string& path) {
  return cfg_flag(path.c_str());
}

bool cfg_int(const char* path, int* out) {
  char value[32];
  cfg_get(path, value, sizeof value);
  if (out) *out = 0;
  if (value[0] == '\0') return false;
  if (out) *out = std::atoi(value);
  return true;
}

bool cfg_int(const std::string& path, int* out) {
  return cfg_int(path.c_str(), out);
}

// ---- store changes ----

bool cfg_value_stageable(std::string_view value) {
  return uci::valid_value(value) && shell_dquote_escape(value).size() <= cfg_value_limit;
}

bool cfg_value_stageable(const char* value) {
  return cfg_value_stageable(view_of(value));
}

std::string cfg_section_name(const std::string& path) {
  if (path.size() >= cfg_path_limit) return "";
  std::string name;
  uci::section_name(store_dirs(), path, name);
  return name;
}

int cfg_section_count(const std::string& package, const std::string& type) {
  size_t count = 0;
  uci::count_sections(store_dirs(), package, type, count);
  return static_cast<int>(std::min<size_t>(count, INT_MAX));
}

int cfg_set(const char* path, const char* value) {
  return stage_set(view_of(path), view_of(value));
}

int cfg_set(const std::string& path, const std::string& value) {
  return stage_set(path, value);
}

int cfg_add_list(const char* path, const char* value) {
  return stage_add_list(view_of(path), view_of(value));
}

int cfg_add_list(const std::string& path, const std::string& value) {
  return stage_add_list(path, value);
}

int cfg_delete(const char* path) {
  return stage_delete(view_of(path));
}

int cfg_delete(const std::string& path) {
  return stage_delete(path);
}

int cfg_commit(const char* package) {
  return commit_package(view_of(package));
}

int cfg_commit(const std::string& package) {
  return commit_package(package);
}

// ---- shell readers ----

char* read_wan_ipaddr(char* buffer, size_t size) {
  return read_first_line(". /lib/functions/network.sh; network_get_ipaddr ip wan; echo $ip", buffer,
                         size);
}

char* read_wan_gateway(char* buffer, size_t size) {
  return read_first_line(". /lib/functions/network.sh; network_get_gateway ip wan; echo $ip",
                         buffer, size);
}

char* read_wan_dnsserver(char* buffer, size_t size) {
  return read_first_line(". /lib/functions/network.sh; network_get_dnsserver ip wan; echo $ip",
                         buffer, size);
}

// ---- address checks ----

int ipv4_valid(const char* text) {
  in_addr address;
  return text ? inet_pton(AF_INET, text, &address) : 0;
}

bool netmask_valid(const char* text) {
  in_addr address;
  if (!text || inet_pton(AF_INET, text, &address) != 1) return false;
  uint32_t mask = ntohl(address.s_addr);
  return ((mask - 1) | mask) == 0xFFFFFFFFu;
}

// ---- interface information ----

int iface_info(const char* ifname, iface_record* record) {
  if (!ifname || !record) return EINVAL;
  if (std::strlen(ifname) >= IFNAMSIZ) return ENAMETOOLONG;
  OwnedFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) return errno;

  ifreq request;
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.ifr_name, ifname, std::strlen(ifname));

  if (ioctl(sock.get(), SIOCGIFHWADDR, &request) < 0) return errno;
  format_hwaddr(request, record->hwaddr, sizeof record->hwaddr);
  if (ioctl(sock.get(), SIOCGIFADDR, &request) < 0) return errno;
  format_inet(request, record->addr, sizeof record->addr);
  if (ioctl(sock.get(), SIOCGIFNETMASK, &request) < 0) return errno;
  format_inet(request, record->netmask, sizeof record->netmask);
  if (ioctl(sock.get(), SIOCGIFBRDADDR, &request) < 0) return errno;
  format_inet(request, record->broadcast, sizeof record->broadcast);
  return 0;
}

// ---- ARP table ----

arp_entry* arp_table_read() {
  std::string table;
  if (!fx().read_file(paths::proc_arp, table)) return nullptr;
  arp_entry* first = nullptr;
  arp_entry** tail = &first;
  size_t start = table.find('\n');  // the header line
  while (start != std::string::npos && start + 1 < table.size()) {
    size_t end = table.find('\n', start + 1);
    std::string line = table.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    auto* entry = new arp_entry{};
    if (parse_arp_line(line.c_str(), *entry)) {
      *tail = entry;
      tail = &entry->next;
    } else {
      delete entry;
    }
    start = end;
  }
  return first;
}

void arp_table_free(arp_entry* first) {
  while (first) {
    arp_entry* next = first->next;
    delete first;
    first = next;
  }
}

const char* arp_table_find(const arp_entry* first, const char* hwaddr) {
  if (!hwaddr) return nullptr;
  for (const arp_entry* entry = first; entry; entry = entry->next) {
    if (strcasecmp(entry->hwaddr, hwaddr) == 0) return entry->ip;
  }
  return nullptr;
}

// ---- text helpers ----

namespace {

// Bytes that stand for themselves in character data: printable ASCII other
// than " & ' < >, tab and line feed. Runs of them are copied at once.
struct plain_byte_table {
  bool plain[256] = {};
  constexpr plain_byte_table() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
    for (char c : {'"', '&', '\'', '<', '>'}) plain[static_cast<unsigned char>(c)] = false;
    plain[int{'\t'}] = plain[int{'\n'}] = true;
  }
};
constexpr plain_byte_table plain_bytes;

// The entity of an ASCII byte that cannot stand for itself, or null.
const char* ascii_entity(char c) {
  switch (c) {
    case '"':
      return "&quot;";
    case '&':
      return "&amp;";
    case '\'':
      return "&apos;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '\r':
      return "&#13;";
    default:
      return nullptr;
  }
}

constexpr char replacement_character[] = "\xEF\xBF\xBD";  // U+FFFD

// U+FFFE and U+FFFF, which XML 1.0 forbids although they are well-formed.
bool is_noncharacter_fffe(const char* p, size_t n) {
  return n == 3 && static_cast<unsigned char>(p[0]) == 0xEF &&
         static_cast<unsigned char>(p[1]) == 0xBF &&
         (static_cast<unsigned char>(p[2]) & 0xFE) == 0xBE;
}

// Length of the text at src (left bytes there) that is copied as it is:
// plain bytes and the well-formed UTF-8 characters XML allows.
size_t copied_length(const char* src, size_t left) {
  size_t i = 0;
  while (i < left) {
    auto c = static_cast<unsigned char>(src[i]);
    if (plain_bytes.plain[c]) {
      ++i;
      continue;
    }
    size_t n = c < 0x80 ? 0 : utf8_char_length(src + i, left - i);
    if (n == 0 || is_noncharacter_fffe(src + i, n)) break;
    i += n;
  }
  return i;
}

// What the byte or character at src that is not copied as it is becomes:
// an entity, or U+FFFD. Sets taken to the bytes of src it stands for.
const char* replacement_of(const char* src, size_t left, size_t& taken) {
  taken = 1;
  if (static_cast<unsigned char>(src[0]) < 0x80) {
    const char* entity = ascii_entity(src[0]);
    return entity ? entity : replacement_character;  // else a control character
  }
  if (size_t n = utf8_char_length(src, left)) taken = n;  // U+FFFE or U+FFFF
  return replacement_character;
}

}  // namespace

size_t xml_escape(char* dest, const char* src, size_t length) {
  size_t written = 0;
  size_t i = 0;
  while (i < length) {
    size_t run = copied_length(src + i, length - i);
    std::memcpy(dest + written, src + i, run);
    written += run;
    i += run;
    if (i == length) break;
    size_t taken = 0;
    const char* text = replacement_of(src + i, length - i, taken);
    size_t n = std::strlen(text);
    std::memcpy(dest + written, text, n);
    written += n;
    i += taken;
  }
  dest[written] = '\0';
  return written;
}

std::string xml_escape(const std::string& text) {
  std::string escaped(text.size() * 6 + 1, '\0');
  escaped.resize(xml_escape(&escaped[0], text.data(), text.size()));
  return escaped;
}

size_t utf8_cut_length(const char* text, size_t length, size_t max_bytes) {
  if (length <= max_bytes) return length;
  auto byte = [text](size_t i) { return static_cast<unsigned char>(text[i]); };
  auto continuation = [&byte](size_t i) { return (byte(i) & 0xC0) == 0x80; };
  if (!continuation(max_bytes)) return max_bytes;
  // The byte after the cut continues a character: find its lead byte, at
  // most three bytes back, and cut before it when the character it starts
  // reaches past the cut.
  for (size_t back = 1; back <= 3 && back <= max_bytes; ++back) {
    if (continuation(max_bytes - back)) continue;
    unsigned char lead = byte(max_bytes - back);
    size_t declared = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return declared > back ? max_bytes - back : max_bytes;
  }
  return max_bytes;
}

std::string utf8_cut(const std::string& text, size_t max_bytes) {
  return text.substr(0, utf8_cut_length(text.data(), text.size(), max_bytes));
}

char* hex_encode(const unsigned char* bytes, size_t count, char* dest) {
  static const char digits[] = "0123456789ABCDEF";
  std::memset(dest, 0, 2 * count);
  for (size_t i = 0; i < count; ++i) {
    dest[2 * i] = digits[bytes[i] >> 4];
    dest[2 * i + 1] = digits[bytes[i] & 0x0F];
  }
  dest[2 * count] = '\0';
  return dest;
}

char* hex_decode(const char* hex, char* dest) {
  size_t length = hex ? std::strlen(hex) : 0;
  for (size_t i = 0; i < length / 2; ++i) {
    int value = 16 * hex_digit_value(hex[2 * i]) + hex_digit_value(hex[2 * i + 1]);
    dest[i] = static_cast<char>(static_cast<unsigned char>(value));  // modulo 256
  }
  dest[length / 2] = '\0';
  return dest;
}

// ---- character sets ----

bool looks_gb2312(const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  int pairs = 0;
  int foreign = 0;
  size_t i = 0;
  while (i < length) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    // A lead byte at the very end has no partner and counts as foreign.
    bool pair = bytes[i] >= 0xB0 && bytes[i] <= 0xF7 && i + 1 < length && bytes[i + 1] >= 0xA0 &&
                bytes[i + 1] <= 0xFE;
    if (pair)
      ++pairs;
    else
      ++foreign;
    i += 2;
  }
  std::printf("%d %d\n", pairs, foreign);
  return foreign < pairs;
}
