#include "services/network/network_text.h"

namespace {

void append_element(std::string& out, const char* element, const std::string& content) {
  out += '<';
  out += element;
  out += '>';
  out += content;
  out += "</";
  out += element;
  out += '>';
}

std::string one_line(const std::string& value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

std::string address_list(const std::string& source, const char* element) {
  std::string out;
  if (source.empty()) {
    append_element(out, element, "");
    return out;
  }
  size_t start = 0;
  for (size_t blank = source.find(' '); blank != std::string::npos;
       blank = source.find(' ', start)) {
    append_element(out, element, source.substr(start, blank - start));
    start = blank + 1;
  }
  if (start < source.size()) append_element(out, element, source.substr(start));
  return out;
}

std::string snmpd_conf_text(const std::string& enterprise_id, const std::string& rw_community,
                            const std::string& ro_community, const std::string& trap_sink) {
  return "sysobjectid .1.3.6.1.4.1." + one_line(enterprise_id) +
         ".100.1.1.1.1.10\n"
         "agentAddress udp:161\n"
         "sysservices 72\n"
         "rwcommunity " +
         one_line(rw_community) +
         "\n"
         "rocommunity " +
         one_line(ro_community) +
         "\n"
         "trapcommunity mivrok\n"
         "trap2sink " +
         one_line(trap_sink) + "\n";
}
