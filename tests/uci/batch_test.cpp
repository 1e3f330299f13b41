// `batch` and `import`: commands and config text read from a file or
// standard input, with their output, messages and exit statuses.
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/uci/store_fixture.h"

namespace {

class BatchTest : public StoreTest {
 protected:
  // `uci -c conf -t delta -f FILE ARGS` with text as FILE.
  Result with_input(const std::string& text, std::vector<std::string> args) {
    write(root + "/input", text);
    args.insert(args.begin(), {"-f", root + "/input"});
    return uci(args);
  }
  static mode_t mode_of(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }
};

TEST_F(BatchTest, RunsOneCommandPerLineAndGoesOnAfterErrors) {
  config("network", "config interface 'lan'\n\toption proto 'static'\n\nconfig rule\n");
  Result r = with_input(
      "# firmware defaults\n"
      "\n"
      "set network.lan.proto=dhcp   # trailing comment\n"
      "set network.lan.desc='first line\n"
      "second line'\n"
      "set network.lan.quote=\"say \\\"hi\\\"\"\n"
      "add network rule\n"
      "set network.@rule[-1].src=wan ; add_list network.lan.dns=1.1.1.1\n"
      "get network.nope\n"
      "frobnicate\n"
      "get network.lan.proto\n"
      "EXIT\n"
      "set network.lan.after=1\n",
      {"batch"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "cfg0392bd\ndhcp\n");
  EXPECT_EQ(r.err.rfind("uci: Entry not found\nUsage: uci [<options>]", 0), 0u) << r.err;
  EXPECT_EQ(staged("network"),
            "network.lan.proto='dhcp'\nnetwork.lan.desc='first line\nsecond line'\n"
            "network.lan.quote='say \"hi\"'\n+network.cfg0392bd='rule'\n"
            "network.cfg0392bd.src='wan'\n|network.lan.dns='1.1.1.1'\n");
  // A quote left open ends the batch with the parse error; earlier lines ran.
  Result open = with_input("set network.lan.a=1\nset network.lan.b='open\n", {"batch"});
  EXPECT_EQ(open.status, 0);
  EXPECT_EQ(open.err.rfind("uci: Parse error (EOF with unterminated ')", 0), 0u) << open.err;
  EXPECT_EQ(uci({"get", "network.lan.a"}).out, "1\n");
}

TEST_F(BatchTest, EachCommandSeesWhatTheOneBeforeLeft) {
  config("p", "config t s\n");
  Result r = with_input(
      "set p.s.a=1\nget p.s.a\ncommit p\nget p.s.a\nset p.s.a=2\nrevert p.s\nget p.s.a\n"
      "add_list p.s.l=x\ndelete p.s.l\nget p.s.l\nadd p t\nadd p t\nshow p\n",
      {"batch"});
  EXPECT_EQ(r.out, "1\n1\n1\ncfg02b619\ncfg03b619\np.s=t\np.s.a='1'\np.@t[1]=t\np.@t[2]=t\n");
  EXPECT_EQ(r.err, "uci: Entry not found\n");
}

TEST_F(BatchTest, ReadsStandardInputWithoutAFile) {
  config("p", "config t s\n");
  write(root + "/stdin", "set p.s.a=1\nget p.s.a\n");
  int saved = ::dup(0);
  int fd = ::open((root + "/stdin").c_str(), O_RDONLY);
  ::dup2(fd, 0);
  Result r = uci({"batch"});
  ::dup2(saved, 0);
  ::close(fd);
  ::close(saved);
  EXPECT_EQ(r.out, "1\n");
}

TEST_F(BatchTest, ImportReplacesOrCreatesFilesAndKeepsStagedChanges) {
  config("p", "# hand-written\nconfig t 'x'\n\toption a '1'\n");
  ::chmod((conf + "/p").c_str(), 0640);
  uci({"set", "p.x.staged=1"});
  EXPECT_EQ(
      with_input("config t x\n\toption a 2\nconfig u\n\tlist l \"it's\"\n", {"import", "p"}).status,
      0);
  EXPECT_EQ(committed("p"), "\nconfig t 'x'\n\toption a '2'\n\nconfig u\n\tlist l 'it'\\''s'\n\n");
  EXPECT_EQ(mode_of(conf + "/p"), 0640u);
  EXPECT_EQ(uci({"get", "p.x.staged"}).out, "1\n");
  // Without a name the text names its packages: export of all imports back.
  config("q", "config v 'y'\n");
  std::string all = uci({"export"}).out;
  ASSERT_EQ(::unlink((conf + "/q").c_str()), 0);
  EXPECT_EQ(with_input(all, {"import"}).status, 0);
  EXPECT_EQ(uci({"export"}).out, all);
  EXPECT_EQ(mode_of(conf + "/q"), 0600u);  // a new file
}

TEST_F(BatchTest, MergeImportStagesIntoTheExistingPackage) {
  config("m", "config t 'lan'\n\toption a '1'\n");
  EXPECT_EQ(with_input("config t lan\n\toption a 1\n\toption b 2\n\tlist l x\nconfig u new\n"
                       "config w\n\toption c 3\n",
                       {"-m", "import", "m"})
                .status,
            0);
  EXPECT_EQ(staged("m"),
            "m.lan.b='2'\n|m.lan.l='x'\nm.new='u'\n+m.cfg03b61c='w'\nm.cfg03b61c.c='3'\n");
  EXPECT_EQ(committed("m"), "config t 'lan'\n\toption a '1'\n");
}

TEST_F(BatchTest, FailuresWriteNothing) {
  config("p", "config t x\n");
  struct Case {
    std::vector<std::string> args;
    const char* input;
    int status;
    const char* err;
  } cases[] = {
      {{"import", "p"},
       "config t x\n\toption a 'open\n",
       1,
       "uci: Parse error (EOF with unterminated ') at line 3, byte 0\n"},
      {{"import"},
       "config t x\n",
       1,
       "uci: Parse error (config command found before the first package) at line 1, byte 11\n"},
      {{"-m", "import", "nopkg"}, "config t x\n", 1, "uci: Entry not found\n"},
      {{"import", "bad.pkg.a.b"}, "", 1, "uci: Parse error\n"},
  };
  for (const Case& c : cases) {
    Result r = with_input(c.input, c.args);
    EXPECT_EQ(r.status, c.status) << c.input;
    EXPECT_EQ(r.err, c.err) << c.input;
  }
  EXPECT_EQ(committed("p"), "config t x\n");
  EXPECT_EQ(uci({"import", "a", "b"}).status, 255);
  EXPECT_EQ(uci({"batch", "x"}).status, 255);
  Result missing = uci({"-f", root + "/none", "batch"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "uci: No such file or directory\n");
}

}  // namespace
