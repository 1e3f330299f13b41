/* libstdc++'s os_defines.h tests the glibc version it was built for; the C++
   library is Debian's, built against glibc 2.36, so every test holds. */
#include_next <features.h>
#ifndef PALLAD_SHIM_FEATURES_H
#define PALLAD_SHIM_FEATURES_H
#define __GLIBC_PREREQ(major, minor) 1
#endif
