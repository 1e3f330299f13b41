// Services that are not built yet answer code 2 "NOT SUPPORT SERVICE". Each
// service removes its pair from here when its own unit lands.
#include "agent/server.h"
#include "agent/services.h"

#define PLACEHOLDER_GET(name)                    \
  int name##_get(int fd, char*, size_t, char*) { \
    return reply_code(fd, NOT_SUPPORT_SERVICE);  \
  }
#define PLACEHOLDER_POST(name)                    \
  int name##_post(int fd, char*, size_t, char*) { \
    return reply_code(fd, NOT_SUPPORT_SERVICE);   \
  }
#define PLACEHOLDER(name) PLACEHOLDER_GET(name) PLACEHOLDER_POST(name)

