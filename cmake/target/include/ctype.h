/* libstdc++'s ctype_base.h names glibc's character-class bits. musl's
   __ctype_b_loc table has the same bits (big-endian order: bit n is 1 << n). */
#include_next <ctype.h>
#ifndef PALLAD_SHIM_CTYPE_H
#define PALLAD_SHIM_CTYPE_H
enum {
  _ISupper = 1 << 0,
  _ISlower = 1 << 1,
  _ISalpha = 1 << 2,
  _ISdigit = 1 << 3,
  _ISxdigit = 1 << 4,
  _ISspace = 1 << 5,
  _ISprint = 1 << 6,
  _ISgraph = 1 << 7,
  _ISblank = 1 << 8,
  _IScntrl = 1 << 9,
  _ISpunct = 1 << 10,
  _ISalnum = 1 << 11
};
#endif
