#include "tools/routegw/gateway.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/request_limit.h"

namespace {

// A POST from the page itself, with the header scripts add.
gw_request page_post(const char* path, long long length = 10) {
  gw_request request;
  request.method = "POST";
  request.path = path;
  request.host = "192.168.1.1";
  request.origin = "http://192.168.1.1";
  request.requested_with = "XMLHttpRequest";
  request.content_length = length;
  return request;
}

gw_request page_get(const char* path, const char* query = "") {
  gw_request request;
  request.method = "GET";
  request.path = path;
  request.query = query;
  request.host = "192.168.1.1";
  return request;
}

TEST(RouteGatewayTest, RequestChecksNameTheRoadOrTheRefusal) {
  std::string long_path = "/" + std::string(gw_path_limit, 'a');
  std::string big_cookie(gw_header_limit + 1, 'x');
  struct {
    const char* name;
    gw_request request;
    int status;
    gw_road road;
  } cases[] = {
      {"store GET", page_get("/network/lan"), 0, gw_road::agent},
      {"GET with a query", page_get("/wireless/nonstainfo", "active=1&x=a.b:c-d_e"), 0,
       gw_road::agent},
      {"POST", page_post("/dhcp"), 0, gw_road::agent},
      {"login", page_post("/login"), 0, gw_road::login},
      {"logout", page_post("/logout"), 0, gw_road::logout},
      {"backup download", page_get("/download/backup"), 0, gw_road::download_backup},
      {"backup upload", page_post("/upload/backup", 1000), 0, gw_road::upload_backup},
      {"firmware upload", page_post("/upload/firmware", 8 << 20), 0, gw_road::upload_firmware},
      {"PUT",
       [] {
         auto r = page_get("/network/lan");
         r.method = "PUT";
         return r;
       }(),
       405, gw_road::agent},
      {"HEAD",
       [] {
         auto r = page_get("/network/lan");
         r.method = "HEAD";
         return r;
       }(),
       405, gw_road::agent},
      {"no method",
       [] {
         auto r = page_get("/network/lan");
         r.method = nullptr;
         return r;
       }(),
       405, gw_road::agent},
      {"GET of an upload", page_get("/upload/backup"), 405, gw_road::upload_backup},
      {"POST of the download", page_post("/download/backup"), 405, gw_road::download_backup},
      {"dot-dot", page_get("/system/../login"), 400, gw_road::agent},
      {"double slash", page_get("/network//lan"), 400, gw_road::agent},
      {"blank in path", page_get("/network/l an"), 400, gw_road::agent},
      {"percent left in path", page_get("/network/%6can"), 400, gw_road::agent},
      {"line feed in path", page_get("/network/lan\nGET /x"), 400, gw_road::agent},
      {"path without slash", page_get("network"), 400, gw_road::agent},
      {"no path", page_get(nullptr), 400, gw_road::agent},
      {"long path", page_get(long_path.c_str()), 400, gw_road::agent},
      {"encoded query", page_get("/network/lan", "a=%41"), 400, gw_road::agent},
      {"query with a slash", page_get("/network/lan", "a=/b"), 400, gw_road::agent},
      {"query with a line feed", page_get("/network/lan", "a\n"), 400, gw_road::agent},
      {"CR in a cookie",
       [] {
         auto r = page_get("/x");
         r.cookie = "a=b\r\nX: y";
         return r;
       }(),
       400, gw_road::agent},
      {"oversized cookie",
       [&] {
         auto r = page_get("/x");
         r.cookie = big_cookie.c_str();
         return r;
       }(),
       400, gw_road::agent},
      {"POST without the script header",
       [] {
         auto r = page_post("/dhcp");
         r.requested_with = nullptr;
         return r;
       }(),
       403, gw_road::agent},
      {"login without the script header",
       [] {
         auto r = page_post("/login");
         r.requested_with = "x";
         return r;
       }(),
       403, gw_road::login},
      {"foreign origin",
       [] {
         auto r = page_post("/dhcp");
         r.origin = "http://evil.example";
         return r;
       }(),
       403, gw_road::agent},
      {"origin with another port",
       [] {
         auto r = page_get("/x");
         r.origin = "http://192.168.1.1:8080";
         return r;
       }(),
       403, gw_road::agent},
      {"origin without a host",
       [] {
         auto r = page_post("/dhcp");
         r.host = nullptr;
         return r;
       }(),
       403, gw_road::agent},
      {"null origin",
       [] {
         auto r = page_get("/x");
         r.origin = "null";
         return r;
       }(),
       403, gw_road::agent},
      {"forwarded port",
       [] {
         auto r = page_post("/dhcp");
         r.host = "127.0.0.1:8080";
         r.origin = "http://127.0.0.1:8080";
         return r;
       }(),
       0, gw_road::agent},
      {"body over the agent's limit", page_post("/dhcp", request_limit), 400, gw_road::agent},
      {"body at the agent's limit", page_post("/dhcp", static_cast<long long>(body_limit("/dhcp"))),
       0, gw_road::agent},
      {"unreadable length", page_post("/dhcp", -1), 400, gw_road::agent},
      {"empty upload", page_post("/upload/backup", 0), 400, gw_road::upload_backup},
      {"backup over its limit", page_post("/upload/backup", gw_backup_limit + 1), 413,
       gw_road::upload_backup},
      {"firmware over its limit", page_post("/upload/firmware", gw_firmware_limit + 1), 413,
       gw_road::upload_firmware},
  };
  for (const auto& c : cases) {
    gw_verdict verdict = check_request(c.request);
    EXPECT_EQ(verdict.status, c.status) << c.name;
    if (verdict.status == 0 || verdict.status == 405) {
      EXPECT_EQ(verdict.road, c.road) << c.name;
    }
  }
}

TEST(RouteGatewayTest, AgentRequestTexts) {
  struct {
    const char* name;
    bool post;
    const char* path;
    const char* query;
    const char* body;
    const char* text;  // null: refused
  } cases[] = {
      {"GET", false, "/network/lan", "", nullptr, "GET /route/network/lan\n\n"},
      {"GET with query", false, "/wireless/nonstainfo", "active=1", nullptr,
       "GET /route/wireless/nonstainfo?active=1\n\n"},
      {"POST", true, "/dhcp", "", "<D><A>1</A></D>", "POST /route/dhcp\n<D><A>1</A></D>\n\n"},
      {"POST with a final line feed", true, "/dhcp", "", "<D>\n</D>\n",
       "POST /route/dhcp\n<D>\n</D>\n\n"},
      {"POST without body", true, "/login", "", "", "POST /route/login\n\n"},
      {"blank line in body", true, "/dhcp", "", "<D>\n\n</D>", nullptr},
      {"body starting with a line feed", true, "/dhcp", "", "\n<D/>", nullptr},
  };
  for (const auto& c : cases) {
    char out[request_limit];
    size_t body_length = c.body ? std::strlen(c.body) : 0;
    size_t length = agent_request(out, sizeof out, c.post, c.path, c.query, c.body, body_length);
    if (!c.text) {
      EXPECT_EQ(length, 0u) << c.name;
      continue;
    }
    EXPECT_EQ(std::string(out, length), c.text) << c.name;
  }
  char out[request_limit];
  const char nul_body[] = {'<', 'A', '\0', '>'};
  EXPECT_EQ(agent_request(out, sizeof out, true, "/dhcp", "", nul_body, sizeof nul_body), 0u);
  // The largest body allowed fits the agent's buffer exactly.
  std::string body(body_limit("/dhcp"), 'x');
  EXPECT_EQ(agent_request(out, sizeof out, true, "/dhcp", "", body.data(), body.size()),
            request_limit);
}

TEST(RouteGatewayTest, CookiesAndLoginReplies) {
  struct {
    const char* header;
    const char* user;  // null: no session
  } cookies[] = {
      {"session=admin:0123456789abcdef", "admin"},
      {"theme=dark; session=root:0123456789abcdef; lang=en", "root"},
      {"xsession=admin:0123456789abcdef", nullptr},
      {"session=guest:0123456789abcdef", nullptr},
      {"session=admin:0123456789ABCDEF", nullptr},
      {"session=admin:0123456789abcde", nullptr},
      {"session=admin0123456789abcdef", nullptr},
      {"session=", nullptr},
      {nullptr, nullptr},
  };
  for (const auto& c : cookies) {
    gw_session session;
    bool found = parse_session_cookie(c.header, session);
    EXPECT_EQ(found, c.user != nullptr) << (c.header ? c.header : "(none)");
    if (found && c.user) {
      EXPECT_STREQ(session.user, c.user);
      EXPECT_STREQ(session.token, "0123456789abcdef");
    }
  }

  const char* envelope =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><RESULT><CODE>%s</CODE>"
      "<MESSAGE>%s</MESSAGE></RESULT>";
  struct {
    const char* code;
    const char* message;
    bool token;
  } replies[] = {
      {"0", "admin7f64145cef7e369c", true},
      {"0", "root7f64145cef7e369c", true},
      {"5", "Invalid passwd", false},
      {"5", "admin7f64145cef7e369c", false},
      {"0", "OK", false},
      {"0", "nobody7f64145cef7e369c", false},
  };
  for (const auto& c : replies) {
    char reply[256];
    snprintf(reply, sizeof reply, envelope, c.code, c.message);
    gw_session session;
    EXPECT_EQ(parse_login_reply(reply, session), c.token) << c.code << " " << c.message;
  }
}

TEST(RouteGatewayTest, SessionsHoldOnlyAgainstTheTokenBlockAndTheRecord) {
  unsigned char block[token_block_size] = {};
  std::memcpy(block, "root1111111111111111", 21);
  std::memcpy(block + token_slot_size, "admin2222222222222222", 22);
  gw_record record;
  std::memcpy(record.token, "2222222222222222", 17);
  record.idle_limit = 1800;
  record.last_used = 1000;
  gw_session admin;
  std::memcpy(admin.user, "admin", 6);
  std::memcpy(admin.token, "2222222222222222", 17);
  gw_session replaced = admin;
  std::memcpy(replaced.token, "3333333333333333", 17);
  gw_session root_with_admin_token = admin;
  std::memcpy(root_with_admin_token.user, "root", 5);
  gw_record other_record = record;
  std::memcpy(other_record.token, "4444444444444444", 17);

  struct {
    const char* name;
    const gw_session& session;
    const gw_record* record;
    long long now;
    bool valid;
  } cases[] = {
      {"fresh", admin, &record, 1000 + 1799, true},
      {"idle limit reached", admin, &record, 1000 + 1800, false},
      {"clock before last use", admin, &record, 999, false},
      {"no record", admin, nullptr, 1001, false},
      {"token replaced by a newer login", replaced, &record, 1001, false},
      {"record of another token", admin, &other_record, 1001, false},
      {"another account's token", root_with_admin_token, &record, 1001, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(session_valid(c.session, block, c.record, c.now), c.valid) << c.name;

  char text[128];
  ASSERT_GT(format_record(record, text, sizeof text), 0u);
  gw_record read_back;
  ASSERT_TRUE(parse_record(text, read_back));
  EXPECT_STREQ(read_back.token, record.token);
  EXPECT_EQ(read_back.last_used, 1000);
  record.last_used = 123456789;
  EXPECT_EQ(format_record(record, text, sizeof text), std::strlen(text));
  EXPECT_FALSE(parse_record("zz22222222222222 1 2", read_back));

  struct {
    const char* stored;
    long long limit;
  } limits[] = {{"10\n", 600},  {"", 1800},   {"0", 1800},
                {"1441", 1800}, {"5m", 1800}, {nullptr, 1800}};
  for (const auto& c : limits) EXPECT_EQ(idle_limit_of(c.stored), c.limit) << c.stored;
}

TEST(RouteGatewayTest, FiveFailedLoginsWithinAMinuteBlockLoginsForHalfAMinute) {
  struct {
    const char* name;
    long long failures[6];  // times of failed logins, 0 ends
    long long now;
    bool blocked;
  } cases[] = {
      {"four failures", {100, 101, 102, 103}, 104, false},
      {"five within 60 s", {100, 110, 120, 130, 159}, 160, true},
      {"block ends after 30 s", {100, 110, 120, 130, 159}, 189, false},
      {"five over more than 60 s", {100, 110, 120, 130, 160}, 161, false},
      {"the oldest drops out", {10, 100, 110, 120, 130, 140}, 141, true},
  };
  for (const auto& c : cases) {
    gw_login_limit limit;
    for (long long failure : c.failures)
      if (failure) note_failed_login(limit, failure);
    char text[256];
    ASSERT_GT(format_login_limit(limit, text, sizeof text), 0u);
    gw_login_limit read_back;
    ASSERT_TRUE(parse_login_limit(text, read_back)) << text;
    EXPECT_EQ(login_blocked(read_back, c.now), c.blocked) << c.name;
  }
  // After a block the count starts again.
  gw_login_limit limit;
  for (long long t : {100, 101, 102, 103, 104}) note_failed_login(limit, t);
  note_failed_login(limit, 135);
  EXPECT_FALSE(login_blocked(limit, 136));
}

}  // namespace
