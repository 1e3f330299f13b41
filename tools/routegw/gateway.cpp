#include "tools/routegw/gateway.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "agent/request_limit.h"
#include "services/common/secret.h"

namespace {

constexpr char route_prefix[] = "/route";

bool in_set(char c, const char* extra) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr(extra, c) != nullptr);
}

bool all_in_set(const char* text, const char* extra) {
  for (; *text; ++text)
    if (!in_set(*text, extra)) return false;
  return true;
}

bool path_acceptable(const char* path) {
  if (path[0] != '/' || std::strlen(path) > gw_path_limit) return false;
  return all_in_set(path, "/_.-") && !std::strstr(path, "..") && !std::strstr(path, "//");
}

bool query_acceptable(const char* query) {
  return std::strlen(query) <= gw_query_limit && all_in_set(query, "=&_.:-");
}

// A header value the gateway reads: bounded, without CR or LF.
bool header_acceptable(const char* value) {
  return !value || (std::strlen(value) <= gw_header_limit && !std::strpbrk(value, "\r\n"));
}

// True when the Origin names the host the request was sent to.
bool same_origin(const char* origin, const char* host) {
  if (!host || !*host) return false;
  for (const char* scheme : {"http://", "https://"}) {
    size_t length = std::strlen(scheme);
    if (strncasecmp(origin, scheme, length) == 0 && strcasecmp(origin + length, host) == 0)
      return true;
  }
  return false;
}

struct own_road {
  const char* path;
  bool post;
  gw_road road;
};

// The paths the gateway serves itself; every other path goes to the agent.
constexpr own_road own_roads[] = {
    {"/login", true, gw_road::login},
    {"/logout", true, gw_road::logout},
    {"/download/backup", false, gw_road::download_backup},
    {"/upload/backup", true, gw_road::upload_backup},
    {"/upload/firmware", true, gw_road::upload_firmware},
};

// The road of path; status 405 for one of the gateway's own paths asked with
// the other method.
gw_verdict road_of(const char* path, bool post) {
  for (const own_road& own : own_roads) {
    if (std::strcmp(path, own.path) != 0) continue;
    return {own.post == post ? 0 : 405, own.road};
  }
  return {0, gw_road::agent};
}

int body_status(gw_road road, long long length, const char* path) {
  if (length < 0) return 400;
  if (road == gw_road::upload_backup || road == gw_road::upload_firmware) {
    long long limit = road == gw_road::upload_backup ? gw_backup_limit : gw_firmware_limit;
    if (length < 1) return 400;
    return length > limit ? 413 : 0;
  }
  return length > static_cast<long long>(body_limit(path)) ? 400 : 0;
}

bool is_hex_token(const char* text, size_t length) {
  if (length != token_hex_digits) return false;
  for (size_t i = 0; i < length; ++i)
    if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f'))) return false;
  return true;
}

// Splits "USER" + TOKEN (joined by separator, or directly when it is 0) of
// the given length into session.
bool split_session(const char* text, size_t length, char separator, gw_session& session) {
  size_t user_length = length >= token_hex_digits ? length - token_hex_digits : 0;
  const char* token = text + user_length;
  if (separator) {
    if (user_length == 0 || text[user_length - 1] != separator) return false;
    --user_length;
  }
  if (user_length == 0 || user_length >= sizeof session.user) return false;
  if (!is_hex_token(token, token_hex_digits)) return false;
  std::memcpy(session.user, text, user_length);
  session.user[user_length] = '\0';
  if (token_slot_of(session.user) < 0) return false;
  std::memcpy(session.token, token, token_hex_digits);
  session.token[token_hex_digits] = '\0';
  return true;
}

// The text between open and close in document, or null.
const char* element_text(const char* document, const char* open, const char* close,
                         size_t& length) {
  const char* start = std::strstr(document, open);
  if (!start) return nullptr;
  start += std::strlen(open);
  const char* end = std::strstr(start, close);
  if (!end) return nullptr;
  length = static_cast<size_t>(end - start);
  return start;
}

