// The package in memory: names, changes and the written formats.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/uci/store.h"

namespace uci {

const char* error_text(int error) {
  static const char* const texts[] = {"Success",         "Out of memory", "Invalid argument",
                                      "Entry not found", "I/O error",     "Parse error",
                                      "Duplicate entry", "Unknown error"};
  if (error < 0 || error > err_unknown) error = err_unknown;
  return texts[error];
}

namespace {

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Characters a section type may carry unquoted and still read back the same.
bool plain_type(std::string_view type) {
  return type.find_first_of("'\"\\#;") == std::string_view::npos;
}

// Leading integer as sscanf("%d") reads it; false when there is none.
bool leading_int(const std::string& text, long& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  out = std::strtol(begin, &end, 10);
  return end != begin;
}

bool remove_option(Section& s, std::string_view name) {
  for (auto it = s.options.begin(); it != s.options.end(); ++it) {
    if (it->name == name) {
      s.options.erase(it);
      return true;
    }
  }
  return false;
}

bool remove_section(Package& pkg, std::string_view name) {
  for (auto it = pkg.sections.begin(); it != pkg.sections.end(); ++it) {
    if (it->name == name) {
      pkg.sections.erase(it);
      return true;
    }
  }
  return false;
}

bool apply_set(Package& pkg, const Delta& d) {
  if (d.option.empty()) {
    if (d.value.empty()) return remove_section(pkg, d.section);
    if (!valid_type(d.value)) return false;
    if (Section* s = pkg.find(d.section)) {
      s->type = d.value;  // an anonymous section stays anonymous
    } else {
      pkg.create(d.section, d.value, false);
    }
    return true;
  }
  Section* s = pkg.find(d.section);
  if (!s) return false;
  if (d.value.empty()) return remove_option(*s, d.option);
  set_option(*s, d.option, d.value);
  return true;
}

bool apply_add(Package& pkg, const Delta& d) {
  if (!d.option.empty() || !valid_type(d.value)) return false;
  Section* s = pkg.find(d.section);
  if (!s) {
    pkg.create(d.section, d.value, true);
    return true;
  }
  // A repeated add of the same anonymous section collapses into one. A named
  // section that merely looks like a generated name keeps its name and type.
  if (!s->anonymous) return false;
  s->type = d.value;
  return true;
}

bool apply_remove(Package& pkg, const Delta& d) {
  if (d.option.empty()) return remove_section(pkg, d.section);
  Section* s = pkg.find(d.section);
  Option* o = s ? s->find(d.option) : nullptr;
  if (!o) return false;
  if (d.has_value && o->is_list) {
    long index = 0;
    if (!leading_int(d.value, index)) return false;
    if (index >= 0 && static_cast<size_t>(index) < o->items.size())
      o->items.erase(o->items.begin() + index);
    return true;
  }
  return remove_option(*s, d.option);
}

bool apply_rename(Package& pkg, const Delta& d) {
  if (!valid_name(d.value)) return false;
  Section* s = pkg.find(d.section);
  if (!s) return false;
  if (d.option.empty()) {
    // Two sections of one name would not even read back if their types differ.
    const Section* other = pkg.find(d.value);
    if (other && other != s) return false;
    s->name = d.value;
    s->anonymous = false;
    return true;
  }
  auto& options = s->options;
  auto renamed = std::find_if(options.begin(), options.end(),
                              [&](const Option& o) { return o.name == d.option; });
  if (renamed == options.end()) return false;
  // The renamed option replaces one that already has the new name, so the
  // section never holds two options of one name.
  size_t keep = static_cast<size_t>(renamed - options.begin());
  for (size_t i = options.size(); i-- > 0;) {
    if (i == keep || options[i].name != d.value) continue;
    options.erase(options.begin() + static_cast<long>(i));
    if (i < keep) --keep;
  }
  options[keep].name = d.value;
  return true;
}

bool apply_reorder(Package& pkg, const Delta& d) {
  auto it = std::find_if(pkg.sections.begin(), pkg.sections.end(),
                         [&](const Section& s) { return s.name == d.section; });
  if (it == pkg.sections.end()) return false;
  size_t from = static_cast<size_t>(it - pkg.sections.begin());
  size_t to = std::strtoul(d.value.c_str(), nullptr, 10);
  if (to >= pkg.sections.size()) to = pkg.sections.size() - 1;
  Section moved = std::move(pkg.sections[from]);
  pkg.sections.erase(pkg.sections.begin() + from);
  pkg.sections.insert(pkg.sections.begin() + to, std::move(moved));
  return true;
}

bool apply_list_add(Package& pkg, const Delta& d) {
  Section* s = pkg.find(d.section);
  if (!s || d.option.empty()) return false;
  add_list_item(*s, d.option, d.value);
  return true;
}

bool apply_list_del(Package& pkg, const Delta& d) {
  Section* s = pkg.find(d.section);
  Option* o = s ? s->find(d.option) : nullptr;
  if (!o || !o->is_list) return false;
  auto& items = o->items;
  items.erase(std::remove(items.begin(), items.end(), d.value), items.end());
  return true;
}

}  // namespace

bool valid_name(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!is_alnum(c) && c != '_') return false;
  return true;
}

