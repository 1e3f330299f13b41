// The "system" service: the device's identity and live figures, traffic per
// interface, the configuration backup, a few device settings, and the
// device-wide actions (reboot, power-off, reset, restore, upgrade, mode
// switch).
#include <sys/reboot.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/errno_text.h"
#include "platform/localtime.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "services/common/request_body.h"
#include "services/system/mode_switch.h"
#include "services/wireless/wireless.h"
#include "xml/xml.h"

namespace {

constexpr size_t path_limit = 4096;
constexpr size_t command_limit = 1024;

// The first line of a text, without its line feed.
std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// Reads count decimal numbers separated by blanks from text, as 64-bit
// values. False when fewer are there.
bool read_numbers(const char* text, uint64_t* out, int count) {
  for (int i = 0; i < count; ++i) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    out[i] = std::strtoull(text, &end, 10);
    text = end;
  }
  return true;
}

// Counters are shown as 32-bit values: the low 32 bits of the kernel's.
unsigned low32(uint64_t value) {
  return static_cast<unsigned>(value & 0xffffffffu);
}

// ---- GET /traffic ----

// One interface line of /proc/net/dev: the name is the text before the
// colon, sixteen counters follow. Lines that do not parse give nothing.
std::string traffic_entry(const std::string& line) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return "";
  size_t start = line.find_first_not_of(' ');
  if (start >= colon) return "";
  uint64_t counters[16];
  if (!read_numbers(line.c_str() + colon + 1, counters, 16)) return "";
  std::string entry;
  appendf(entry,
          "<INTERFACE><NAME>%s</NAME><SEND_BYTES>%u</SEND_BYTES><SEND_PKTS>%u</SEND_PKTS>"
          "<RECV_BYTES>%u</RECV_BYTES><RECV_PKTS>%u</RECV_PKTS></INTERFACE>",
          xml_escape(line.substr(start, colon - start)).c_str(), low32(counters[8]),
          low32(counters[9]), low32(counters[0]), low32(counters[1]));
  return entry;
}

int get_traffic(int fd) {
  std::string table;
  errno = 0;
  if (!fx().read_file(paths::proc_dev, table))
    return reply_result(fd, 5, errno_text(errno ? errno : ENOENT));
  std::string doc = xml_declaration;
  doc += "<SYSTEM><TRAFFIC>";
  std::vector<std::string> lines = text_lines(table);
  // The first two lines are the column headings.
  for (size_t i = 2; i < lines.size(); ++i) doc += traffic_entry(lines[i]);
  doc += "</TRAFFIC></SYSTEM>";
  send_all(fd, doc);
  return 0;
}

// ---- GET /basic ----

// Copies the firmware version into the store once per worker. An empty
// first line is not copied, so it cannot wipe the stored version.
void version_refresh() {
  if (worker().version_done) return;
  std::string text;
  if (!fx().read_file("/etc/lsb-version", text, 4096)) return;
  worker().version_done = true;
  std::string version = utf8_cut(first_line(text), 127);
  if (version.empty()) return;
  cfg_set("system.@system[0].version", version);
  cfg_commit("system");
}

std::string proc_first_line(const char* path) {
  std::string text;
  fx().read_file(path, text, 4096);
  return first_line(text);
}

std::string uptime_seconds() {
  std::string line = proc_first_line("/proc/uptime");
  std::string field = line.substr(0, line.find(' '));
  return xml_escape(field.substr(0, field.find('.')).substr(0, 31));
}

struct memory_figures {
  std::string total, free, cached, buffers;
};

// The figures of /proc/meminfo by their keys, wherever their lines are.
memory_figures memory() {
  std::string text;
  fx().read_file("/proc/meminfo", text, 16384);
  memory_figures figures;
  struct {
    const char* key;
    std::string* value;
  } wanted[] = {{"MemTotal:", &figures.total},
                {"MemFree:", &figures.free},
                {"Buffers:", &figures.buffers},
                {"Cached:", &figures.cached}};
  for (const std::string& line : text_lines(text)) {
    for (auto& item : wanted) {
      if (line.rfind(item.key, 0) != 0) continue;
      size_t number = line.find_first_not_of(' ', std::strlen(item.key));
      if (number == std::string::npos) break;
      *item.value = xml_escape(line.substr(number, line.find(' ', number) - number).substr(0, 31));
    }
  }
  return figures;
}

