/* Symbols Debian's libstdc++.a and libgcc, built against glibc, need from the
   C library, for the static musl link (cmake/target/cc adds this library to
   every program). */
#include <locale.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>

/* libstdc++ skips atomic reference counts when this says the process has one
   thread. 0 keeps them atomic, which is always right. */
char __libc_single_threaded = 0;

/* The unwinder asks glibc's loader for a code address's frame tables first;
   -1 sends it to the tables crtbeginT.o registered, which in a static program
   cover everything. */
int _dl_find_object(void *address, void *result) {
  (void)address;
  (void)result;
  return -1;
}

/* Destructors of thread_local objects, run when their thread ends (the C++
   library falls back on this for threads; a pthread key runs them). */
struct thread_dtor {
  void (*dtor)(void *);
  void *object;
  struct thread_dtor *next;
};
static pthread_key_t dtor_key;
static pthread_once_t dtor_once = PTHREAD_ONCE_INIT;

static void run_thread_dtors(void *list) {
  struct thread_dtor *d = list;
  while (d) {
    struct thread_dtor *next = d->next;
    d->dtor(d->object);
    free(d);
    d = next;
  }
}

static void make_dtor_key(void) {
  pthread_key_create(&dtor_key, run_thread_dtors);
}

int __cxa_thread_atexit_impl(void (*dtor)(void *), void *object, void *dso) {
  (void)dso;
  pthread_once(&dtor_once, make_dtor_key);
  struct thread_dtor *d = malloc(sizeof *d);
  if (!d) return -1;
  d->dtor = dtor;
  d->object = object;
  d->next = pthread_getspecific(dtor_key);
  return pthread_setspecific(dtor_key, d);
}

/* std::random_device draws from arc4random, which glibc has and musl 1.2.3
   lacks. */
uint32_t arc4random(void) {
  uint32_t value = 0;
  while (getrandom(&value, sizeof value, 0) != sizeof value) {
  }
  return value;
}

/* libstdc++'s locale code reads fields of glibc's locale object (character
   class and case tables 52 bytes in); musl's object is only its 6 category
   pointers. Every locale libstdc++ gets is therefore a glibc-shaped object
   that begins with musl's, which musl's own functions keep reading. The
   program is linked with --wrap for the three functions. */
struct musl_locale { /* musl 1.2's struct __locale_struct, internal to it */
  const void *cat[6];
};
struct glibc_locale {
  struct musl_locale musl;
  char unused[52 - sizeof(struct musl_locale)];
  const unsigned short *ctype_b;
  const int32_t *ctype_tolower;
  const int32_t *ctype_toupper;
  const char *names[13];
};

locale_t __real___newlocale(int mask, const char *name, locale_t base);
locale_t __real___duplocale(locale_t old);
void __real___freelocale(locale_t old);
const unsigned short **__ctype_b_loc(void);
const int32_t **__ctype_tolower_loc(void);
const int32_t **__ctype_toupper_loc(void);

/* A glibc-shaped copy of musl's locale object. */
static locale_t shaped(locale_t musl) {
  struct glibc_locale *l = calloc(1, sizeof *l);
  if (!l) return 0;
  l->musl = *(const struct musl_locale *)musl;
  l->ctype_b = *__ctype_b_loc();
  l->ctype_tolower = *__ctype_tolower_loc();
  l->ctype_toupper = *__ctype_toupper_loc();
  for (int i = 0; i < 13; ++i) l->names[i] = "C";
  return (locale_t)l;
}

/* musl hands out its built-in locales unallocated; those are not freed. */
static int builtin(locale_t l) {
  return l == __real___newlocale(LC_ALL_MASK, "C", 0) ||
         l == __real___newlocale(LC_ALL_MASK, "C.UTF-8", 0);
}

locale_t __wrap___newlocale(int mask, const char *name, locale_t base) {
  /* A base of ours is allocated memory, which musl changes in place. */
  if (base) return __real___newlocale(mask, name, base);
  locale_t musl = __real___newlocale(mask, name, 0);
  if (!musl) return 0;
  locale_t copy = shaped(musl);
  if (!builtin(musl)) __real___freelocale(musl);
  return copy;
}

locale_t __wrap___duplocale(locale_t old) {
  locale_t musl = __real___duplocale(old);
  if (!musl) return 0;
  locale_t copy = shaped(musl);
  __real___freelocale(musl);
  return copy;
}

void __wrap___freelocale(locale_t old) {
  free(old);
}
