// The services "login" and "passwd": passwords of the two fixed accounts
// "root" and "admin", and the login tokens other local processes check in the
// token block.
//
// Token block (68 bytes): slot 0 at offset 0 holds "root" and slot 1 at offset
// 32 holds "admin", each directly followed by the 16 lowercase hex digits of
// the account's token and a NUL; offset 64 holds the time of the latest
// login as a 32-bit signed count of seconds in the processor's byte order.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "services/common/secret.h"

// Key of the token block the login writes; tests set a private one.
extern key_t login_token_key;

// POST handlers (signature of agent/server.h).
int handle_login(int fd, char* body, size_t body_len, char* sub_path);
int handle_passwd(int fd, char* body, size_t body_len, char* sub_path);

// Makes a token for "root" or "admin", stores it with the time in the token
// block and replies code 0 with the account's slot text. Returns 0, or the
// code of the failure it replied instead.
int issue_token(const char* name, int fd);
