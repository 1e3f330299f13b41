// routegw: the web server's CGI gateway to the agent. The decisions it makes
// about one request (which road it takes, what is refused, whether a session
// holds, whether logins are blocked) live here, free of any I/O, so that the
// unit tests can check them; routegw_main.cpp does the reading and writing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "services/common/token_block.h"

// One request as the web server hands it over (CGI variables); a missing
// variable is null, a missing length -1.
struct gw_request {
  const char* method = nullptr;
  const char* path = nullptr;  // PATH_INFO, already decoded by the server
  const char* query = nullptr;
  const char* cookie = nullptr;
  const char* origin = nullptr;
  const char* host = nullptr;
  const char* requested_with = nullptr;
  long long content_length = -1;
};

// The roads a request can take.
enum class gw_road { agent, login, logout, download_backup, upload_backup, upload_firmware };

struct gw_verdict {
  int status;  // 0: go on (a session is checked next, except for a login)
  gw_road road;
};

// Bounds of what the gateway reads.
inline constexpr size_t gw_path_limit = 512;
inline constexpr size_t gw_query_limit = 1024;
inline constexpr size_t gw_header_limit = 4096;
inline constexpr long long gw_backup_limit = 1024 * 1024;
inline constexpr long long gw_firmware_limit = 32 * 1024 * 1024;

// Checks method, path, query, headers and the announced body length, in that
// order, and names the road. Nothing has been read from the body yet.
gw_verdict check_request(const gw_request& request);

// The largest POST body the agent can take behind the request line of path.
size_t body_limit(const char* path);

// Builds the agent's request text: "GET /route" PATH ["?" QUERY] and a blank
// line, or "POST /route" PATH, a line feed, the body and the blank line.
// Returns its length, or 0 when the body holds a blank line (it would end the
// request early) or a NUL, or when the text does not fit out.
size_t agent_request(char* out, size_t out_size, bool post, const char* path, const char* query,
                     const char* body, size_t body_length);

// The session cookie "USER:TOKEN", of one of the accounts with a slot.
struct gw_session {
  char user[8] = {};
  char token[token_hex_digits + 1] = {};
};
// Finds "session=" in a Cookie header; false when it is absent or malformed.
bool parse_session_cookie(const char* header, gw_session& session);
// Takes the account and token out of the agent's login reply (code 0, the
// message the account name followed by the token); false for any other reply.
bool parse_login_reply(const char* reply, gw_session& session);

// The gateway's own record of a session: the token it was given for, the idle
// limit in force and when it was last used (seconds of the boot clock).
struct gw_record {
  char token[token_hex_digits + 1] = {};
  long long idle_limit = 0;
  long long last_used = 0;
};
inline constexpr long long gw_default_idle = 30 * 60;
// The idle limit from the stored option (minutes, 1-1440), or the default.
long long idle_limit_of(const char* minutes);
bool parse_record(const char* text, gw_record& record);
// Formats a record; every record has the same length, so one rewrites another
// in place.
size_t format_record(const gw_record& record, char* out, size_t out_size);

// A session holds when its token equals its account's slot of the token block
// and the gateway's record, each compared in constant time, and it has been
// used within the record's idle limit.
bool session_valid(const gw_session& session, const unsigned char (&block)[token_block_size],
                   const gw_record* record, long long now);

// Failed logins from any client: after 5 within 60 s, logins are refused for
// 30 s.
inline constexpr int gw_login_failures = 5;
inline constexpr long long gw_failure_window = 60;
inline constexpr long long gw_login_block = 30;
struct gw_login_limit {
  long long blocked_until = 0;
  long long failures[gw_login_failures] = {};  // oldest first, 0 for none
};
bool login_blocked(const gw_login_limit& limit, long long now);
void note_failed_login(gw_login_limit& limit, long long now);
bool parse_login_limit(const char* text, gw_login_limit& limit);
size_t format_login_limit(const gw_login_limit& limit, char* out, size_t out_size);

// The reason phrase of the statuses the gateway answers.
const char* status_text(int status);
// The result envelope the gateway answers on a refusal of its own.
size_t refusal_document(int status, char* out, size_t out_size);
