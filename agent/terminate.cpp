#include "agent/terminate.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

void terse_terminate() noexcept {
  const char* what = nullptr;
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
  }
  if (what)
    std::fprintf(stderr, "terminate called: %s\n", what);
  else
    std::fputs("terminate called\n", stderr);
  std::abort();
}

// The C++ library's initial handler. Where the library is linked statically
// (the target's agent), this definition stands in for the library's own, so
// its verbose handler and the demangler that handler brings are left out of
// the program. Nothing here calls std::set_terminate: that function refers to
// the verbose handler (its default) and would bring both back. Where the
// library is shared (the PC build), the library's own handler stays.
namespace __cxxabiv1 {
std::terminate_handler __terminate_handler = terse_terminate;
}  // namespace __cxxabiv1
