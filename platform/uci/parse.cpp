// Readers for config files and delta files. Both use the same word rules:
// single quotes are literal, double quotes and bare text take backslash
// escapes and line continuations, '#' starts a comment, ';' ends a statement.
#include <algorithm>
#include <cstring>

#include "platform/uci/store.h"

namespace uci {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

class Words {
 public:
  explicit Words(std::string_view text, size_t pos = 0) : text_(text), pos_(pos) {}

  size_t pos() const { return pos_; }
  bool failed() const { return !reason_.empty(); }
  const char* reason() const { return reason_.c_str(); }
  bool at_end() const { return pos_ >= text_.size(); }
  // An unquoted, unescaped newline (or the end of the text) ends the line.
  bool at_line_end() const { return at_end() || text_[pos_] == '\n'; }
  char current() const { return at_end() ? '\0' : text_[pos_]; }

  void skip_blanks() {
    while (!at_end() && is_blank(text_[pos_])) ++pos_;
  }
  void skip_to_line_end() {
    size_t nl = text_.find('\n', pos_);
    pos_ = nl == std::string_view::npos ? text_.size() : nl;
  }
  void next_line() {
    skip_to_line_end();
    if (!at_end()) ++pos_;
  }

  // The next argument of a statement; empty at the line end, and for a ';'
  // standing alone (which ends the statement).
  std::string next_arg() {
    skip_blanks();
    std::string word;
    if (current() == ';') {
      ++pos_;
      return word;
    }
    if (!at_line_end()) read_word(word);
    return word;
  }

  // The next word of a command; false at the end of the command: the line
  // end, a ';' standing alone, or a comment.
  bool next_word(std::string& word) {
    skip_blanks();
    word.clear();
    if (at_line_end()) return false;
    if (current() == ';') {
      ++pos_;
      return false;
    }
    if (current() == '#') {
      skip_to_line_end();
      return false;
    }
    read_word(word);
    return !failed();
  }

