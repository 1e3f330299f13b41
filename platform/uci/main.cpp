// The `uci` program: the command-line tool around uci::cli.
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/uci/uci.h"

namespace {

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  std::string out, err;
  auto flush = [](std::string& out_text, std::string& err_text) {
    write_all(STDOUT_FILENO, out_text);
    write_all(STDERR_FILENO, err_text);
    out_text.clear();
    err_text.clear();
  };
  int status = uci::cli(args, out, err, flush);
  flush(out, err);
  return status;
}