// Reads a whole decimal number from text, moving text past it.
bool read_number(const char*& text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  if (end == text) return false;
  text = end;
  return true;
}

}  // namespace

gw_verdict check_request(const gw_request& request) {
  const char* method = request.method ? request.method : "";
  bool post = std::strcmp(method, "POST") == 0;
  if (!post && std::strcmp(method, "GET") != 0) return {405, gw_road::agent};
  const char* path = request.path ? request.path : "";
  const char* query = request.query ? request.query : "";
  if (!path_acceptable(path) || !query_acceptable(query)) return {400, gw_road::agent};
  for (const char* header : {request.cookie, request.origin, request.host, request.requested_with})
    if (!header_acceptable(header)) return {400, gw_road::agent};

  gw_verdict verdict = road_of(path, post);
  if (verdict.status) return verdict;
  if (post && (!request.requested_with || std::strcmp(request.requested_with, "XMLHttpRequest")))
    return {403, verdict.road};
  if (request.origin && !same_origin(request.origin, request.host)) return {403, verdict.road};
  if (post) verdict.status = body_status(verdict.road, request.content_length, path);
  return verdict;
}

size_t body_limit(const char* path) {
  // "POST /route" PATH, the line feed, the body, at most two line feeds.
  size_t taken = std::strlen("POST ") + std::strlen(route_prefix) + std::strlen(path) + 1 + 2;
  return taken < request_limit ? request_limit - taken : 0;
}

size_t agent_request(char* out, size_t out_size, bool post, const char* path, const char* query,
                     const char* body, size_t body_length) {
  int head = post ? snprintf(out, out_size, "POST %s%s\n", route_prefix, path)
                  : snprintf(out, out_size, "GET %s%s%s%s\n", route_prefix, path,
                             query && *query ? "?" : "", query && *query ? query : "");
  if (head < 0 || static_cast<size_t>(head) >= out_size) return 0;
  size_t length = static_cast<size_t>(head);
  if (post) {
    if (body_length > 0 && (memchr(body, '\0', body_length) || body[0] == '\n')) return 0;
    for (size_t i = 1; i < body_length; ++i)
      if (body[i] == '\n' && body[i - 1] == '\n') return 0;
    if (length + body_length + 2 > out_size) return 0;
    std::memcpy(out + length, body, body_length);
    length += body_length;
  }
  // The text ends with exactly one blank line.
  out[length++] = '\n';
  if (post && body_length > 0 && body[body_length - 1] != '\n') out[length++] = '\n';
  return length;
}

bool parse_session_cookie(const char* header, gw_session& session) {
  if (!header) return false;
  for (const char* at = header; (at = std::strstr(at, "session=")) != nullptr; ++at) {
    if (at != header && at[-1] != ' ' && at[-1] != ';') continue;
    const char* value = at + std::strlen("session=");
    size_t length = std::strcspn(value, "; ");
    return split_session(value, length, ':', session);
  }
  return false;
}

bool parse_login_reply(const char* reply, gw_session& session) {
  size_t length = 0;
  const char* code = element_text(reply, "<CODE>", "</CODE>", length);
  if (!code || length != 1 || code[0] != '0') return false;
  const char* message = element_text(reply, "<MESSAGE>", "</MESSAGE>", length);
  return message && split_session(message, length, 0, session);
}

long long idle_limit_of(const char* minutes) {
  char* end = nullptr;
  long value = minutes ? std::strtol(minutes, &end, 10) : 0;
  bool whole = end && end != minutes && (*end == '\0' || *end == '\n');
  return whole && value >= 1 && value <= 1440 ? value * 60 : gw_default_idle;
}

bool parse_record(const char* text, gw_record& record) {
  if (!is_hex_token(text, token_hex_digits) || text[token_hex_digits] != ' ') return false;
  std::memcpy(record.token, text, token_hex_digits);
  record.token[token_hex_digits] = '\0';
  const char* rest = text + token_hex_digits;
  return read_number(rest, record.idle_limit) && read_number(rest, record.last_used);
}

