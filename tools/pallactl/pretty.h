// A growable byte buffer and the XML indenter of pallactl. Plain C library
// only: no C++ runtime is linked into the tool.
#pragma once

#include <stddef.h>

class Buffer {
 public:
  Buffer() = default;
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // False when memory runs out; the buffer then keeps what it had.
  bool append(const char* data, size_t len);
  bool append_str(const char* text);
  bool append_repeated(char c, size_t count);
  const char* data() const { return data_ ? data_ : ""; }
  size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// True when the first character other than white space is '<'.
bool looks_like_xml(const char* text, size_t len);

// Writes the document with one element per line, indented by two blanks per
// level. An element holding only text stays on one line. Text and tags are
// copied unchanged, so nothing of the document is lost but white space
// between elements.
bool pretty_print_xml(const char* text, size_t len, Buffer& out);
