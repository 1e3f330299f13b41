// Error texts that do not depend on the C library (glibc's wording).
#pragma once

// The text of an errno value, as glibc's strerror gives it on the host.
const char* errno_text(int error);