std::string cpu_figures() {
  std::string line = proc_first_line("/proc/stat");
  uint64_t counters[7] = {};
  size_t blank = line.find(' ');
  if (blank != std::string::npos) read_numbers(line.c_str() + blank, counters, 7);
  std::string text;
  appendf(text,
          "<CPU_INFO><USER>%u</USER><NICE>%u</NICE><SYSTEM>%u</SYSTEM><IDLE>%u</IDLE>"
          "<IOWAIT>%u</IOWAIT><IRQ>%u</IRQ><SOFTIRQ>%u</SOFTIRQ></CPU_INFO>",
          low32(counters[0]), low32(counters[1]), low32(counters[2]), low32(counters[3]),
          low32(counters[4]), low32(counters[5]), low32(counters[6]));
  return text;
}

// 1 when the first enabled VAP belongs to the second radio, else 0.
int first_radio_in_use() {
  for (int slot = 0; slot < vap_slot_count; ++slot) {
    std::string disabled = iface_option(slot, "disabled", 32);
    if (disabled.empty() || disabled[0] == '0') return radio_of_slot(slot);
  }
  return 0;
}

int get_basic(int fd) {
  version_refresh();
  time_t now = fx().now();
  std::string uptime = uptime_seconds();
  memory_figures mem = memory();
  std::string cpu = cpu_figures();
  std::string doc = xml_declaration;
  appendf(doc,
          "<SYSTEM><NAME>%s</NAME><VERSION>%s</VERSION><MODEL>%s</MODEL>"
          "<SYSDEVGROUP>%s</SYSDEVGROUP><SYSDEVNAME>%s</SYSDEVNAME><CTIME>%s</CTIME>"
          "<UPTIME>%s</UPTIME><SYS_MODE>%s</SYS_MODE><MEM_INFO><TOTAL>%s</TOTAL><FREE>%s</FREE>"
          "<CACHED>%s</CACHED><BUFFER>%s</BUFFER></MEM_INFO>%s<USER_RIGHT>%s</USER_RIGHT>"
          "<RST_BT_DISABLE>%s</RST_BT_DISABLE><FREQ_MODE>%s</FREQ_MODE>"
          "<TELNET_ENABLE>%s</TELNET_ENABLE></SYSTEM>",
          stored_text("system.@system[0].hostname", 256).c_str(),
          stored_text("system.@system[0].version", 256).c_str(),
          stored_text("system.@system[0].mode", 256).c_str(),
          stored_text("system.@system[0].sysdevgroup", 256).c_str(),
          stored_text("system.@system[0].sysdevname", 256).c_str(), device_ctime(now).c_str(),
          uptime.c_str(), stored_text("system.@system[0].sys_mode", 128).c_str(), mem.total.c_str(),
          mem.free.c_str(), mem.cached.c_str(), mem.buffers.c_str(), cpu.c_str(),
          xml_escape(worker().user_right).c_str(),
          cfg_flag("system.@system[0].rst_disabled") ? "1" : "0",
          first_radio_in_use() == 1 ? "1" : "0",
          cfg_flag("system.@system[0].tn_disable") ? "0" : "1");
  send_all(fd, doc);
  return 0;
}

// ---- GET /backup ----

