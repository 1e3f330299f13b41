#include "agent/factory.h"

#include "agent/server.h"

// Until the production-line interface lands, factory queries are answered as
// an unsupported service.
int factory_request(int fd, char*) {
  return reply_code(fd, NOT_SUPPORT_SERVICE);
}