  ParseError error_here(const char* reason) const {
    ParseError e;
    e.reason = reason;
    size_t end = pos_ < text_.size() ? pos_ : text_.size();
    size_t line_start = 0;
    int line = 1;
    for (size_t i = 0; i < end; ++i) {
      if (text_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    e.line = line;
    // Count the line feed as the reference reader does with its line buffer.
    e.byte = static_cast<int>(end - line_start) + (current() == '\n' ? 1 : 0);
    return e;
  }

 private:
  void fail(const char* reason) {
    if (reason_.empty()) reason_ = reason;
    pos_ = text_.size();
  }

  // Backslash + line end continues the word on the next line.
  bool skip_continuation() {
    if (at_end()) return true;
    if (text_[pos_] == '\n') {
      ++pos_;
      return true;
    }
    if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') {
      pos_ += 2;
      return true;
    }
    return false;
  }

  void read_single_quoted(std::string& word) {
    size_t close = text_.find('\'', pos_);
    if (close == std::string_view::npos) return fail("EOF with unterminated '");
    word.append(text_.substr(pos_, close - pos_));
    pos_ = close + 1;
  }

  void read_double_quoted(std::string& word) {
    while (true) {
      if (at_end()) return fail("EOF with unterminated \"");
      char c = text_[pos_++];
      if (c == '"') return;
      if (c != '\\') {
        word += c;
        continue;
      }
      if (at_end()) return fail("EOF with unterminated \"");
      if (!skip_continuation()) word += text_[pos_++];
    }
  }

  void read_word(std::string& word) {
    size_t start = pos_;
    bool shrunk = false;  // quotes or escapes were removed
    do {
      char c = text_[pos_];
      if (c == '\'') {
        ++pos_;
        shrunk = true;
        read_single_quoted(word);
      } else if (c == '"') {
        ++pos_;
        shrunk = true;
        read_double_quoted(word);
      } else if (c == '#') {
        skip_to_line_end();
        return;
      } else if (c == ';') {
        // Directly after bare text the ';' drops the rest of the line;
        // otherwise it stays and ends the statement.
        if (!shrunk && pos_ - start == word.size()) skip_to_line_end();
        return;
      } else if (c == '\\') {
        ++pos_;
        shrunk = true;
        if (!skip_continuation()) word += text_[pos_++];
      } else {
        word += c;
        ++pos_;
      }
    } while (!at_end() && !is_blank(text_[pos_]) && text_[pos_] != '\n');
    if (!at_end() && is_blank(text_[pos_])) ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string reason_;
};

class ConfigReader {
 public:
  ConfigReader(std::string_view text, Package& pkg) : words_(text), pkg_(&pkg) {}
  // Each `package NAME` statement starts (or continues) the package of that
  // name in packages; the text may hold several.
  ConfigReader(std::string_view text, std::vector<Package>& packages)
      : words_(text), packages_(&packages) {}

  // Reads one statement; false with error set on a parse error.
  bool statement(ParseError& error) {
    words_.skip_blanks();
    if (words_.at_line_end()) return true;
    std::string keyword = words_.next_arg();
    if (words_.failed()) return fail(error, words_.reason());
    if (keyword.empty()) {
      words_.skip_to_line_end();
      return true;
    }
    const char* problem = dispatch(keyword);
    if (!problem && words_.failed()) problem = words_.reason();
    return problem ? fail(error, problem) : true;
  }

  // Runs statements until the end of the text.
  bool run(ParseError& error, bool strict, std::vector<ParseError>* skipped) {
    while (!words_.at_end()) {
      if (!statement(error)) {
        if (strict) return false;
        if (skipped) skipped->push_back(error);
        words_.skip_to_line_end();
      }
      if (words_.at_line_end()) words_.next_line();
    }
    return true;
  }

 private:
  bool fail(ParseError& error, const char* reason) {
    error = words_.error_here(reason);
    return false;
  }

  static bool is(const std::string& word, const char* shortcut, const char* full) {
    return word == shortcut || word == full;
  }

  const char* dispatch(const std::string& keyword) {
    if (is(keyword, "c", "config")) return config();
    if (is(keyword, "o", "option")) return option(false);
    if (is(keyword, "l", "list")) return option(true);
    if (is(keyword, "p", "package")) return package();
    return "invalid command";
  }

  const char* end_of_statement() {
    std::string extra = words_.next_arg();
    if (words_.failed()) return words_.reason();
    return extra.empty() ? nullptr : "too many arguments";
  }

  const char* package() {
    std::string name = words_.next_arg();
    if (words_.failed()) return words_.reason();
    if (name.empty()) return "insufficient arguments";
    if (const char* problem = end_of_statement()) return problem;
    if (!packages_) return nullptr;  // a package file names itself
    if (!valid_package(name)) return "invalid character in name field";
    auto it = std::find_if(packages_->begin(), packages_->end(),
                           [&](const Package& p) { return p.name == name; });
    if (it == packages_->end()) {
      packages_->push_back(Package{});
      packages_->back().name = name;
      it = packages_->end() - 1;
    }
    pkg_ = &*it;
    current_ = npos;
    return nullptr;
  }

  const char* config() {
    std::string type = words_.next_arg();
    if (words_.failed()) return words_.reason();
    if (type.empty()) return "insufficient arguments";
    if (!valid_type(type)) return "invalid character in type field";
    std::string name = words_.next_arg();
    if (words_.failed()) return words_.reason();
    if (!name.empty() && !valid_name(name)) return "invalid character in name field";
    if (const char* problem = end_of_statement()) return problem;
    if (!pkg_) return "config command found before the first package";
    Package& pkg = *pkg_;
    if (name.empty()) {
      std::string generated = anonymous_name(pkg.created + 1, type);
      pkg.create(std::move(generated), std::move(type), true);
      current_ = pkg.sections.size() - 1;
      return nullptr;
    }
    Section* existing = pkg.find(name);
    if (existing && existing->type != type)
      return "section of different type overwrites prior section with same name";
    if (!existing) pkg.create(std::move(name), std::move(type), false);
    current_ =
        existing ? static_cast<size_t>(existing - pkg.sections.data()) : pkg.sections.size() - 1;
    return nullptr;
  }

  const char* option(bool list) {
    if (current_ == npos) return "option/list command found before the first section";
    std::string name = words_.next_arg();
    if (words_.failed()) return words_.reason();
    if (name.empty()) return "insufficient arguments";
    if (!valid_name(name)) return "invalid character in name field";
    std::string value = words_.next_arg();
    if (words_.failed()) return words_.reason();
    if (const char* problem = end_of_statement()) return problem;
    Section& section = pkg_->sections[current_];
    if (list)
      add_list_item(section, name, value);
    else if (!value.empty())  // an empty option line neither creates nor removes
      set_option(section, name, value);
    return nullptr;
  }

  Words words_;
  std::vector<Package>* packages_ = nullptr;
  Package* pkg_ = nullptr;  // the package being read
  size_t current_ = npos;   // index of the section being read
};

// Splits "PREFIX PKG.SEC[.OPT][=VALUE]" into a change; false when malformed.
bool record_to_delta(std::string word, std::string_view package, Delta& d) {
  static const char prefixes[] = "+-@^|~";
  if (!word.empty() && std::strchr(prefixes, word[0])) {
    d.op = static_cast<Op>(word[0]);
    word.erase(0, 1);
  }
  Path path;
  if (parse_path(word, path) != ok || path.extended || !path.has_section) return false;
  if (path.package != package) return false;
  if (!path.has_value && d.op != Op::remove) return false;
  if (d.op == Op::rename && !valid_name(path.value)) return false;
  if ((d.op == Op::reorder || d.op == Op::add) && path.has_option) return false;
  if ((d.op == Op::list_add || d.op == Op::list_del) && !path.has_option) return false;
  d.section = std::move(path.section);
  d.option = std::move(path.option);
  d.has_value = path.has_value;
  d.value = std::move(path.value);
  return true;
}

}  // namespace

bool parse_config(std::string_view text, Package& pkg, ParseError& error, bool strict,
                  std::vector<ParseError>* skipped) {
  ConfigReader reader(text, pkg);
  return reader.run(error, strict, skipped);
}

bool parse_packages(std::string_view text, std::vector<Package>& packages, ParseError& error,
                    bool strict, std::vector<ParseError>* skipped) {
  ConfigReader reader(text, packages);
  return reader.run(error, strict, skipped);
}

bool next_command(std::string_view text, size_t& pos, std::vector<std::string>& words,
                  ParseError& error) {
  Words w(text, pos);
  words.clear();
  w.skip_blanks();
  while (!w.at_end() && w.at_line_end()) {
    w.next_line();
    w.skip_blanks();
  }
  if (w.at_end()) {
    pos = text.size();
    return false;
  }
  std::string word;
  while (w.next_word(word)) words.push_back(std::move(word));
  if (w.failed()) {
    error = w.error_here(w.reason());
    pos = text.size();
    return false;
  }
  if (w.at_line_end()) w.next_line();
  pos = w.pos();
  return true;
}

std::vector<Record> parse_delta(std::string_view text, std::string_view package) {
  std::vector<Record> records;
  Words words(text);
  while (!words.at_end()) {
    words.skip_blanks();
    size_t start = words.pos();
    if (words.at_line_end()) {
      words.next_line();
      continue;
    }
    std::string word = words.next_arg();
    // A record is exactly one word on its line.
    bool one_word = !words.failed() && words.at_line_end();
    words.skip_to_line_end();
    Record r;
    r.raw = text.substr(start, words.pos() - start);
    r.valid = one_word && record_to_delta(std::move(word), package, r.delta);
    records.push_back(std::move(r));
    words.next_line();
  }
  return records;
}

}  // namespace uci
