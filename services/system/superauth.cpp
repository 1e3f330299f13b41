// The "superauth" service: checks the super user's name and password. The
// check leaves nothing behind: no token, no rights.
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "services/common/request_body.h"
#include "services/common/secret.h"

namespace {

constexpr int CREDENTIAL_ERROR = 5;

// The child's text, or null when the child is missing or its text empty.
const char* given_text(xml_node* root, const char* name) {
  const char* text = child_text(root, name);
  return text && *text ? text : nullptr;
}

// The stored password in a password buffer; false when it is too long for
// one, so that no request password can match it.
bool stored_secret(char (&out)[secret_size]) {
  std::string stored = cfg_get(std::string("system.@system[0].super_passwd"));
  std::memset(out, 0, sizeof out);
  if (stored.size() > password_limit) return false;
  std::memcpy(out, stored.data(), stored.size());
  return true;
}

}  // namespace

// Nothing is written: the connection closes without a reply.
int superauth_get(int /*fd*/, char* /*sub_path*/, size_t /*sub_path_len*/, char* /*rest*/) {
  return 0;
}

// Only a password text (a non-empty, even run of hex digits without a zero
// byte) is a password, so an empty stored password never lets anybody in.
int superauth_post(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* name = given_text(request.root(), "SUPER_NAME");
  const char* hex = child_text(request.root(), "SUPER_PASSWD");
  if (!name || !hex_password_valid(hex))
    return reply_result(fd, FORMAT_ERROR, "Need name and passwd");
  char given[secret_size];
  if (std::strlen(hex) / 2 > password_limit || !decode_secret(hex, given))
    return reply_code(fd, FORMAT_ERROR);

  if (cfg_get(std::string("system.@system[0].super_name")) != name)
    return reply_result(fd, CREDENTIAL_ERROR, "Invalid name");
  char stored[secret_size];
  bool comparable = stored_secret(stored);
  if (!same_secret(stored, given) || !comparable)
    return reply_result(fd, CREDENTIAL_ERROR, "Invalid passwd");
  return 0;
}
