// XML request reader: a small non-validating DOM parser that works in place
// on a POST body.
//
//   xml_node* doc = xml_parse(body, strlen(body));
//   if (!doc || *xml_error(doc)) { xml_free(doc); ...answer FORMAT ERROR... }
//   xml_node* ip = xml_child(xml_child(doc, "PROTO"), "IP");
//   for (xml_node* e = ip; e; e = e->next) use(e->text);
//   xml_free(doc);
//
// The buffer given to xml_parse is changed while parsing (names and texts
// are cut out of it) and must stay allocated until xml_free.
#pragma once

#include <cstddef>

// Flags of xml_node.
constexpr unsigned xml_text_allocated = 0x40;  // text is owned by the tree
constexpr unsigned xml_name_allocated = 0x80;  // name is owned by the tree

// One element of a parsed document.
struct xml_node {
  // Tag name. Null only in a tree in which no element was found.
  char* name;
  // name0, value0, name1, value1, ..., null, then a text with one character
  // per pair: '1' when that value was allocated by decoding, '0' otherwise.
  char** attributes;
  // Decoded character content (text and CDATA directly inside, joined in
  // document order); "" when there is none, never null.
  char* text;
  // Length of the parent's text that came before this element.
  size_t offset;
  // Next element with the same name under the same parent.
  xml_node* next;
  // Set on the first element of each name: the first element of the next
  // different name under the same parent.
  xml_node* sibling;
  // Next element under the same parent in document order.
  xml_node* ordered;
  // First child element in document order.
  xml_node* child;
  // Enclosing element; null for the document element.
  xml_node* parent;
  unsigned flags;
};

// Parses length bytes of buffer in place and returns the document element.
// A malformed document still gives a (possibly partial) tree whose
// xml_error text is not empty. Null only when memory ran out. Input that
// starts with 0xFE or 0xFF is read as UTF-16 with a byte-order mark; any
// other input must be well-formed UTF-8, else nothing of it is parsed and
// the error is "invalid UTF-8".
xml_node* xml_parse(char* buffer, size_t length);

// First child of node named exactly name (case-sensitive); null when there
// is none or node is null.
xml_node* xml_child(xml_node* node, const char* name);

// Error text of the tree node belongs to, "[error near line N]: message";
// "" when the parse succeeded or node is null.
const char* xml_error(const xml_node* node);

// Frees the whole tree (not the parsed buffer). Takes the document element
// returned by xml_parse; null and any other element are ignored.
void xml_free(xml_node* doc);
