// pallactl against a one-shot test server on a temporary socket, and the XML
// indenter on its own.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tools/pallactl/pretty.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Accepts one connection, keeps what the client sent (up to the blank line or
// the client's end), then answers with a fixed reply, closes without one, or
// holds the connection open until the server is destroyed.
enum class Answer { kReply, kCloseSilently, kHold };

class OneShotServer {
 public:
  explicit OneShotServer(std::string reply, Answer answer = Answer::kReply)
      : reply_(std::move(reply)), answer_(answer) {
    char dir_template[] = "/tmp/pallactl-test-XXXXXX";
    dir_ = mkdtemp(dir_template);
    path_ = dir_ + "/route";
    EXPECT_EQ(0, pipe(stop_pipe_));
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(0, bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    EXPECT_EQ(0, listen(listen_fd_, 1));
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotServer() {
    EXPECT_EQ(1, write(stop_pipe_[1], "x", 1));
    shutdown(listen_fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }
  // What the client sent; waits for the connection to be over.
  const std::string& received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void serve() {
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    char chunk[4096];
    ssize_t n;
    while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
      received_.append(chunk, static_cast<size_t>(n));
      if (answer_ == Answer::kReply && received_.size() >= 2 &&
          received_.compare(received_.size() - 2, 2, "\n\n") == 0)
        break;
    }
    if (answer_ == Answer::kReply) send(fd, reply_.data(), reply_.size(), MSG_NOSIGNAL);
    char stop;
    if (answer_ == Answer::kHold) {
      EXPECT_EQ(1, read(stop_pipe_[0], &stop, 1));
    }
    close(fd);
  }

  std::string reply_;
  Answer answer_;
  std::string dir_;
  std::string path_;
  std::string received_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
};

std::string pallactl_path() {
  const char* bin = getenv("PALLAD_BIN");
  return std::string(bin ? bin : "build/bin") + "/pallactl";
}

std::string read_all(const char* path) {
  std::string text;
  FILE* file = fopen(path, "r");
  char chunk[4096];
  size_t n;
  while (file && (n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  if (file) fclose(file);
  return text;
}

Result run_pallactl(const std::string& args, const std::string& input = "") {
  char input_path[] = "/tmp/pallactl-input-XXXXXX";
  int input_fd = mkstemp(input_path);
  EXPECT_EQ(static_cast<ssize_t>(input.size()), write(input_fd, input.data(), input.size()));
  close(input_fd);
  std::string err_path = std::string(input_path) + ".err";
  std::string command = pallactl_path() + " " + args + " < " + input_path + " 2>" + err_path;
  Result result;
  FILE* pipe = popen(command.c_str(), "r");
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = read_all(err_path.c_str());
  unlink(input_path);
  unlink(err_path.c_str());
  return result;
}

const std::string kEnvelope =
    "<?xml version=\"1.0\" "
    "encoding=\"utf-8\"?><RESULT><CODE>0</CODE><MESSAGE>OK</MESSAGE></RESULT>";

TEST(PallactlRequest, GetSendsRequestLineAndBlankLineWithLeadingSlashDropped) {
  OneShotServer server(kEnvelope);
  Result r = run_pallactl("--socket " + server.path() + " get 'wireless/stainfo?active=1'");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("GET /route/wireless/stainfo?active=1\n\n", server.received());
  EXPECT_EQ(kEnvelope + "\n", r.out);

  OneShotServer bare(kEnvelope);
  EXPECT_EQ(0, run_pallactl("--socket " + bare.path() + " get /network").status);
  EXPECT_EQ("GET /route/network\n\n", bare.received());
}

TEST(PallactlRequest, PostBodyGetsExactlyOneBlankLineAtTheEnd) {
  const char* cases[][2] = {
      {"<LAN><IP>1</IP></LAN>", "<LAN><IP>1</IP></LAN>\n\n"},
      {"<LAN/>\n", "<LAN/>\n\n"},
      {"<LAN/>\n\n", "<LAN/>\n\n"},
      {"", "\n"},
  };
  for (auto& c : cases) {
    OneShotServer server(kEnvelope);
    Result r = run_pallactl("--socket " + server.path() + " post system/basic", c[0]);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(std::string("POST /route/system/basic\n") + c[1], server.received()) << c[0];
  }
}

TEST(PallactlRequest, RawSendsStandardInputUnchanged) {
  OneShotServer server(kEnvelope);
  Result r = run_pallactl("--socket " + server.path() + " raw", "PUT /route/x\r\n\n\n");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("PUT /route/x\r\n\n\n", server.received());
}

TEST(PallactlRequest, IncompleteRawRequestEndsWithoutReply) {
  // The client half-closes, so a server waiting for the blank line sees the end.
  OneShotServer server("", Answer::kCloseSilently);
  Result r = run_pallactl("--timeout 5 --socket " + server.path() + " raw", "GET /route/x\r\n\r\n");
  EXPECT_EQ(2, r.status);  // no reply
  EXPECT_EQ("", r.out);
  EXPECT_EQ("GET /route/x\r\n\r\n", server.received());
}

// Byte for byte, with a line feed added only when the reply lacks a final one.
TEST(PallactlReply, PrintedByteForByte) {
  std::string reply("Content-type: text/html\n\n{\"a\":1}\0\xff\n", 35);
  OneShotServer server(reply);
  Result r = run_pallactl("--socket " + server.path() + " raw", "GET opcode=1\n\n");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(reply, r.out);
}

TEST(PallactlReply, PrettyIndentsXml) {
  OneShotServer server(kEnvelope);
  Result r = run_pallactl("--pretty --socket " + server.path() + " get network/lan");
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<RESULT>\n  <CODE>0</CODE>\n"
      "  <MESSAGE>OK</MESSAGE>\n</RESULT>\n",
      r.out);
}

TEST(PallactlFailure, NoServerGivesStatusTwo) {
  Result r = run_pallactl("--socket /tmp/pallactl-test-no-such-socket get network");
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("", r.out);
}

TEST(PallactlFailure, SilentServerTimesOut) {
  OneShotServer server("", Answer::kHold);
  Result r = run_pallactl("--timeout 1 --socket " + server.path() + " get network");
  EXPECT_EQ(2, r.status);
}

TEST(PallactlFailure, BadUsageGivesStatusThree) {
  EXPECT_EQ(3, run_pallactl("").status);
  EXPECT_EQ(3, run_pallactl("get").status);
  EXPECT_EQ(3, run_pallactl("fetch network").status);
  EXPECT_EQ(3, run_pallactl("get a b").status);
  EXPECT_EQ(3, run_pallactl("raw extra").status);
  EXPECT_EQ(3, run_pallactl("--timeout x get network").status);
  EXPECT_EQ(3, run_pallactl("get \"$(printf 'net\\nwork')\"").status);
  EXPECT_EQ(3, run_pallactl("login root").status);
  EXPECT_EQ(3, run_pallactl("passwd root old").status);
}

// An envelope with a code other than 0 is printed and reported on stderr.
TEST(PallactlReply, ErrorEnvelopeGivesStatusOne) {
  const std::string refused =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><RESULT><CODE>5</CODE>"
      "<MESSAGE>Invalid passwd</MESSAGE></RESULT>";
  OneShotServer server(refused);
  Result r = run_pallactl("--socket " + server.path() + " get network/lan");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(refused + "\n", r.out);  // a final line feed is added
  EXPECT_EQ("pallactl: code 5: Invalid passwd\n", r.err);
}

TEST(PallactlRequest, LoginAndPasswdHexEncodeThePasswords) {
  OneShotServer login(kEnvelope);
  EXPECT_EQ(0, run_pallactl("--socket " + login.path() + " login 'a<b' 'pa ss'").status);
  EXPECT_EQ(
      "POST /route/login\n<LOGIN><USER_NAME>a&lt;b</USER_NAME><PASSWD>7061207373</PASSWD>"
      "</LOGIN>\n\n",
      login.received());
  OneShotServer passwd(kEnvelope);
  EXPECT_EQ(0, run_pallactl("--socket " + passwd.path() + " passwd admin admin n3w").status);
  EXPECT_EQ(
      "POST /route/passwd\n<PASSWD><USER_NAME>admin</USER_NAME><OLD_PASSWD>61646d696e"
      "</OLD_PASSWD><PASSWD>6e3377</PASSWD></PASSWD>\n\n",
      passwd.received());
}

TEST(PallactlRequest, WarnsAboutARequestLongerThanTheAgentReads) {
  OneShotServer fits(kEnvelope);
  std::string body(16384 - std::string("POST /route/x\n\n\n").size(), 'a');
  EXPECT_EQ("", run_pallactl("--socket " + fits.path() + " post x", body).err);
  OneShotServer too_long("", Answer::kCloseSilently);
  Result r = run_pallactl("--socket " + too_long.path() + " post x", body + "a");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("warning: the request has 16385 bytes")) << r.err;
}

std::string pretty(const std::string& xml) {
  Buffer out;
  EXPECT_TRUE(pretty_print_xml(xml.data(), xml.size(), out));
  return std::string(out.data(), out.size());
}

TEST(PallactlPretty, NestedElementsSelfClosingAndEmptyText) {
  EXPECT_EQ("<A>\n  <B>\n    <C>x y</C>\n    <D/>\n    <E></E>\n  </B>\n</A>\n",
            pretty("<A><B><C>x y</C><D/><E></E></B></A>"));
}

TEST(PallactlPretty, AttributesWithAngleBracketsAndBlankText) {
  EXPECT_EQ("<datas>\n  <data id=\"0\" name=\"a>b\"> </data>\n  <chnel>1</chnel>\n</datas>\n",
            pretty("<datas><data id=\"0\" name=\"a>b\"> </data><chnel>1</chnel></datas>"));
}

TEST(PallactlPretty, UnbalancedAndUnfinishedInputKeepsEveryByte) {
  EXPECT_EQ("</A>\n<B>\n  x\n  <C\n", pretty("</A><B>x<C"));
  EXPECT_FALSE(looks_like_xml("  {\"a\":1}", 9));
  EXPECT_TRUE(looks_like_xml("\n <A/>", 6));
}

}  // namespace