size_t format_record(const gw_record& record, char* out, size_t out_size) {
  int n = snprintf(out, out_size, "%s %10lld %20lld\n", record.token, record.idle_limit,
                   record.last_used);
  return n > 0 && static_cast<size_t>(n) < out_size ? static_cast<size_t>(n) : 0;
}

bool session_valid(const gw_session& session, const unsigned char (&block)[token_block_size],
                   const gw_record* record, long long now) {
  int slot = token_slot_of(session.user);
  if (slot < 0 || !record) return false;
  // The slot's text with its NUL: as long for every token of the account.
  char expected[token_slot_size] = {};
  int length = snprintf(expected, sizeof expected, "%s%s", session.user, session.token);
  const unsigned char* stored = block + static_cast<size_t>(slot) * token_slot_size;
  bool in_block = same_bytes(expected, stored, static_cast<size_t>(length) + 1);
  bool in_record = same_bytes(session.token, record->token, token_hex_digits);
  bool fresh = now >= record->last_used && now - record->last_used < record->idle_limit;
  return in_block && in_record && fresh;
}

bool login_blocked(const gw_login_limit& limit, long long now) {
  return now < limit.blocked_until;
}

void note_failed_login(gw_login_limit& limit, long long now) {
  std::memmove(limit.failures, limit.failures + 1,
               sizeof limit.failures - sizeof limit.failures[0]);
  limit.failures[gw_login_failures - 1] = now;
  long long oldest = limit.failures[0];
  if (oldest != 0 && now - oldest < gw_failure_window) {
    limit.blocked_until = now + gw_login_block;
    std::memset(limit.failures, 0, sizeof limit.failures);
  }
}

bool parse_login_limit(const char* text, gw_login_limit& limit) {
  if (!read_number(text, limit.blocked_until)) return false;
  for (long long& failure : limit.failures)
    if (!read_number(text, failure)) return false;
  return true;
}

size_t format_login_limit(const gw_login_limit& limit, char* out, size_t out_size) {
  size_t used = 0;
  int n = snprintf(out, out_size, "%lld", limit.blocked_until);
  for (long long failure : limit.failures) {
    if (n < 0 || (used += static_cast<size_t>(n)) >= out_size) return 0;
    n = snprintf(out + used, out_size - used, " %lld", failure);
  }
  if (n < 0 || (used += static_cast<size_t>(n)) + 1 >= out_size) return 0;
  out[used++] = '\n';
  out[used] = '\0';
  return used;
}

namespace {

struct status_entry {
  int status;
  const char* reason;
  int code;
  const char* message;
};

constexpr status_entry statuses[] = {
    {200, "OK", 0, "OK"},
    {400, "Bad Request", 3, "BAD REQUEST"},
    {401, "Unauthorized", 5, "LOGIN REQUIRED"},
    {403, "Forbidden", 5, "FORBIDDEN"},
    {404, "Not Found", 1, "NOT FOUND"},
    {405, "Method Not Allowed", 2, "METHOD NOT ALLOWED"},
    {413, "Payload Too Large", 3, "TOO LARGE"},
    {429, "Too Many Requests", 5, "TOO MANY LOGINS"},
    {502, "Bad Gateway", 5, "NO REPLY"},
    {503, "Service Unavailable", 5, "AGENT UNAVAILABLE"},
    {507, "Insufficient Storage", 5, "NO SPACE"},
};

constexpr status_entry internal_error = {500, "Internal Server Error", 5, "GATEWAY ERROR"};

const status_entry& entry_of(int status) {
  for (const status_entry& entry : statuses)
    if (entry.status == status) return entry;
  return internal_error;
}

}  // namespace

const char* status_text(int status) {
  return entry_of(status).reason;
}

size_t refusal_document(int status, char* out, size_t out_size) {
  const status_entry& entry = entry_of(status);
  int n = snprintf(out, out_size,
                   "<?xml version=\"1.0\" encoding=\"utf-8\"?><RESULT><CODE>%d</CODE>"
                   "<MESSAGE>%s</MESSAGE></RESULT>",
                   entry.code, entry.message);
  return n > 0 && static_cast<size_t>(n) < out_size ? static_cast<size_t>(n) : 0;
}
