#include "agent/server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/expected.h"

namespace {

using namespace expected;

// Reads everything until the writer closes or nothing more is pending.
std::string drain(int fd) {
  std::string out;
  char chunk[4096];
  ssize_t n;
  while ((n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) out.append(chunk, n);
  return out;
}

// What a spy handler saw.
struct Seen {
  std::string name;
  bool sub_path_null = true;
  std::string sub_path;
  size_t sub_path_len = 0;
  bool rest_null = true;
  std::string rest;
  std::string body;
} seen;
int post_result = 0;

int spy_get(int fd, char* sub_path, size_t len, char* rest) {
  seen.name = "get";
  seen.sub_path_null = sub_path == nullptr;
  if (sub_path) seen.sub_path = sub_path;
  seen.sub_path_len = len;
  seen.rest_null = rest == nullptr;
  if (rest) seen.rest = rest;
  return send_all(fd, "DOC", 3);
}

int spy_post(int fd, char* body, size_t, char* sub_path) {
  seen.name = "post";
  seen.body = body;
  seen.sub_path_null = sub_path == nullptr;
  // The sub-path runs on into the body; keep only up to the line feed.
  if (sub_path) seen.sub_path.assign(sub_path, static_cast<size_t>(body - sub_path));
  return post_result ? reply_result(fd, post_result, "custom") : 0;
}

const get_service spy_gets[] = {
    {"network", spy_get}, {"wireless", spy_get}, {"system", spy_get}, {nullptr, nullptr}};
const post_service spy_posts[] = {{"system", spy_post}, {"login", spy_post}, {nullptr, nullptr}};

class Routing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    seen = Seen{};
    post_result = 0;
  }
  void TearDown() override {
    close(fds[0]);
    close(fds[1]);
  }
  // Routes a request (without its terminator) and returns the reply.
  std::string route(std::string request) {
    request.push_back('\0');
    route_request_with(fds[0], request.data(), request.size() - 1, spy_gets, spy_posts);
    return drain(fds[1]);
  }
  int fds[2];
};

TEST_F(Routing, GetSplitsServiceSubPathAndRest) {
  EXPECT_EQ(route("GET /route/network/lan"), "DOC");
  EXPECT_FALSE(seen.sub_path_null);
  EXPECT_EQ(seen.sub_path, "/lan");
  EXPECT_EQ(seen.sub_path_len, 4u);
  EXPECT_TRUE(seen.rest_null);

  route("GET /route/wireless/stainfo?active=1");
  EXPECT_EQ(seen.sub_path, "/stainfo?active=1");
  EXPECT_EQ(seen.sub_path_len, 17u);

  route("GET /route/system/a/b/c");
  EXPECT_EQ(seen.sub_path, "/a");
  EXPECT_EQ(seen.sub_path_len, 2u);
  EXPECT_EQ(seen.rest, "b/c");
}

TEST_F(Routing, GetWithoutSubPathPassesNull) {
  route("GET /route/network");
  EXPECT_EQ(seen.name, "get");
  EXPECT_TRUE(seen.sub_path_null);
  EXPECT_EQ(seen.sub_path_len, 0u);
}

