#include "services/system/login.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/config.h"
#include "agent/server.h"
#include "agent/services.h"
#include "agent/startup.h"
#include "agent/worker_state.h"
#include "platform/effects.h"
#include "platform/paths.h"
#include "services/common/request_body.h"
#include "services/common/secret.h"
#include "services/common/uci_command.h"

key_t login_token_key = token_block_key;

namespace {

constexpr int CREDENTIAL_ERROR = 5;
constexpr size_t token_random_bytes = token_hex_digits / 2;
constexpr size_t slot_size = token_slot_size;
constexpr size_t time_offset = token_time_offset;

struct account {
  const char* name;
  const char* password_option;
  size_t slot;
};

constexpr account accounts[] = {
    {"root", "system.@system[0].root_passwd", 0},
    {"admin", "system.@system[0].passwd", 1},
};

const account* find_account(const char* name) {
  for (const account& candidate : accounts)
    if (std::strcmp(candidate.name, name) == 0) return &candidate;
  return nullptr;
}

// The child's text, or null when the child is missing or its text empty.
const char* given_text(const parsed_body& request, const char* child) {
  const char* text = child_text(request.root(), child);
  return text && *text ? text : nullptr;
}

// A password element as a password text, or null when it counts as missing.
const char* given_password(const parsed_body& request, const char* child) {
  const char* hex = child_text(request.root(), child);
  return hex_password_valid(hex) ? hex : nullptr;
}

void read_secret(const char* option, char (&out)[secret_size]) {
  std::memset(out, 0, sizeof out);
  cfg_get(option, out, sizeof out);
  size_t length = std::strlen(out);
  std::memset(out + length, 0, sizeof out - length);
}

// An empty or absent stored password never matches.
bool password_matches(const account& user, const char (&given)[secret_size]) {
  char stored[secret_size];
  read_secret(user.password_option, stored);
  return stored[0] != '\0' && same_secret(stored, given);
}

bool option_set(const char* option) {
  char value[32];
  cfg_get(option, value, sizeof value);
  return value[0] != '\0';
}

// "2" for an admin while a separate root account is configured, else "1".
char right_after_login(const account& user) {
  if (std::strcmp(user.name, "admin") != 0) return '1';
  bool root_configured =
      option_set("system.@system[0].root_user_name") && option_set("system.@system[0].root_passwd");
  return root_configured ? '2' : '1';
}

// Reads /dev/urandom, or getrandom(2) when the device file cannot be read;
// false when neither gives randomness (a token is never made without it).
bool token_randomness(unsigned char (&bytes)[token_random_bytes]) {
  std::string data;
  if (fx().read_file(paths::urandom, data, sizeof bytes) && data.size() == sizeof bytes) {
    std::memcpy(bytes, data.data(), sizeof bytes);
    return true;
  }
  return fx().random_bytes(bytes, sizeof bytes);
}

// "root" or "admin" followed by the token's hex digits.
void format_slot(const char* name, const unsigned char (&random)[token_random_bytes],
                 char (&slot)[slot_size]) {
  size_t used = static_cast<size_t>(snprintf(slot, sizeof slot, "%s", name));
  for (unsigned char byte : random) {
    snprintf(slot + used, sizeof slot - used, "%02x", byte);
    used += 2;
  }
}

void store_token(unsigned char* block, const account& user, const char (&slot)[slot_size]) {
  std::memcpy(block + user.slot * slot_size, slot, std::strlen(slot) + 1);
  auto login_time = static_cast<int32_t>(fx().now());
  std::memcpy(block + time_offset, &login_time, sizeof login_time);  // host byte order
}

}  // namespace

int issue_token(const char* name, int fd) {
  const account* user = find_account(name);
  if (!user) return reply_result(fd, CREDENTIAL_ERROR, "Invalid name");
  unsigned char random[token_random_bytes] = {};
  if (!token_randomness(random)) return reply_result(fd, CREDENTIAL_ERROR, "No token available");
  void* block = shm_attach(login_token_key);
  if (!block) return reply_result(fd, CREDENTIAL_ERROR, "Token store unavailable");
  char slot[slot_size] = {};
  format_slot(user->name, random, slot);
  store_token(static_cast<unsigned char*>(block), *user, slot);
  shm_detach(block);
  reply_result(fd, RESULT_OK, slot);
  return 0;
}

int handle_login(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  const char* name = given_text(request, "USER_NAME");
  const char* password = given_password(request, "PASSWD");
  if (!name || !password) return reply_result(fd, FORMAT_ERROR, "Need name and passwd");
  const account* user = find_account(name);
  if (!user) return reply_result(fd, CREDENTIAL_ERROR, "Invalid name");
  char given[secret_size];
  if (!decode_secret(password, given)) return reply_code(fd, FORMAT_ERROR);
  if (!password_matches(*user, given)) return reply_result(fd, CREDENTIAL_ERROR, "Invalid passwd");

  char right = right_after_login(*user);
  int failure = issue_token(user->name, fd);
  if (failure) return failure;
  worker().user_right[0] = right;
  worker().user_right[1] = '\0';
  return 1;  // replied
}

int handle_passwd(int fd, char* body, size_t body_len, char* sub_path) {
  if (sub_path) return reply_code(fd, NO_SERVICE);
  parsed_body request(body, body_len);
  if (!request.ok()) return reply_code(fd, FORMAT_ERROR);
  // NEW_NAME may come along; account names cannot be changed.
  const char* name = given_text(request, "USER_NAME");
  const char* old_password = given_password(request, "OLD_PASSWD");
  const char* new_password = given_password(request, "PASSWD");
  if (!name || !old_password || !new_password)
    return reply_result(fd, FORMAT_ERROR, "Need name oldpasswd and new passwd");
  const account* user = find_account(name);
  if (!user) return reply_result(fd, CREDENTIAL_ERROR, "Invalid name");
  char given_old[secret_size];
  char given_new[secret_size];
  if (!decode_secret(old_password, given_old) || !decode_secret(new_password, given_new) ||
      !cfg_value_stageable(given_new))
    return reply_code(fd, FORMAT_ERROR);
  if (!password_matches(*user, given_old))
    return reply_result(fd, CREDENTIAL_ERROR, "Invalid passwd");

  cfg_set(user->password_option, given_new);
  uci_run("/sbin/uci commit system");
  return 0;
}

int login_post(int fd, char* body, size_t body_len, char* sub_path) {
  return handle_login(fd, body, body_len, sub_path);
}

int passwd_post(int fd, char* body, size_t body_len, char* sub_path) {
  return handle_passwd(fd, body, body_len, sub_path);
}