bool valid_package(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!is_alnum(c) && c != '_' && c != '-') return false;
  return true;
}

bool valid_type(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126) return false;
  }
  return true;
}

bool valid_value(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if ((u < 32 && c != '\t' && c != '\n' && c != '\r') || u == 127) return false;
  }
  return true;
}

std::string anonymous_name(unsigned number, std::string_view type) {
  uint32_t hash = 5381;
  for (char c : type) hash = hash * 33 + static_cast<unsigned char>(c);
  char buf[32];
  std::snprintf(buf, sizeof buf, "cfg%02x%04x", number, static_cast<unsigned>(hash & 0xffff));
  return buf;
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += '\'';
  return out;
}

Option* Section::find(std::string_view option_name) {
  for (Option& o : options)
    if (o.name == option_name) return &o;
  return nullptr;
}

const Option* Section::find(std::string_view option_name) const {
  return const_cast<Section*>(this)->find(option_name);
}

Section* Package::find(std::string_view section_name) {
  for (Section& s : sections)
    if (s.name == section_name) return &s;
  return nullptr;
}

const Section* Package::find(std::string_view section_name) const {
  return const_cast<Package*>(this)->find(section_name);
}

void set_option(Section& s, const std::string& name, const std::string& value) {
  Option* o = s.find(name);
  if (!o) {
    s.options.push_back(Option{name, false, value, {}});
    return;
  }
  o->is_list = false;
  o->items.clear();
  o->value = value;
}

void add_list_item(Section& s, const std::string& name, const std::string& value) {
  Option* o = s.find(name);
  if (!o) {
    s.options.push_back(Option{name, true, {}, {value}});
  } else if (!o->is_list) {
    o->is_list = true;
    o->items = {std::move(o->value), value};
    o->value.clear();
  } else {
    o->items.push_back(value);
  }
}

Section& Package::create(std::string section_name, std::string type, bool anonymous) {
  ++created;
  sections.push_back(Section{std::move(section_name), std::move(type), anonymous, {}});
  return sections.back();
}

bool apply(Package& pkg, const Delta& delta) {
  switch (delta.op) {
    case Op::set:
      return apply_set(pkg, delta);
    case Op::add:
      return apply_add(pkg, delta);
    case Op::remove:
      return apply_remove(pkg, delta);
    case Op::rename:
      return apply_rename(pkg, delta);
    case Op::reorder:
      return apply_reorder(pkg, delta);
    case Op::list_add:
      return apply_list_add(pkg, delta);
    case Op::list_del:
      return apply_list_del(pkg, delta);
  }
  return false;
}

std::string format_config(const Package& pkg, bool name_anonymous) {
  std::string out;
  for (const Section& s : pkg.sections) {
    out += "\nconfig ";
    // Types with quote, backslash, '#' or ';' would not read back unquoted.
    out += plain_type(s.type) ? s.type : quoted(s.type);
    if (!s.anonymous || name_anonymous) {
      out += ' ';
      out += quoted(s.name);
    }
    out += '\n';
    for (const Option& o : s.options) {
      if (!o.is_list) {
        out += "\toption " + o.name + ' ' + quoted(o.value) + '\n';
        continue;
      }
      for (const std::string& item : o.items) out += "\tlist " + o.name + ' ' + quoted(item) + '\n';
    }
  }
  out += '\n';
  return out;
}

std::string format_record(std::string_view package, const Delta& delta) {
  std::string out;
  if (delta.op != Op::set) out += static_cast<char>(delta.op);
  out += package;
  out += '.';
  out += delta.section;
  if (!delta.option.empty()) {
    out += '.';
    out += delta.option;
  }
  if (delta.has_value) {
    out += '=';
    out += quoted(delta.value);
  }
  out += '\n';
  return out;
}

}  // namespace uci
