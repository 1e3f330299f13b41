// In-place XML reader. The parser walks the NUL-terminated text once, cuts
// names and texts out of it by writing terminators, and decodes references
// in place where the result is not longer than the source.
#include "xml/xml.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "xml/utf8.h"

namespace {

// Bytes that declared entities may insert into one document in total. Stops
// nested-entity bombs and reference loops that are built across entity
// boundaries; it is 16 times the largest request body the server accepts.
constexpr size_t kExpansionLimit = 256 * 1024;
// Up to this many different child names are searched linearly.
constexpr size_t kLinearGroupLimit = 16;

char empty_text[1] = "";
char empty_flags[1] = "";
char* empty_attributes[2] = {nullptr, empty_flags};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_name_start(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_' || c == ':' || u >= 0x80;
}

bool is_name_char(char c) {
  return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

char* skip_space(char* s) {
  while (is_space(*s)) ++s;
  return s;
}

// Skips a declaration word: up to whitespace, '>', a quote, '(' or the end.
char* skip_word(char* s) {
  while (*s && !is_space(*s) && *s != '>' && *s != '"' && *s != '\'' && *s != '(') ++s;
  return s;
}

bool starts_with(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool is_word(const char* s, const char* end, const char* word) {
  return std::string_view(s, static_cast<size_t>(end - s)) == word;
}

// The name of a reference whose name starts at p ("name;"), or "".
std::string_view reference_name(const char* p) {
  const char* end = p;
  while (is_name_char(*end)) ++end;
  if (end == p || *end != ';') return {};
  return std::string_view(p, static_cast<size_t>(end - p));
}

char predefined_entity(std::string_view name) {
  if (name == "lt") return '<';
  if (name == "gt") return '>';
  if (name == "amp") return '&';
  if (name == "apos") return '\'';
  if (name == "quot") return '"';
  return 0;
}

// Parses "&#65;" or "&#x41;" at text. Returns the length of the reference
// and its code point, or 0 for anything that is not a usable reference
// (no digits, no ';', value 0, a surrogate or beyond Unicode).
size_t parse_char_ref(const char* text, uint32_t& code) {
  const char* p = text + 2;
  bool hex = *p == 'x';
  if (hex) ++p;
  const char* digits = p;
  uint32_t value = 0;
  for (;; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9') {
      digit = *p - '0';
    } else if (hex && (*p | 0x20) >= 'a' && (*p | 0x20) <= 'f') {
      digit = (*p | 0x20) - 'a' + 10;
    } else {
      break;
    }
    value = std::min<uint32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
  }
  if (p == digits || *p != ';') return 0;
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  code = value;
  return static_cast<size_t>(p + 1 - text);
}

size_t put_utf8(char* out, uint32_t code) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

// Converts UTF-16 with a byte-order mark (0xFE: big-endian, 0xFF: little)
// to UTF-8. Unpaired surrogates become U+FFFD.
std::unique_ptr<char[]> utf16_to_utf8(const unsigned char* in, size_t length, size_t& out_length) {
  bool big_endian = in[0] == 0xFE;
  size_t units = length >= 2 ? (length - 2) / 2 : 0;
  auto unit = [&](size_t i) -> uint32_t {
    const unsigned char* p = in + 2 + 2 * i;
    return big_endian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  };
  // Three bytes per unit covers both BMP characters and surrogate pairs.
  std::unique_ptr<char[]> out(new char[units * 3 + 1]);
  size_t n = 0;
  for (size_t i = 0; i < units; ++i) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    n += put_utf8(out.get() + n, code);
  }
  out[n] = '\0';
  out_length = n;
  return out;
}

// Most texts are a few bytes long, where a plain loop is cheaper than a
// library call.
char* find_char(char* s, size_t length, char c) {
  for (size_t i = 0; i < length; ++i) {
    if (s[i] == c) return s + i;
  }
  return nullptr;
}

// CR LF and a lone CR become LF in s (length bytes, NUL-terminated).
// Returns the new length.
size_t normalize_line_ends(char* s, size_t length) {
  char* cr = find_char(s, length, '\r');
  if (!cr) return length;
  char* end = s + length;
  char* out = cr;
  for (char* in = cr; in < end;) {
    if (*in == '\r') {
      *out++ = '\n';
      in += in[1] == '\n' ? 2 : 1;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return static_cast<size_t>(out - s);
}

// Drops leading blanks, collapses runs of blanks and drops a trailing one.
size_t collapse_blanks(char* s, size_t length) {
  size_t out = 0;
  for (size_t i = 0; i < length; ++i) {
    if (s[i] == ' ' && (out == 0 || s[out - 1] == ' ')) continue;
    s[out++] = s[i];
  }
  if (out > 0 && s[out - 1] == ' ') --out;
  s[out] = '\0';
  return out;
}

// Bump allocator for nodes, attribute lists and joined texts; everything is
// released at once with the tree.
class arena {
 public:
  void* allocate(size_t size) {
    size = (size + kAlign - 1) & ~(kAlign - 1);
    if (size > free_) grow(size);
    void* p = next_;
    next_ += size;
    free_ -= size;
    return p;
  }

  char* copy(const char* text, size_t length) {
    char* p = static_cast<char*>(allocate(length + 1));
    std::memcpy(p, text, length);
    p[length] = '\0';
    return p;
  }

 private:
  static constexpr size_t kAlign = alignof(std::max_align_t);
  static constexpr size_t kMaxChunk = 64 * 1024;

  void grow(size_t size) {
    size_t chunk = std::max(size, chunk_size_);
    chunk_size_ = std::min(chunk_size_ * 2, kMaxChunk);
    chunks_.emplace_back(new unsigned char[chunk]);
    next_ = chunks_.back().get();
    free_ = chunk;
  }

  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
  unsigned char* next_ = nullptr;
  size_t free_ = 0;
  size_t chunk_size_ = 2048;
};

struct entity {
  std::string_view value;
  unsigned mark = 0;  // visit mark of the circularity check
};
using entity_map = std::unordered_map<std::string_view, entity>;

struct attribute_decl {
  const char* default_value;  // null when none was declared
  char kind;                  // ' ' for CDATA, '*' for normalised types
};
using attlist_map =
    std::unordered_map<std::string_view, std::unordered_map<std::string_view, attribute_decl>>;

struct processing_instruction {
  const char* target;
  const char* text;
  bool before_root;
};

// The document element doubles as the record of the whole tree.
struct xml_document : xml_node {
  xml_document() : xml_node{} {
    attributes = empty_attributes;
    text = empty_text;
  }

  char error[128] = "";
  std::unique_ptr<char[]> utf8_copy;
  arena memory;
  std::vector<std::unique_ptr<char[]>> decoded;  // texts that grew while decoding
  entity_map entities;
  attlist_map attlists;
  std::vector<processing_instruction> instructions;
  bool standalone = false;
  size_t expanded = 0;  // bytes inserted by declared entities so far
};

struct decoded_text {
  char* text;
  size_t length;
  bool allocated;
};

// Decoding buffer: output grows at the front while unread input sits at the
// back, so an entity value can be put in front of the unread input and be
// scanned again. Works in the caller's text until a value does not fit.
class expander {
 public:
  expander(char* text, size_t length) : buf_(text), in_(0), end_(length) {}

  bool done() const { return in_ >= end_; }
  const char* input() const { return buf_ + in_; }  // NUL-terminated
  void skip(size_t n) { in_ += n; }
  char take() { return buf_[in_++]; }
  // Output never overtakes input: every caller consumed at least as much.
  void put(char c) { buf_[out_++] = c; }
  void put_code(uint32_t code) { out_ += put_utf8(buf_ + out_, code); }

  void insert(const char* value, size_t length) {
    if (in_ - out_ < length) grow(length);
    in_ -= length;
    std::memmove(buf_ + in_, value, length);
  }

  char* finish(size_t& length, std::unique_ptr<char[]>& owned) {
    buf_[out_] = '\0';
    length = out_;
    owned = std::move(owned_);
    return buf_;
  }

 private:
  void grow(size_t needed) {
    size_t rest = end_ - in_;
    size_t capacity = 2 * (out_ + needed + rest) + 64;
    std::unique_ptr<char[]> bigger(new char[capacity + 1]);
    std::memcpy(bigger.get(), buf_, out_);
    std::memcpy(bigger.get() + capacity - rest, buf_ + in_, rest);
    bigger[capacity] = '\0';
    buf_ = bigger.get();
    owned_ = std::move(bigger);
    in_ = capacity - rest;
    end_ = capacity;
  }

  char* buf_;
  size_t out_ = 0;
  size_t in_;
  size_t end_;
  std::unique_ptr<char[]> owned_;
};

// Children of one open element that share a name: linked through next.
struct child_group {
  xml_node* head;
  xml_node* tail;
};

// Parse state of an element whose closing tag has not been seen yet. The
// records are reused by later elements at the same depth.
struct open_element {
  xml_node* node = nullptr;
  xml_node* last_child = nullptr;
  size_t text_length = 0;
  bool joining = false;
  std::string joined;  // text while more than one run has been seen
  std::vector<child_group> groups;
  std::unordered_map<std::string_view, size_t> group_index;  // for many names

  void reset(xml_node* element) {
    node = element;
    last_child = nullptr;
    text_length = 0;
    joining = false;
    joined.clear();
    groups.clear();
    if (!group_index.empty()) group_index = {};
  }

  child_group* find_group(const char* name) {
    if (groups.size() <= kLinearGroupLimit) {
      for (child_group& group : groups) {
        const char* other = group.head->name;
        if (other[0] == name[0] && std::strcmp(other, name) == 0) return &group;
      }
      return nullptr;
    }
    auto it = group_index.find(name);
    return it == group_index.end() ? nullptr : &groups[it->second];
  }

  void add_group(xml_node* head) {
    groups.push_back({head, head});
    if (groups.size() <= kLinearGroupLimit) return;
    if (group_index.empty()) {
      for (size_t i = 0; i < groups.size(); ++i) group_index.emplace(groups[i].head->name, i);
    } else {
      group_index.emplace(head->name, groups.size() - 1);
    }
  }
};

class parser {
 public:
  parser(xml_document& doc, char* text, size_t length)
      : doc_(doc),
        start_(text),
        end_(text + length - 1),
        invalid_utf8_(text + utf8_invalid_at(text, length)) {
    last_was_gt_ = *end_ == '>';
    *end_ = '\0';
  }

  void run() {
    index_lines();
    // Text that is not well-formed UTF-8 is not a well-formed document.
    if (invalid_utf8_ <= end_) {
      fail(invalid_utf8_, "invalid UTF-8");
      return;
    }
    stack_.reserve(8);
    char* s = std::strchr(start_, '<');
    while (s) {
      s = markup(s);
      if (!s) break;
      char* lt = std::strchr(s, '<');
      if (!lt) break;  // text that runs to the end is dropped
      if (depth_ > 0 && lt > s) {
        *lt = '\0';
        if (!append_text(s, static_cast<size_t>(lt - s), '&')) break;
      }
      s = lt;
    }
    finish();
  }

 private:
  bool failed() const { return doc_.error[0] != '\0'; }

  __attribute__((format(printf, 3, 4))) char* fail(const char* at, const char* format, ...) {
    if (failed()) return nullptr;
    // The prefix is at most 33 characters; the message is cut to fit.
    int prefix =
        std::snprintf(doc_.error, sizeof doc_.error, "[error near line %d]: ", line_of(at));
    va_list args;
    va_start(args, format);
    std::vsnprintf(doc_.error + prefix, sizeof doc_.error - prefix, format, args);
    va_end(args);
    return nullptr;
  }

  // Line feeds are indexed before the text is changed, so line numbers stay
  // right however the text is cut up later.
  void index_lines() {
    line_feeds_.reserve(32);
    for (const char* p = start_; p < end_; ++p) {
      if (*p == '\n') line_feeds_.push_back(static_cast<size_t>(p - start_));
    }
  }

  int line_of(const char* at) const {
    size_t offset = static_cast<size_t>(
        std::clamp(at, static_cast<const char*>(start_), static_cast<const char*>(end_)) - start_);
    size_t before = static_cast<size_t>(
        std::lower_bound(line_feeds_.begin(), line_feeds_.end(), offset) - line_feeds_.begin());
    return static_cast<int>(std::min<size_t>(before + 1, INT32_MAX));
  }

  // '>' at p, or p is the end of an input whose last byte was '>'.
  bool is_gt(const char* p) const { return *p == '>' || (p == end_ && last_was_gt_); }
  char* after(char* p) const { return p < end_ ? p + 1 : end_; }

  // Finds pattern (which ends in '>') in s, also when its '>' was the
  // input's last byte.
  char* find_close(char* s, const char* pattern) const {
    char* found = std::strstr(s, pattern);
    if (found || !last_was_gt_) return found;
    size_t length = std::strlen(s);
    size_t prefix = std::strlen(pattern) - 1;
    if (s + length != end_ || length < prefix) return nullptr;
    return std::memcmp(end_ - prefix, pattern, prefix) == 0 ? end_ - prefix : nullptr;
  }

  // Handles the markup that starts at lt; returns the position after it.
  char* markup(char* lt) {
    const char* m = lt + 1;
    if (is_name_start(*m)) return open_tag(lt);
    if (*m == '/') return close_tag(lt);
    if (starts_with(m, "!--")) return comment(lt);
    if (starts_with(m, "![CDATA[")) return cdata(lt);
    if (starts_with(m, "!DOCTYPE")) return doctype(lt);
    if (*m == '?') return instruction(lt);
    return fail(lt, "unexpected <");
  }

  // ---- elements ----

  char* open_tag(char* lt) {
    if (root_closed_) return fail(lt, "markup outside of root element");
    char* name = lt + 1;
    char* s = name;
    while (*s && !is_space(*s) && *s != '/' && *s != '>') ++s;
    std::string_view element(name, static_cast<size_t>(s - name));
    // Terminators are written once the whole tag is read, since the end of
    // a name may be the '/' or '>' still to be examined.
    cut_points_.assign(1, s);
    attributes_.clear();
    attribute_flags_.clear();
    for (;;) {
      s = skip_space(s);
      if (*s == '/' || *s == '>' || *s == '\0') break;
      s = attribute(s, element);
      if (!s) return nullptr;
    }
    bool empty = *s == '/';
    char* gt = empty ? s + 1 : s;
    if (!is_gt(gt)) return fail(s, "missing >");
    char* next = after(gt);
    for (char* cut : cut_points_) *cut = '\0';
    xml_node* node = add_element(name);
    if (!empty) push(node);
    return next;
  }

  char* attribute(char* s, std::string_view element) {
    char* name = s;
    while (*s && !is_space(*s) && *s != '=' && *s != '/' && *s != '>') ++s;
    cut_points_.push_back(s);
    std::string_view attribute_name(name, static_cast<size_t>(s - name));
    char* value = empty_text;
    bool allocated = false;
    s = skip_space(s);
    if (*s == '=') {
      s = skip_space(s + 1);
      if (*s == '"' || *s == '\'') {
        char quote = *s;
        char* close = std::strchr(s + 1, quote);
        if (!close) return fail(s, "missing %c", quote);
        *close = '\0';
        decoded_text d;
        size_t length = static_cast<size_t>(close - s - 1);
        if (!decode(s + 1, length, attribute_kind(element, attribute_name), s, d)) return nullptr;
        value = d.text;
        allocated = d.allocated;
        s = close + 1;
      }
    }
    attributes_.push_back(name);
    attributes_.push_back(value);
    attribute_flags_.push_back(allocated ? '1' : '0');
    return s;
  }

  char attribute_kind(std::string_view element, std::string_view attribute) const {
    if (doc_.attlists.empty()) return ' ';
    auto declared = doc_.attlists.find(element);
    if (declared == doc_.attlists.end()) return ' ';
    auto found = declared->second.find(attribute);
    return found == declared->second.end() ? ' ' : found->second.kind;
  }

  char** attribute_list() {
    if (attributes_.empty()) return empty_attributes;
    size_t count = attributes_.size();
    auto list = static_cast<char**>(doc_.memory.allocate((count + 2) * sizeof(char*)));
    std::copy(attributes_.begin(), attributes_.end(), list);
    list[count] = nullptr;
    list[count + 1] = doc_.memory.copy(attribute_flags_.data(), attribute_flags_.size());
    return list;
  }

  xml_node* add_element(char* name) {
    xml_node* node;
    if (depth_ == 0) {
      node = &doc_;  // the first element becomes the document element
    } else {
      node = new (doc_.memory.allocate(sizeof(xml_node))) xml_node{};
      node->text = empty_text;
    }
    node->name = name;
    node->attributes = attribute_list();
    if (node != &doc_) {
      link_child(stack_[depth_ - 1], node);
      group_child(stack_[depth_ - 1], node);
    }
    return node;
  }

  void link_child(open_element& parent, xml_node* node) {
    node->parent = parent.node;
    node->offset = parent.text_length;
    if (parent.last_child) {
      parent.last_child->ordered = node;
    } else {
      parent.node->child = node;
    }
    parent.last_child = node;
  }

  void group_child(open_element& parent, xml_node* node) {
    child_group* group = parent.find_group(node->name);
    if (group) {
      group->tail->next = node;
      group->tail = node;
      return;
    }
    if (!parent.groups.empty()) parent.groups.back().head->sibling = node;
    parent.add_group(node);
  }

  void push(xml_node* node) {
    if (depth_ == stack_.size()) {
      stack_.emplace_back();
      stack_.back().groups.reserve(kLinearGroupLimit);
    }
    stack_[depth_++].reset(node);
  }

  void close_element() {
    finish_text(stack_[--depth_]);
    if (depth_ == 0) root_closed_ = true;
  }

  void finish_text(open_element& element) {
    if (!element.joining) return;
    element.node->text = doc_.memory.copy(element.joined.data(), element.joined.size());
    element.node->flags |= xml_text_allocated;
    element.joining = false;
  }

  char* close_tag(char* lt) {
    char* name = lt + 2;
    char* s = name;
    while (*s && !is_space(*s) && *s != '>') ++s;
    char* gt = skip_space(s);
    bool closed = is_gt(gt);
    *s = '\0';
    if (depth_ == 0 || std::strcmp(stack_[depth_ - 1].node->name, name) != 0) {
      return fail(lt, "unexpected closing tag </%s>", name);
    }
    if (!closed) return fail(gt, "missing >");
    close_element();
    return after(gt);
  }

  // ---- text ----

  bool append_text(char* s, size_t length, char mode) {
    decoded_text d;
    if (!decode(s, length, mode, s, d)) return false;
    if (d.length == 0) return true;
    open_element& element = stack_[depth_ - 1];
    if (element.text_length == 0) {
      element.node->text = d.text;
      if (d.allocated) element.node->flags |= xml_text_allocated;
    } else {
      if (!element.joining) {
        element.joined.assign(element.node->text, element.text_length);
        element.joining = true;
      }
      element.joined.append(d.text, d.length);
    }
    element.text_length += d.length;
    return true;
  }

  // Decodes the text s (length bytes, NUL-terminated) in one of the modes: '&' character
  // content, ' ' CDATA-kind attribute, '*' normalised attribute, '%' entity
  // value, 'c' CDATA section. `at` is where errors are reported.
  bool decode(char* s, size_t length, char mode, const char* at, decoded_text& out) {
    length = normalize_line_ends(s, length);
    out = {s, length, false};
    if (mode == 'c' || !needs_scan(s, length, mode)) return true;
    return expand(s, length, mode, at, out);
  }

  static bool needs_scan(char* s, size_t length, char mode) {
    switch (mode) {
      case '&':
        return find_char(s, length, '&') != nullptr;
      case '%':
        return std::strpbrk(s, "&%") != nullptr;
      case ' ':
        return std::strpbrk(s, "&\t\n") != nullptr;
      default:
        return true;
    }
  }

  bool expand(char* s, size_t length, char mode, const char* at, decoded_text& out) {
    expander x(s, length);
    const bool attribute = mode == ' ' || mode == '*';
    const char mark = mode == '%' ? '%' : '&';
    const entity_map& names = mode == '%' ? parameters_ : doc_.entities;
    while (!x.done()) {
      const char* p = x.input();
      if (p[0] == '&' && p[1] == '#') {
        uint32_t code;
        size_t used = parse_char_ref(p, code);
        if (used) {
          x.skip(used);
          x.put_code(code);
          continue;
        }
      } else if (p[0] == mark) {
        std::string_view name = reference_name(p + 1);
        char c = mode == '%' || name.empty() ? 0 : predefined_entity(name);
        if (c) {
          x.skip(name.size() + 2);
          x.put(c);
          continue;
        }
        auto found = name.empty() ? names.end() : names.find(name);
        if (found != names.end()) {
          std::string_view value = found->second.value;
          x.skip(name.size() + 2);
          doc_.expanded += value.size();
          if (doc_.expanded > kExpansionLimit) {
            fail(at, "entity expansion too large");
            return false;
          }
          x.insert(value.data(), value.size());
          continue;
        }
      }
      char c = x.take();
      x.put(attribute && is_space(c) ? ' ' : c);
    }
    std::unique_ptr<char[]> owned;
    out.text = x.finish(out.length, owned);
    out.allocated = owned != nullptr;
    if (owned) doc_.decoded.push_back(std::move(owned));
    if (mode == '*') out.length = collapse_blanks(out.text, out.length);
    return true;
  }

  // ---- other markup ----

  char* comment(char* lt) {
    char* dashes = std::strstr(lt + 4, "--");
    if (!dashes || !is_gt(dashes + 2)) return fail(lt, "unclosed <!--");
    return after(dashes + 2);
  }

  char* cdata(char* lt) {
    char* s = lt + 9;
    char* close = find_close(s, "]]>");
    if (!close) return fail(lt, "unclosed <![CDATA[");
    char* next = after(close + 2);
    *close = '\0';
    if (depth_ > 0 && !append_text(s, static_cast<size_t>(close - s), 'c')) return nullptr;
    return next;
  }

  char* instruction(char* lt) {
    char* s = lt + 2;
    char* close = find_close(s, "?>");
    if (!close) return fail(lt, "unclosed <?");
    char* next = after(close + 1);
    *close = '\0';
    char* target = s;
    while (*s && !is_space(*s)) ++s;
    char* text = s;
    if (*s) {
      *s = '\0';
      text = skip_space(s + 1);
    }
    if (std::strcmp(target, "xml") != 0) {
      doc_.instructions.push_back({target, text, doc_.name == nullptr});
    } else if (declares_standalone(text)) {
      doc_.standalone = true;
    }
    return next;
  }

  static bool declares_standalone(char* text) {
    char* p = std::strstr(text, "standalone");
    if (!p) return false;
    p = skip_space(p + 10);
    if (*p != '=') return false;
    p = skip_space(p + 1);
    char quote = *p;
    if (quote != '"' && quote != '\'') return false;
    return std::strncmp(p + 1, "yes", 3) == 0 && p[4] == quote;
  }

  // ---- DOCTYPE and its internal subset ----

  char* doctype(char* lt) {
    doctype_ = lt;
    char* s = lt + 9;
    for (;;) {
      if (is_gt(s)) return after(s);
      char c = *s;
      if (c == '\0') return fail(lt, "unclosed <!DOCTYPE");
      if (c == '"' || c == '\'') {
        char* close = std::strchr(s + 1, c);
        if (!close) return fail(lt, "unclosed <!DOCTYPE");
        s = close + 1;
      } else if (c == '[') {
        s = internal_subset(s + 1);
        if (!s) return nullptr;
      } else {
        ++s;
      }
    }
  }

  char* internal_subset(char* s) {
    // After an unread parameter-entity reference the declarations that
    // follow may depend on it, so they are only stepped over.
    bool processing = true;
    for (;;) {
      s = skip_space(s);
      char* next;
      if (*s == '\0') return fail(doctype_, "unclosed <!DOCTYPE");
      if (*s == ']') {
        parameters_.clear();
        return s + 1;
      }
      if (starts_with(s, "<!ENTITY") && is_space(s[8])) {
        next = processing ? entity_declaration(s) : skip_declaration(s);
      } else if (starts_with(s, "<!ATTLIST") && is_space(s[9])) {
        next = processing ? attlist_declaration(s) : skip_declaration(s);
      } else if (starts_with(s, "<!--")) {
        next = comment(s);
      } else if (starts_with(s, "<?")) {
        next = instruction(s);
      } else if (starts_with(s, "<!")) {
        next = skip_declaration(s);
      } else {
        if (*s == '%' && !doc_.standalone) processing = false;
        next = s + 1;
      }
      if (!next) return nullptr;
      s = next;
    }
  }

  // Steps over a declaration to its '>', minding quoted strings.
  char* skip_declaration(char* s) {
    for (++s;; ++s) {
      if (*s == '>') return s + 1;
      if (*s == '\0') return fail(doctype_, "unclosed <!DOCTYPE");
      if (*s == '"' || *s == '\'') {
        char* close = std::strchr(s + 1, *s);
        if (!close) return fail(doctype_, "unclosed <!DOCTYPE");
        s = close;
      }
    }
  }

  char* entity_declaration(char* s) {
    char* p = skip_space(s + 8);
    bool parameter = p[0] == '%' && is_space(p[1]);
    if (parameter) p = skip_space(p + 1);
    char* name = p;
    while (is_name_char(*p)) ++p;
    std::string_view key(name, static_cast<size_t>(p - name));
    p = skip_space(p);
    if (key.empty() || (*p != '"' && *p != '\'')) return skip_declaration(s);  // external
    char quote = *p;
    char* close = std::strchr(p + 1, quote);
    if (!close) return fail(p, "missing %c", quote);
    *close = '\0';
    decoded_text d;
    if (!decode(p + 1, static_cast<size_t>(close - p - 1), '%', s, d)) return nullptr;
    if (!declare_entity(key, std::string_view(d.text, d.length), parameter, s)) return nullptr;
    return skip_declaration(close);
  }

  bool declare_entity(std::string_view name, std::string_view value, bool parameter,
                      const char* at) {
    // The predefined entities always keep their meaning.
    if (!parameter && predefined_entity(name)) return true;
    entity_map& names = parameter ? parameters_ : doc_.entities;
    if (names.count(name)) return true;  // the first declaration binds
    char mark = parameter ? '%' : '&';
    std::unordered_set<std::string_view>& referenced = referenced_[parameter ? 1 : 0];
    if (refers_to(name, value, mark, names, referenced.count(name) > 0, at)) {
      fail(at, "circular entity declaration &%.*s", static_cast<int>(name.size()), name.data());
      return false;
    }
    for (size_t i = value.find(mark); i != value.npos; i = value.find(mark, i + 1)) {
      std::string_view ref = reference_name(value.data() + i + 1);
      if (!ref.empty()) referenced.insert(ref);
    }
    names.emplace(name, entity{value});
    return true;
  }

  // Whether value refers to name directly or, when deep, through the
  // declared entities it names. A declared entity can only lead back to
  // name if some declared value refers to name, which the caller checks
  // first; that keeps chains of ordinary declarations linear. Walking a
  // value costs as much as expanding it, so it is charged to the same
  // budget (and reported at `at` when that runs out).
  bool refers_to(std::string_view name, std::string_view value, char mark, entity_map& names,
                 bool deep, const char* at) {
    unsigned visit = ++visit_mark_;
    pending_.assign(1, value);
    while (!pending_.empty()) {
      std::string_view text = pending_.back();
      pending_.pop_back();
      for (size_t i = text.find(mark); i != text.npos; i = text.find(mark, i + 1)) {
        std::string_view ref = reference_name(text.data() + i + 1);
        if (ref.empty()) continue;
        if (ref == name) return true;
        if (!deep) continue;
        auto found = names.find(ref);
        if (found != names.end() && found->second.mark != visit) {
          found->second.mark = visit;
          pending_.push_back(found->second.value);
          doc_.expanded += found->second.value.size();
          if (doc_.expanded > kExpansionLimit) {
            fail(at, "entity expansion too large");
            return true;
          }
        }
      }
    }
    return false;
  }

  char* attlist_fail(const char* declaration, const char* p) {
    return fail(declaration, *p ? "malformed <!ATTLIST" : "unclosed <!ATTLIST");
  }

  char* attlist_declaration(char* s) {
    char* p = skip_space(s + 9);
    char* element = p;
    p = skip_word(p);
    if (p == element) return attlist_fail(s, p);
    std::string_view element_name(element, static_cast<size_t>(p - element));
    for (;;) {
      p = skip_space(p);
      if (*p == '>') return p + 1;
      if (*p == '\0') return attlist_fail(s, p);
      char* attribute = p;
      p = skip_word(p);
      if (p == attribute) return attlist_fail(s, p);
      std::string_view attribute_name(attribute, static_cast<size_t>(p - attribute));
      char kind;
      p = attribute_type(skip_space(p), kind);
      if (!p) return attlist_fail(s, "");
      p = skip_space(p);
      if (*p == '#') {
        char* word = p;
        p = skip_word(p);
        if (!is_word(word, p, "#FIXED")) {
          if (kind == '*') declare_attribute(element_name, attribute_name, {nullptr, kind});
          continue;
        }
        p = skip_space(p);
      }
      if (*p != '"' && *p != '\'') return attlist_fail(s, p);
      char* close = std::strchr(p + 1, *p);
      if (!close) return attlist_fail(s, "");
      *close = '\0';
      decoded_text d;
      if (!decode(p + 1, static_cast<size_t>(close - p - 1), kind, s, d)) return nullptr;
      declare_attribute(element_name, attribute_name, {d.text, kind});
      p = close + 1;
    }
  }

  // Reads an attribute type and sets kind; null at the end of the input.
  static char* attribute_type(char* p, char& kind) {
    kind = '*';
    if (*p == '(') return skip_enumeration(p);
    char* word = p;
    p = skip_word(p);
    if (p == word) return *p ? p : nullptr;
    if (is_word(word, p, "CDATA")) kind = ' ';
    if (!is_word(word, p, "NOTATION")) return p;
    p = skip_space(p);
    return *p == '(' ? skip_enumeration(p) : p;
  }

  static char* skip_enumeration(char* p) {
    char* close = std::strchr(p, ')');
    return close ? close + 1 : nullptr;
  }

  void declare_attribute(std::string_view element, std::string_view attribute,
                         attribute_decl decl) {
    doc_.attlists[element].emplace(attribute, decl);
  }

  void finish() {
    if (!failed()) {
      if (depth_ > 0) {
        fail(end_, "unclosed tag <%s>", stack_[depth_ - 1].node->name);
      } else if (!doc_.name) {
        fail(end_, "root tag missing");
      }
    }
    while (depth_ > 0) finish_text(stack_[--depth_]);
  }

  xml_document& doc_;
  char* start_;
  char* end_;                 // the terminator that replaced the input's last byte
  const char* invalid_utf8_;  // the first byte outside a UTF-8 character, or past the end
  bool last_was_gt_;
  std::vector<size_t> line_feeds_;
  std::vector<open_element> stack_;
  size_t depth_ = 0;
  bool root_closed_ = false;
  char* doctype_ = nullptr;
  entity_map parameters_;
  std::unordered_set<std::string_view> referenced_[2];  // general, parameter
  unsigned visit_mark_ = 0;
  std::vector<std::string_view> pending_;
  std::vector<char*> cut_points_;
  std::vector<char*> attributes_;
  std::string attribute_flags_;
};

}  // namespace

xml_node* xml_parse(char* buffer, size_t length) {
  try {
    auto doc = std::make_unique<xml_document>();
    if (!buffer) length = 0;
    char* text = buffer;
    if (length > 0 && (static_cast<unsigned char>(buffer[0]) == 0xFE ||
                       static_cast<unsigned char>(buffer[0]) == 0xFF)) {
      doc->utf8_copy =
          utf16_to_utf8(reinterpret_cast<const unsigned char*>(buffer), length, length);
      text = doc->utf8_copy.get();
    }
    if (length == 0) {
      std::strcpy(doc->error, "[error near line 1]: root tag missing");
    } else {
      parser(*doc, text, length).run();
    }
    return doc.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

xml_node* xml_child(xml_node* node, const char* name) {
  if (!node || !name) return nullptr;
  for (xml_node* child = node->child; child; child = child->sibling) {
    if (std::strcmp(child->name, name) == 0) return child;
  }
  return nullptr;
}

const char* xml_error(const xml_node* node) {
  if (!node) return "";
  while (node->parent) node = node->parent;
  return static_cast<const xml_document*>(node)->error;
}

void xml_free(xml_node* doc) {
  if (!doc || doc->parent) return;
  delete static_cast<xml_document*>(doc);
}
