#include "services/system/login.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/startup.h"
#include "agent/worker_state.h"
#include "tests/support/expected.h"
#include "tests/support/fake_effects.h"

namespace {

using namespace expected;

std::string hex(const std::string& text) {
  std::string out;
  char pair[3];
  for (unsigned char c : text) {
    snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out;
}

std::string login_body(const std::string& name, const std::string& password_hex) {
  return "\n<LOGIN><USER_NAME>" + name + "</USER_NAME><PASSWD>" + password_hex +
         "</PASSWD></LOGIN>";
}

std::string passwd_body(const std::string& name, const std::string& old_hex,
                        const std::string& new_hex) {
  return "\n<PASSWD_SET><USER_NAME>" + name + "</USER_NAME><NEW_NAME>x</NEW_NAME><OLD_PASSWD>" +
         old_hex + "</OLD_PASSWD><PASSWD>" + new_hex + "</PASSWD></PASSWD_SET>";
}

struct Reply {
  int result;
  std::string text;
};

using handler = int (*)(int, char*, size_t, char*);

Reply call(handler h, const std::string& body, const char* sub_path = nullptr) {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::vector<char> text(body.begin(), body.end());
  text.push_back('\0');
  std::string sub = sub_path ? sub_path : "";
  Reply reply;
  reply.result = h(fds[0], text.data(), body.size(), sub_path ? &sub[0] : nullptr);
  close(fds[0]);
  char chunk[1024];
  ssize_t n;
  while ((n = read(fds[1], chunk, sizeof chunk)) > 0) reply.text.append(chunk, n);
  close(fds[1]);
  return reply;
}

class Login : public FakeEffectsTest {
 protected:
  void SetUp() override {
    // A private block, so the test never creates the device's key on this host.
    key_ = 0x6000 + (getpid() & 0xfff);
    ASSERT_EQ(shm_create(key_), 0);
    block_ = static_cast<unsigned char*>(shm_attach(key_));
    ASSERT_NE(block_, nullptr);
    login_token_key = key_;
    worker().user_right[0] = '\0';
    accounts("toor", "", "admin");
  }
  void TearDown() override {
    login_token_key = token_block_key;
    shm_detach(block_);
    shmctl(shmget(key_, token_block_size, 0600), IPC_RMID, nullptr);
  }

  void accounts(const std::string& root_passwd, const std::string& root_user_name,
                const std::string& admin_passwd) {
    fake.write_config("system", "config system\n\toption root_passwd '" + root_passwd +
                                    "'\n\toption root_user_name '" + root_user_name +
                                    "'\n\toption passwd '" + admin_passwd + "'\n");
  }

  Reply login(const std::string& name, const std::string& password) {
    return call(handle_login, login_body(name, hex(password)));
  }

  std::string slot(size_t offset) { return reinterpret_cast<const char*>(block_ + offset); }
  int32_t login_time() {
    int32_t value;
    std::memcpy(&value, block_ + 64, sizeof value);
    return value;
  }
  bool block_is_zero() {
    for (size_t i = 0; i < token_block_size; ++i)
      if (block_[i]) return false;
    return true;
  }

  key_t key_ = 0;
  unsigned char* block_ = nullptr;
};

// The code of a result envelope, -1 when the text is none.
int code_of(const std::string& text) {
  size_t start = text.find("<CODE>");
  return start == std::string::npos ? -1 : std::atoi(text.c_str() + start + 6);
}

bool lowercase_hex(const std::string& text) {
  return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(Login, RequestShapeIsCheckedFirst) {
  EXPECT_EQ(call(handle_login, "not even xml", "/x").text, envelope(1, "NO SERVICE"));
  EXPECT_EQ(call(handle_login, "\n<LOGIN><USER_NAME>root</LOGIN>").text,
            envelope(3, "FORMAT ERROR"));
  const std::string need = envelope(3, "Need name and passwd");
  EXPECT_EQ(call(handle_login, "\n<LOGIN><USER_NAME>root</USER_NAME></LOGIN>").text, need);
  EXPECT_EQ(call(handle_login, login_body("", hex("toor"))).text, need);
  EXPECT_EQ(call(handle_login, login_body("root", "")).text, need);
  EXPECT_TRUE(block_is_zero());
}

TEST_F(Login, NamesMatchExactlyBeforeThePasswordIsLookedAt) {
  for (const char* name : {"Root", " root", "root ", "guest", "root_user_name"}) {
    Reply reply = login(name, "wrong");
    EXPECT_EQ(reply.text, envelope(5, "Invalid name")) << name;
    EXPECT_NE(reply.result, 0);
  }
  for (const char* wrong : {"too", "toorx", "TOOR"}) {
    Reply reply = login("root", wrong);
    EXPECT_EQ(reply.text, envelope(5, "Invalid passwd")) << wrong;
  }
  EXPECT_TRUE(block_is_zero());
  EXPECT_STREQ(worker().user_right, "");
}

TEST_F(Login, RootLoginStoresTheTokenItReturns) {
  fake.set_now(1700000123);
  Reply reply = login("root", "toor");
  EXPECT_NE(reply.result, 0);  // it has replied itself
  std::string prefix = envelope(0, "");
  prefix.resize(prefix.find("</MESSAGE>"));
  ASSERT_EQ(reply.text.rfind(prefix, 0), 0u) << reply.text;
  std::string message = reply.text.substr(prefix.size(), 20);
  EXPECT_EQ(reply.text, envelope(0, message));
  EXPECT_EQ(message.substr(0, 4), "root");
  EXPECT_TRUE(lowercase_hex(message.substr(4)));
  EXPECT_EQ(slot(0), message);
  EXPECT_EQ(login_time(), 1700000123);
  EXPECT_STREQ(worker().user_right, "1");

  // A second login replaces only the root token and the time.
  std::memcpy(block_ + 32, "admin-old", 10);
  fake.set_now(1700000200);
  Reply again = login("root", "toor");
  EXPECT_EQ(again.text, envelope(0, slot(0)));
  EXPECT_NE(slot(0), message);
  EXPECT_EQ(slot(32), "admin-old");
  EXPECT_EQ(login_time(), 1700000200);
}

TEST_F(Login, AdminRightDependsOnTheRootAccount) {
  Reply reply = login("admin", "admin");
  ASSERT_EQ(slot(32).size(), 21u);
  EXPECT_EQ(reply.text, envelope(0, slot(32)));
  EXPECT_EQ(slot(32).substr(0, 5), "admin");
  EXPECT_TRUE(lowercase_hex(slot(32).substr(5)));
  EXPECT_EQ(slot(0), "");
  EXPECT_STREQ(worker().user_right, "1");  // no root user name

  accounts("toor", "superuser", "admin");
  login("admin", "admin");
  EXPECT_STREQ(worker().user_right, "2");
  login("root", "toor");
  EXPECT_STREQ(worker().user_right, "1");

  accounts("", "superuser", "admin");
  login("admin", "admin");
  EXPECT_STREQ(worker().user_right, "1");  // no root password
}

TEST_F(Login, TokenComesFromUrandomThenFromTheSystemCall) {
  fake.put_file("/dev/urandom", std::string("\x01\x23\x45\x67\x89\xab\xcd\xef\xff", 9));
  login("root", "toor");
  EXPECT_EQ(slot(0), "root0123456789abcdef");
  fake.remove_file("/dev/urandom");
  login("root", "toor");
  EXPECT_EQ(slot(0), "root0001020304050607");  // the fake's random sequence
}

TEST_F(Login, NoRandomnessNoToken) {
  fake.set_random_fails(true);
  Reply reply = login("root", "toor");
  EXPECT_EQ(reply.result, 5);
  EXPECT_EQ(code_of(reply.text), 5);
  EXPECT_TRUE(block_is_zero());
  EXPECT_STREQ(worker().user_right, "");
}

TEST_F(Login, MissingTokenBlockIsAnErrorReplyNotAnExit) {
  login_token_key = key_ + 0x100;  // never created
  Reply reply;
  EXPECT_NO_THROW(reply = login("admin", "admin"));
  EXPECT_EQ(reply.result, 5);
  EXPECT_EQ(code_of(reply.text), 5);
  EXPECT_STREQ(worker().user_right, "");
}

TEST_F(Login, PasswordLengthLimit) {
  std::string longest(127, 'p');
  accounts(longest, "", "admin");
  EXPECT_EQ(code_of(login("root", longest).text), 0);
  EXPECT_EQ(login("root", longest + "p").text, envelope(3, "FORMAT ERROR"));
}

// Texts that are not an even number of hex digits, or decode to an empty text
// or one with a zero byte, count as no password at all: they can neither
// match an empty stored password nor become one.
TEST_F(Login, OnlyWholeHexTextsArePasswords) {
  accounts("", "", "admin");
  const std::string need_login = envelope(3, "Need name and passwd");
  const std::string need_change = envelope(3, "Need name oldpasswd and new passwd");
  for (std::string bad : {"0", "x", "00", "0000", "61646d696e0", "61646d696e00ffff", "0061646d696e",
                          "61646d696g", " 61646d696e"}) {
    EXPECT_EQ(call(handle_login, login_body("root", bad)).text, need_login) << bad;
    EXPECT_EQ(call(handle_login, login_body("admin", bad)).text, need_login) << bad;
    EXPECT_EQ(call(handle_passwd, passwd_body("root", bad, hex("new"))).text, need_change) << bad;
    EXPECT_EQ(call(handle_passwd, passwd_body("admin", hex("admin"), bad)).text, need_change)
        << bad;
  }
  // An empty stored password never matches, whatever is given.
  EXPECT_EQ(login("root", "x").text, envelope(5, "Invalid passwd"));
  // A new password the store cannot take is refused, not silently dropped.
  EXPECT_EQ(call(handle_passwd, passwd_body("admin", hex("admin"),
                                            hex("a\x01"
                                                "b")))
                .text,
            envelope(3, "FORMAT ERROR"));
  EXPECT_TRUE(fake.commands().empty());
  EXPECT_TRUE(block_is_zero());
  EXPECT_EQ(code_of(call(handle_login, login_body("admin", "61646D696E")).text), 0);
}

TEST_F(Login, PasswordChange) {
  EXPECT_EQ(call(handle_passwd, passwd_body("root", hex("toor"), hex("x")), "/a").text,
            envelope(1, "NO SERVICE"));
  EXPECT_EQ(call(handle_passwd, "\n<A><USER_NAME>root</USER_NAME><PASSWD>41</PASSWD></A>").text,
            envelope(3, "Need name oldpasswd and new passwd"));
  EXPECT_EQ(call(handle_passwd, passwd_body("Admin", hex("admin"), hex("x"))).text,
            envelope(5, "Invalid name"));
  EXPECT_EQ(call(handle_passwd, passwd_body("admin", hex("wrong"), hex("x"))).text,
            envelope(5, "Invalid passwd"));
  EXPECT_EQ(call(handle_passwd, passwd_body("admin", hex("admin"), std::string(256, '4'))).text,
            envelope(3, "FORMAT ERROR"));
  EXPECT_TRUE(fake.commands().empty());

  const std::string fresh = "n\"e$w`\\1";
  Reply changed = call(handle_passwd, passwd_body("admin", hex("admin"), hex(fresh)));
  EXPECT_EQ(changed.result, 0);
  EXPECT_EQ(changed.text, "");  // the request server answers OK
  ASSERT_EQ(fake.commands().size(), 2u);
  EXPECT_EQ(fake.commands()[1], "/sbin/uci commit system");
  EXPECT_NE(fake.read_config("system").find("option passwd 'n\"e$w`\\1'"), std::string::npos)
      << fake.read_config("system") << fake.uci_errors();

  EXPECT_EQ(login("admin", "admin").text, envelope(5, "Invalid passwd"));
  Reply with_new = login("admin", fresh);
  EXPECT_EQ(with_new.text, envelope(0, slot(32)));
  EXPECT_EQ(slot(32).size(), 21u);
}

}  // namespace
