// Helpers every service shares: the parsed request body, its child texts,
// the document declaration.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "xml/xml.h"

// Opens every reply document.
inline constexpr const char* xml_declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Owns the tree parsed from a request body and frees it when it goes.
class parsed_body {
 public:
  parsed_body(char* body, size_t length) : root_(xml_parse(body, length)) {}
  ~parsed_body() { xml_free(root_); }
  parsed_body(const parsed_body&) = delete;
  parsed_body& operator=(const parsed_body&) = delete;
  // False when the body is not a well-formed document.
  bool ok() const { return root_ && !*xml_error(root_); }
  xml_node* root() const { return root_; }

 private:
  xml_node* root_;
};

// Text of the first child called name, or null when there is none.
inline const char* child_text(xml_node* parent, const char* name) {
  xml_node* child = xml_child(parent, name);
  return child ? child->text : nullptr;
}

// True when an element text (null when the element is missing) is exactly
// the expected text.
inline bool is_text(const char* text, const char* expected) {
  return text && std::strcmp(text, expected) == 0;
}

// A non-empty dotted-quad IPv4 address.
inline bool valid_address(const char* text) {
  return text && *text && ipv4_valid(text) == 1;
}

// POST sub-paths select a handler when they are a leading part of its name
// ("/la" and "/" both mean "/lan"); length is the sub-path's own length.
inline bool leading_part_of(const char* sub_path, size_t length, const char* name) {
  return length <= std::strlen(name) && std::strncmp(sub_path, name, length) == 0;
}

// True when the text of every element below node can be staged as a store
// value (see cfg_value_stageable).
inline bool all_texts_stageable(xml_node* node) {
  for (xml_node* child = node ? node->child : nullptr; child; child = child->ordered) {
    if (!cfg_value_stageable(child->text) || !all_texts_stageable(child)) return false;
  }
  return true;
}

// A store value cut to at most size - 1 bytes, as a fixed-size read takes
// it, without splitting a UTF-8 character.
inline std::string cfg_get_cut(const std::string& path, size_t size) {
  return utf8_cut(cfg_get(path), size - 1);
}

// A stored value as reply text: read as the store holds it now, cut as
// cfg_get_cut does when a size is given, and escaped.
inline std::string stored_text(const std::string& path, size_t size = 0) {
  return xml_escape(size > 0 ? cfg_get_cut(path, size) : cfg_get(path));
}

// True when the store can take every given text as it is (null texts, the
// elements a request left out, are skipped). Checked before the first store
// change, so a value the store would refuse fails the whole request instead
// of being dropped while the rest is answered "OK".
inline bool all_stageable(std::initializer_list<const char*> texts) {
  for (const char* text : texts)
    if (text && !cfg_value_stageable(text)) return false;
  return true;
}

// Refuses a POST sub-path that no handler takes with code 1, printing it up
// to the end of the request line (it runs on into the body) as the trace of
// the refusal.
inline int refuse_sub_path(int fd, const char* sub_path, const char* body) {
  std::printf("%.*s\n", static_cast<int>(body - sub_path), sub_path);
  return reply_code(fd, NO_SERVICE);
}

// The lines of a text without their line feeds; a last line without one
// counts, an empty text has none.
inline std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}
