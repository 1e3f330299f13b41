/* libstdc++'s locale model names the locale type by glibc's internal name. */
#include_next <locale.h>
#ifndef PALLAD_SHIM_LOCALE_H
#define PALLAD_SHIM_LOCALE_H
typedef locale_t __locale_t;
#endif