int get_backup(int fd) {
  time_t now = fx().now();
  struct tm utc {};
  gmtime_r(&now, &utc);
  char name[96];
  std::snprintf(name, sizeof name, "backup-%d%d%d-%d:%d:%d.tar.gz", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  fx().run(
      std::string("/usr/bin/find /etc -type f ! -name lsb-version |xargs /bin/tar -czvf /tmp/") +
      name);
  fx().run(std::string("/bin/ln -sf /tmp/") + name + " /www/bakfile.bin");
  std::string doc = xml_declaration;
  doc += "<SYSTEM><URL>bakfile.bin</URL></SYSTEM>";
  send_all(fd, doc);
  return 0;
}

// ---- POST /basic ----

// Stores the settings given; returns 0 when at least one was, 1 (no reply
// at all) when the body held none of them.
int post_basic(int fd, xml_node* root) {
  const char* group = child_text(root, "SYSDEVGROUP");
  const char* name = child_text(root, "SYSDEVNAME");
  const char* reset_button = child_text(root, "RST_BT_DISABLE");
  const char* telnet = child_text(root, "TELNET_ENABLE");
  bool names = group && name;
  // A value the store cannot take is refused before anything is staged.
  if ((reset_button && !cfg_value_stageable(reset_button)) ||
      (names && (!cfg_value_stageable(group) || !cfg_value_stageable(name))))
    return reply_code(fd, FORMAT_ERROR);

  if (reset_button) {
    cfg_set("system.@system[0].rst_disabled", reset_button);
    // The reset-button helper rereads its setting when this file appears.
    fx().write_file("/tmp/kkk", "rst\n");
  }
  if (names) {
    cfg_set("system.@system[0].sysdevgroup", group);
    cfg_set("system.@system[0].sysdevname", name);
  }
  if (telnet) cfg_set("system.@system[0].tn_disable", telnet[0] == '0' ? "1" : "0");
  if (!reset_button && !names && !telnet) return 1;
  cfg_commit("system");
  // One background job, so the stop always lands before the restart.
  if (telnet) fx().run("(/etc/init.d/telnet stop; /etc/init.d/telnet restart) &");
  return 0;
}

// ---- POST /active ----

// Restarts the device, after writing what is still unwritten to flash.
// Returns only when the kernel refused.
void kernel_restart() {
  fx().sync_storage();
  fx().reboot_system(RB_AUTOBOOT);
}

// The archive path for a URL, or empty when the URL is not a plain file
// name in /tmp or the command made of it would not fit.
std::string archive_path(const char* url, size_t command_length) {
  if (!url || !*url || std::strchr(url, '/') || !std::strcmp(url, ".") || !std::strcmp(url, ".."))
    return "";
  std::string path = std::string("/tmp/") + url;
  if (path.size() >= path_limit || command_length + shell_quote(path).size() >= command_limit)
    return "";
  return path;
}

int restore(int fd, const char* url) {
  const char* prefix = "/bin/tar -C / -xzvf ";
  std::string path = archive_path(url, std::strlen(prefix));
  if (path.empty()) return reply_code(fd, FORMAT_ERROR);
  std::string command = prefix + shell_quote(path);
  std::printf("%s\n%s\n", path.c_str(), command.c_str());
  fx().run(command);
  kernel_restart();
  return reply_code(fd, NO_SERVICE);
}

int upgrade(int fd, const char* url, const char* save_cfg) {
  bool keep = !save_cfg || std::atoi(save_cfg) != 0;
  const char* prefix = keep ? "/sbin/sysupgrade " : "/sbin/sysupgrade -n ";
  std::string path = archive_path(url, std::strlen(prefix));
  if (path.empty()) return reply_code(fd, FORMAT_ERROR);
  fx().run(prefix + shell_quote(path));
  kernel_restart();
  return reply_code(fd, NO_SERVICE);
}

int post_active(int fd, xml_node* root) {
  const char* act = child_text(root, "ACT");
  if (!act) return reply_code(fd, NO_SERVICE);
  if (!std::strcmp(act, "Reboot")) {
    fx().sync_storage();
    fx().run("/sbin/reboot -n -f");
    kernel_restart();
  } else if (!std::strcmp(act, "Poweroff")) {
    fx().sync_storage();
    fx().reboot_system(RB_POWER_OFF);
  } else if (!std::strcmp(act, "Reset")) {
    fx().send_signal(-1, SIGTERM);
    fx().run("/bin/rm -rf /overlay/*");
    kernel_restart();
  } else if (!std::strcmp(act, "Restore")) {
    return restore(fd, child_text(root, "URL"));
  } else if (!std::strcmp(act, "Upgrade")) {
    return upgrade(fd, child_text(root, "URL"), child_text(root, "SAVE_CFG"));
  } else if (!std::strcmp(act, "Mode")) {
    const char* mode = child_text(root, "MODE");
    if (!mode) return reply_code(fd, FORMAT_ERROR);
    return mode_switch(std::atoi(mode));
  }
  return reply_code(fd, NO_SERVICE);
}

}  // namespace

int system_get(int fd, char* sub_path, size_t sub_path_len, char* /*rest*/) {
  std::string path = sub_path ? std::string(sub_path, sub_path_len) : std::string();
  if (path == "/traffic") return get_traffic(fd);
  if (path == "/basic") return get_basic(fd);
  if (path == "/backup") return get_backup(fd);
  return reply_code(fd, NO_SERVICE);
}

// The body is parsed before the sub-path is looked at.
int system_post(int fd, char* body, size_t body_len, char* sub_path) {
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  size_t length = sub_path ? static_cast<size_t>(body - sub_path) : 0;
  if (sub_path && leading_part_of(sub_path, length, "/basic"))
    return post_basic(fd, request.root());
  if (sub_path && leading_part_of(sub_path, length, "/active"))
    return post_active(fd, request.root());
  return reply_result(fd, NO_SERVICE, "Invalid service");
}
