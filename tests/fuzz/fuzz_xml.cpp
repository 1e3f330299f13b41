// Feeds arbitrary bodies to the XML reader and walks every tree it returns,
// reading each name, text and attribute so stray pointers show up.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "xml/xml.h"

namespace {

size_t touch(const char* text) {
  return text ? std::strlen(text) : 0;
}

void walk(xml_node* root) {
  size_t sum = touch(xml_error(root));
  // Iterative pre-order walk through child, ordered and parent links.
  xml_node* node = root;
  while (node) {
    sum += touch(node->name) + touch(node->text);
    char** a = node->attributes;
    for (; *a; a += 2) sum += touch(a[0]) + touch(a[1]);
    sum += touch(a[1]);
    if (node->child) {
      xml_node* first = node->child;
      if (xml_child(node, first->name) != first || first->parent != node) std::abort();
      for (xml_node* same = first->next; same; same = same->next) {
        if (std::strcmp(same->name, first->name) != 0) std::abort();
      }
    }
    if (node->child) {
      node = node->child;
      continue;
    }
    while (node && node != root && !node->ordered) node = node->parent;
    node = (node && node != root) ? node->ordered : nullptr;
  }
  if (sum == SIZE_MAX) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
  std::memcpy(buffer.get(), data, size);
  xml_node* doc = xml_parse(buffer.get(), size);
  walk(doc);
  xml_free(doc);
  return 0;
}
