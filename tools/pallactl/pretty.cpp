#include "tools/pallactl/pretty.h"

#include <stdlib.h>
#include <string.h>

Buffer::~Buffer() {
  free(data_);
}

bool Buffer::append(const char* data, size_t len) {
  if (len > capacity_ - size_) {
    size_t wanted = capacity_ ? capacity_ : 4096;
    while (wanted - size_ < len) {
      if (wanted > static_cast<size_t>(-1) / 2) return false;
      wanted *= 2;
    }
    char* grown = static_cast<char*>(realloc(data_, wanted));
    if (!grown) return false;
    data_ = grown;
    capacity_ = wanted;
  }
  if (len) memcpy(data_ + size_, data, len);
  size_ += len;
  return true;
}

bool Buffer::append_str(const char* text) {
  return append(text, strlen(text));
}

bool Buffer::append_repeated(char c, size_t count) {
  char chunk[64];
  memset(chunk, c, sizeof chunk);
  while (count > 0) {
    size_t n = count < sizeof chunk ? count : sizeof chunk;
    if (!append(chunk, n)) return false;
    count -= n;
  }
  return true;
}

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool looks_like_xml_impl(const char* text, size_t len) {
  size_t i = 0;
  while (i < len && is_space(text[i])) ++i;
  return i < len && text[i] == '<';
}

enum Kind { kNone, kText, kDeclaration, kOpen, kClose, kSelfClosing };

struct Token {
  Kind kind = kNone;
  size_t start = 0;
  size_t len = 0;
};

// The token at pos: a tag from '<' to its '>' (quoted attribute values may
// hold '>'), or the text up to the next '<'. An unfinished tag counts as text.
Token token_at(const char* text, size_t len, size_t pos) {
  Token t;
  t.start = pos;
  if (pos >= len) return t;
  if (text[pos] == '<') {
    char quote = 0;
    for (size_t i = pos + 1; i < len; ++i) {
      char c = text[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        t.len = i + 1 - pos;
        const char* tag = text + pos;
        if (tag[1] == '?' || tag[1] == '!') {
          t.kind = kDeclaration;
        } else if (tag[1] == '/') {
          t.kind = kClose;
        } else {
          t.kind = tag[t.len - 2] == '/' ? kSelfClosing : kOpen;
        }
        return t;
      }
    }
    t.kind = kText;
    t.len = len - pos;
    return t;
  }
  const char* next = static_cast<const char*>(memchr(text + pos + 1, '<', len - pos - 1));
  t.kind = kText;
  t.len = (next ? static_cast<size_t>(next - text) : len) - pos;
  return t;
}

bool add_line(Buffer& out, size_t depth, const char* text, size_t len) {
  return out.append_repeated(' ', depth * 2) && out.append(text, len) && out.append("\n", 1);
}

bool add_trimmed_text(Buffer& out, size_t depth, const char* text, size_t len) {
  while (len > 0 && is_space(*text)) ++text, --len;
  while (len > 0 && is_space(text[len - 1])) --len;
  return len == 0 || add_line(out, depth, text, len);
}

}  // namespace

bool looks_like_xml(const char* text, size_t len) {
  return looks_like_xml_impl(text, len);
}

bool pretty_print_xml(const char* text, size_t len, Buffer& out) {
  size_t depth = 0;
  size_t pos = 0;
  while (pos < len) {
    Token t = token_at(text, len, pos);
    pos = t.start + t.len;
    bool ok = true;
    switch (t.kind) {
      case kText:
        ok = add_trimmed_text(out, depth, text + t.start, t.len);
        break;
      case kClose:
        if (depth > 0) --depth;
        ok = add_line(out, depth, text + t.start, t.len);
        break;
      case kOpen: {
        // <A></A> and <A>text</A> stay on one line.
        Token next = token_at(text, len, pos);
        if (next.kind == kText) next = token_at(text, len, next.start + next.len);
        if (next.kind == kClose) {
          pos = next.start + next.len;
          ok = add_line(out, depth, text + t.start, pos - t.start);
        } else {
          ok = add_line(out, depth, text + t.start, t.len);
          ++depth;
        }
        break;
      }
      default:
        ok = add_line(out, depth, text + t.start, t.len);
        break;
    }
    if (!ok) return false;
  }
  return true;
}
