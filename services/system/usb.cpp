// The "usb" service: the mounted USB disk partitions with their sizes.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "platform/effects.h"
#include "services/common/request_body.h"

namespace {

// Partitions listed at most, and the longest device path kept.
constexpr size_t partition_limit = 16;
constexpr size_t device_path_limit = 127;

// The lines of a command's output, the last one without its line feed.
std::vector<std::string> output_lines(const std::string& command) {
  return text_lines(fx().capture(command));
}

// Fills fields with the first count blank-separated words of line; false when
// the line has fewer.
bool split_fields(const std::string& line, std::string* fields, size_t count) {
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
    if (pos == line.size()) return false;
    size_t end = pos;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    fields[i].assign(line, pos, end - pos);
    pos = end;
  }
  return true;
}

// Device paths of the disk partitions blkid lists ("/dev/sda1: UUID=..."),
// each once, in its order. A line whose text before the first ':' is not such
// a path, or is too long for one, names nothing.
std::vector<std::string> partition_names() {
  std::vector<std::string> names;
  for (const std::string& line : output_lines("blkid")) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon > device_path_limit) continue;
    std::string name = line.substr(0, colon);
    if (name.compare(0, 7, "/dev/sd") != 0) continue;
    bool known = false;
    for (const std::string& kept : names) known = known || kept == name;
    if (!known) names.push_back(name);
    if (names.size() == partition_limit) break;
  }
  return names;
}

// Appends the DEVICE entry of a df line whose file system is one of the
// partitions. Lines with fewer than five fields are skipped.
void append_device(std::string& doc, const std::string& line,
                   const std::vector<std::string>& names) {
  std::string field[5];
  if (!split_fields(line, field, 5)) return;
  for (const std::string& name : names) {
    if (field[0] != name) continue;
    appendf(doc,
            "<DEVICE><NAME>%s</NAME><SIZE>%s</SIZE><USED>%s</USED><AVAILABLE>%s</AVAILABLE>"
            "<PERCENT>%s</PERCENT></DEVICE>",
            xml_escape(field[0]).c_str(), xml_escape(field[1]).c_str(),
            xml_escape(field[2]).c_str(), xml_escape(field[3]).c_str(),
            xml_escape(field[4]).c_str());
    return;
  }
}

}  // namespace

int usb_get(int fd, char* sub_path, size_t /*sub_path_len*/, char* /*rest*/) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  std::vector<std::string> names = partition_names();
  std::string doc = xml_declaration;
  doc += "<USB>";
  for (const std::string& line : output_lines("df -h")) append_device(doc, line, names);
  doc += "</USB>";
  send_all(fd, doc);
  return 0;
}
