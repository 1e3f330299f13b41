// Paths of the form PACKAGE[.SECTION[.OPTION]][=VALUE], with the extended
// section references @TYPE[N] and @[N].
#include <cerrno>
#include <cstdlib>

#include "platform/uci/store.h"

namespace uci {
namespace {

// Parses "@TYPE[N]" / "@[N]"; false when malformed.
bool parse_reference(const std::string& ref, std::string& type, long& index) {
  if (ref.size() < 4 || ref[0] != '@' || ref.back() != ']') return false;
  size_t open = ref.find('[');
  if (open == std::string::npos) return false;
  type = ref.substr(1, open - 1);
  if (!type.empty() && !valid_type(type)) return false;
  std::string number = ref.substr(open + 1, ref.size() - open - 2);
  const char* begin = number.c_str();
  char* end = nullptr;
  errno = 0;
  index = std::strtol(begin, &end, 10);
  return *end == '\0' && errno == 0;
}

size_t nth_section(const Package& pkg, const std::string& type, long index) {
  const auto& sections = pkg.sections;
  auto matches = [&](size_t i) { return type.empty() || sections[i].type == type; };
  if (index >= 0) {
    for (size_t i = 0; i < sections.size(); ++i)
      if (matches(i) && index-- == 0) return i;
    return npos;
  }
  for (size_t i = sections.size(); i-- > 0;)
    if (matches(i) && ++index == 0) return i;
  return npos;
}

}  // namespace

int parse_path(std::string_view text, Path& path) {
  path = Path{};
  size_t eq = text.find('=');
  if (eq != std::string_view::npos) {
    path.has_value = true;
    path.value = std::string(text.substr(eq + 1));
    text = text.substr(0, eq);
  }
  std::string_view parts[3];
  size_t count = 0;
  while (true) {
    size_t dot = text.find('.');
    if (count == 3) return err_parse;
    parts[count++] = text.substr(0, dot);
    if (dot == std::string_view::npos) break;
    text = text.substr(dot + 1);
  }
  path.package = std::string(parts[0]);
  path.has_section = count > 1;
  path.has_option = count > 2;
  if (path.has_section) path.section = std::string(parts[1]);
  if (path.has_option) path.option = std::string(parts[2]);
  if (!valid_package(path.package)) return err_parse;
  if (path.has_section && !valid_name(path.section)) path.extended = true;
  if (path.has_option && !valid_name(path.option)) return err_parse;
  if (path.has_value && !valid_value(path.value)) return err_parse;
  return ok;
}

int resolve(const Package& pkg, Path& path, Found& found) {
  found = Found{};
  if (!path.has_section) {
    found.complete = true;
    return ok;
  }
  if (path.extended) {
    std::string type;
    long index = 0;
    if (!parse_reference(path.section, type, index)) return err_invalid;
    found.section = nth_section(pkg, type, index);
    if (found.section == npos) return ok;
    path.section = pkg.sections[found.section].name;
  } else {
    for (size_t i = 0; i < pkg.sections.size() && found.section == npos; ++i)
      if (pkg.sections[i].name == path.section) found.section = i;
    if (found.section == npos) return ok;
  }
  if (!path.has_option) {
    found.complete = true;
    return ok;
  }
  const auto& options = pkg.sections[found.section].options;
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i].name == path.option) {
      found.option = i;
      found.complete = true;
      break;
    }
  }
  return ok;
}

}  // namespace uci
