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