TEST_F(Routing, ServiceNamesMatchExactly) {
  EXPECT_EQ(route("GET /route/networks/lan"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(route("GET /route/net/lan"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(seen.name, "");
}

TEST_F(Routing, PostPassesBodyFromLineFeedAndUnterminatedSubPath) {
  EXPECT_EQ(route("POST /route/system/basic\n<A>1</A>"), envelope(0, "OK"));
  EXPECT_EQ(seen.sub_path, "/basic");
  EXPECT_EQ(seen.body, "\n<A>1</A>");
}

TEST_F(Routing, PostSlashInBodyIsNoSubPath) {
  route("POST /route/login\n<A/>");
  EXPECT_EQ(seen.name, "post");
  EXPECT_TRUE(seen.sub_path_null);
}

TEST_F(Routing, PostHandlerThatRepliesGetsNothingAdded) {
  post_result = 5;
  EXPECT_EQ(route("POST /route/system/x\n<A/>"), envelope(5, "custom"));
}

TEST_F(Routing, MethodComesFromTheRequestLineOnly) {
  // A body holding the letters GET stays a change request.
  EXPECT_EQ(route("POST /route/system/basic\n<SSID>GET</SSID>"), envelope(0, "OK"));
  EXPECT_EQ(seen.name, "post");
  EXPECT_EQ(route("PUT /route/x"), envelope(2, "NOT SUPPORT SERVICE"));
  EXPECT_EQ(route("PUT /route/x\nGET"), envelope(2, "NOT SUPPORT SERVICE"));
}

TEST_F(Routing, MalformedRequests) {
  EXPECT_EQ(route("POST /route/system"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(route("GET route"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(route("POST route"), envelope(3, "FORMAT ERROR"));
  EXPECT_EQ(route("POST /route/nosuch\n<A/>"), envelope(1, "NO SERVICE"));
  // No "route" (and for a GET no "opcode"): no reply at all.
  EXPECT_EQ(route("GET /index.html"), "");
  EXPECT_EQ(route("POST /cgi\n<A/>"), "");
  EXPECT_EQ(seen.name, "");
}

TEST(Replies, EnvelopeIsCutAt511Characters) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_EQ(reply_result(fds[0], 5, std::string(600, 'x').c_str()), 5);
  std::string reply = drain(fds[1]);
  EXPECT_EQ(reply.size(), 511u);
  EXPECT_EQ(reply.substr(0, 60), envelope(5, "").substr(0, 60));
  close(fds[0]);
  close(fds[1]);
}

TEST(Replies, DocumentsGrowPastAnyFixedBuffer) {
  std::string doc;
  appendf(doc, "<A>%s</A>", std::string(3000, 'y').c_str());
  appendf(doc, "<B>%d</B>", 7);
  EXPECT_EQ(doc.size(), 3000u + 7 + 8);
  EXPECT_EQ(doc.substr(doc.size() - 8), "<B>7</B>");
}

TEST(Replies, SendAllToAClosedPeerReturnsWithoutDying) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  close(fds[1]);
  EXPECT_EQ(send_all(fds[0], "abc", 3), 0);  // no SIGPIPE
  close(fds[0]);
}

// The worker running for real on a temporary socket.
class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir_template[] = "/tmp/pallad-server-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    dir = dir_template;
    path = dir + "/route";
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      if (descriptor_limit) {
        rlimit limit{descriptor_limit, descriptor_limit};
        setrlimit(RLIMIT_NOFILE, &limit);
      }
      _exit(server_run(path.c_str()));
    }
    for (int i = 0; i < 500 && access(path.c_str(), F_OK) != 0; ++i) usleep(10000);
  }
  void TearDown() override {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  int connect_client() {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    for (int i = 0; i < 200; ++i) {
      if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
      usleep(10000);
    }
    close(fd);
    return -1;
  }
  static void send_text(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // Reads until the server closes the connection.
  static std::string read_reply(int fd) {
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) out.append(chunk, n);
    return out;
  }
  std::string exchange(const std::string& request) {
    int fd = connect_client();
    if (fd < 0) return "connect failed";
    send_text(fd, request);
    std::string reply = read_reply(fd);
    close(fd);
    return reply;
  }
  int open_descriptors() {
    int count = 0;
    std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    for (int i = 0; i < 5000; ++i) {
      std::string p = fd_dir + "/" + std::to_string(i);
      if (access(p.c_str(), F_OK) == 0) ++count;
    }
    return count;
  }
  std::string dir, path;
  pid_t pid = -1;
  rlim_t descriptor_limit = 0;  // the worker's, when set
};

// A worker that may have only 32 descriptors open.
class LimitedWorker : public Worker {
 protected:
  LimitedWorker() { descriptor_limit = 32; }
};

TEST_F(Worker, RequestInManySmallWrites) {
  int fd = connect_client();
  ASSERT_GE(fd, 0);
  for (char c : std::string("GET /route/nosuch\n\n")) {
    send_text(fd, std::string(1, c));
    usleep(1000);
  }
  EXPECT_EQ(read_reply(fd), envelope(1, "NO SERVICE"));
  close(fd);
}

TEST_F(Worker, RequestOfExactlyTheBufferSizeIsServedOneMoreByteIsNot) {
  std::string head = "PUT /";
  std::string fits = head + std::string(16384 - head.size() - 2, 'a') + "\n\n";
  ASSERT_EQ(fits.size(), 16384u);
  EXPECT_EQ(exchange(fits), envelope(2, "NOT SUPPORT SERVICE"));
  std::string too_long = head + std::string(16384 - head.size() - 1, 'a') + "\n\n";
  EXPECT_EQ(exchange(too_long), "");
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
}

TEST_F(Worker, CarriageReturnsNeverEndARequest) {
  std::string crlf = "GET /route/nosuch\r\n\r\n";
  int fd = connect_client();
  ASSERT_GE(fd, 0);
  send_text(fd, crlf + std::string(16384 - crlf.size(), 'x'));
  EXPECT_EQ(read_reply(fd), "");
  close(fd);
}

TEST_F(Worker, IdleClientDoesNotBlockOthers) {
  int idle = connect_client();
  ASSERT_GE(idle, 0);
  send_text(idle, "GET /route/nos");
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
  send_text(idle, "uch\n\n");
  EXPECT_EQ(read_reply(idle), envelope(1, "NO SERVICE"));
  close(idle);
}

TEST_F(Worker, ClientGoneBeforeTheReplyLeavesTheWorkerServing) {
  for (int i = 0; i < 20; ++i) {
    int fd = connect_client();
    ASSERT_GE(fd, 0);
    send_text(fd, "GET /route/nosuch\n\n");
    close(fd);
  }
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
}

TEST_F(Worker, NoDescriptorLeaksOverManyRequests) {
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
  int before = open_descriptors();
  for (int i = 0; i < 10000; ++i) {
    int fd = connect_client();
    ASSERT_GE(fd, 0);
    // Mix complete requests, abandoned ones and early disconnects.
    send_text(fd, i % 3 == 0 ? "GET /route/nos" : "GET /route/nosuch\n\n");
    if (i % 3 == 1) read_reply(fd);
    close(fd);
  }
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
  // Closes of abandoned connections may still be in the worker's queue.
  int after = open_descriptors();
  for (int i = 0; i < 100 && after > before; ++i) {
    usleep(10000);
    after = open_descriptors();
  }
  // The count before may still include the first exchange's descriptor.
  EXPECT_LE(after, before);
}

// At the descriptor limit the oldest connection still waiting for its request
// gives way, so idle clients cannot lock the others out.
TEST_F(LimitedWorker, OldestIdleConnectionGivesWayAtTheDescriptorLimit) {
  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) {
    int fd = connect_client();
    ASSERT_GE(fd, 0);
    send_text(fd, "G");
    idle.push_back(fd);
  }
  EXPECT_EQ(exchange("GET /route/nosuch\n\n"), envelope(1, "NO SERVICE"));
  EXPECT_EQ(read_reply(idle.front()), "");  // closed to make room
  send_text(idle.back(), "ET /route/nosuch\n\n");
  EXPECT_EQ(read_reply(idle.back()), envelope(1, "NO SERVICE"));
  for (int fd : idle) close(fd);
}

// Every service of both tables has its own section in the request reference
// and is named by pallactl --help.
TEST(ServiceNames, RequestReferenceAndPallactlHelpNameEveryService) {
  std::ifstream file(REQUEST_REFERENCE);
  ASSERT_TRUE(file) << REQUEST_REFERENCE;
  std::set<std::string> headings;
  for (std::string line; std::getline(file, line);)
    if (line.rfind("## ", 0) == 0) headings.insert(line.substr(3));
  std::string help;
  const char* bin = std::getenv("PALLAD_BIN");
  if (FILE* pipe = bin ? popen((std::string(bin) + "/pallactl --help").c_str(), "r") : nullptr) {
    for (int c; (c = std::fgetc(pipe)) != EOF;)
      help += std::isalpha(c) ? static_cast<char>(c) : ' ';
    pclose(pipe);
  }
  std::vector<std::string> names;
  for (const get_service* s = get_services; s->name; ++s) names.push_back(s->name);
  for (const post_service* s = post_services; s->name; ++s) names.push_back(s->name);
  for (const std::string& name : names) {
    EXPECT_TRUE(headings.count(name)) << name;
    if (bin) {
      EXPECT_NE(help.find(" " + name + " "), std::string::npos) << name;
    }
  }
}

}  // namespace
