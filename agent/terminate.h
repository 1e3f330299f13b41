// What the target's agent does when std::terminate is called (an exception
// nothing caught, say): one short line on standard error, then abort, which
// ends only the worker; the supervisor starts the next one.
#pragma once

// Prints "terminate called", with the text of the exception being handled
// when there is one, and aborts.
[[noreturn]] void terse_terminate() noexcept;
