// The command-line tool: staged records, replay, commit, revert, output and
// exit codes, checked against the documented transcripts.
#include <sys/stat.h>

#include "tests/uci/store_fixture.h"

namespace {

const char network_file[] =
    "config interface 'lan'\n\toption proto 'static'\n\toption ipaddr '192.168.1.1'\n"
    "\tlist dns '1.1.1.1'\n\tlist dns '8.8.8.8'\n\nconfig rule\n\toption src 'lan'\n\n"
    "config rule\n\toption src 'wan'\n";

class CliTest : public StoreTest {};

TEST_F(CliTest, EveryRecordKindIsStagedAsTheReferenceWritesIt) {
  config("network", network_file);
  const std::vector<std::vector<std::string>> commands = {
      {"set", "network.lan.proto=dhcp"},
      {"set", "network.lan.proto=dhcp"},
      {"set", "network.lan.mtu=1500"},
      {"set", "network.wan=interface"},
      {"set", "network.wan.proto=pppoe"},
      {"set", "network.@rule[0].dest=wan"},
      {"add", "network", "rule"},
      {"add_list", "network.lan.dns=9.9.9.9"},
      {"add_list", "network.lan.dns=1.1.1.1"},
      {"del_list", "network.lan.dns=1.1.1.1"},
      {"del_list", "network.lan.dns=not-there"},
      {"del_list", "network.lan.proto=dhcp"},
      {"del_list", "network.lan.nosuch=x"},
      {"add_list", "network.lan.proto=second"},
      {"add_list", "network.lan.newlist=a"},
      {"delete", "network.lan.ipaddr"},
      {"rename", "network.lan.mtu=mtu_size"},
      {"rename", "network.@rule[1]=wanrule"},
      {"reorder", "network.wanrule=0"},
      {"set", "network.lan.quote=it's a \"test\" \\ $HOME"},
      {"set", "network.@rule[-1].enabled=1"},
  };
  for (const auto& c : commands) EXPECT_EQ(uci(c).status, 0) << c[0] << " " << c[1];
  EXPECT_EQ(staged("network"),
            "network.lan.proto='dhcp'\nnetwork.lan.mtu='1500'\nnetwork.wan='interface'\n"
            "network.wan.proto='pppoe'\nnetwork.cfg0292bd.dest='wan'\n"
            "+network.cfg0592bd='rule'\n|network.lan.dns='9.9.9.9'\n"
            "|network.lan.dns='1.1.1.1'\n~network.lan.dns='1.1.1.1'\n"
            "~network.lan.dns='not-there'\n|network.lan.proto='second'\n"
            "|network.lan.newlist='a'\n-network.lan.ipaddr\n@network.lan.mtu='mtu_size'\n"
            "@network.cfg0392bd='wanrule'\n^network.wanrule='0'\n"
            "network.lan.quote='it'\\''s a \"test\" \\ $HOME'\n"
            "network.cfg0592bd.enabled='1'\n");
  EXPECT_EQ(uci({"changes", "network"}).out,
            "network.lan.proto='dhcp'\nnetwork.lan.mtu='1500'\nnetwork.wan='interface'\n"
            "network.wan.proto='pppoe'\nnetwork.cfg0292bd.dest='wan'\n"
            "network.cfg0592bd='rule'\nnetwork.lan.dns+='9.9.9.9'\n"
            "network.lan.dns+='1.1.1.1'\nnetwork.lan.dns-='1.1.1.1'\n"
            "network.lan.dns-='not-there'\nnetwork.lan.proto+='second'\n"
            "network.lan.newlist+='a'\n-network.lan.ipaddr\nnetwork.lan.mtu='mtu_size'\n"
            "network.cfg0392bd='wanrule'\nnetwork.wanrule='0'\n"
            "network.lan.quote='it'\\''s a \"test\" \\ $HOME'\n"
            "network.cfg0592bd.enabled='1'\n");
  EXPECT_EQ(uci({"commit", "network"}).status, 0);
  EXPECT_EQ(committed("network"),
            "\nconfig rule 'wanrule'\n\toption src 'wan'\n\nconfig interface 'lan'\n"
            "\tlist proto 'dhcp'\n\tlist proto 'second'\n\tlist dns '8.8.8.8'\n"
            "\tlist dns '9.9.9.9'\n\toption mtu_size '1500'\n\tlist newlist 'a'\n"
            "\toption quote 'it'\\''s a \"test\" \\ $HOME'\n\nconfig rule\n\toption src 'lan'\n"
            "\toption dest 'wan'\n\nconfig interface 'wan'\n\toption proto 'pppoe'\n\n"
            "config rule\n\toption enabled '1'\n\n");
  EXPECT_EQ(staged("network"), "");
}

TEST_F(CliTest, ReplayToleratesAndSkipsBadRecords) {
  config("n", "config t 'lan'\n\toption x '1'\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/n",
        "n.lan.a=unquoted\nn.lan.b=\"double\"\nn.lan.c='con'\\''cat'\nn.lan.d=two words\n"
        "n.missing.e='1'\n!n.lan.f='1'\nn.lan.g\nother.lan.h='1'\nn.lan.x=''\n"
        "'n.lan.i=quoted whole'\n|n.lan\nn.lan.j='multi\nline'\n\nn.@t[0].k='ext'\n"
        "n.lan.l='ok' # comment\n");
  EXPECT_EQ(uci({"show", "n"}).out,
            "n.lan=t\nn.lan.a='unquoted'\nn.lan.b='double'\nn.lan.c='con'\\''cat'\n"
            "n.lan.i='quoted whole'\nn.lan.j='multi\nline'\n");
  // Well-formed records are listed even when they did not apply.
  EXPECT_NE(uci({"changes", "n"}).out.find("n.missing.e='1'\n"), std::string::npos);
}

TEST_F(CliTest, GetAndShowFormatValuesAndNames) {
  config("network",
         "config interface 'lan'\n\toption proto 'static'\n\tlist dns '1.1.1.1'\n"
         "\tlist dns '8.8.8.8'\n\nconfig rule 'wanrule'\n\toption src 'wan'\n\n"
         "config rule\n\toption src 'lan'\n\nconfig rule\n\toption enabled '1'\n");
  config("p",
         "config t s\n\tlist l ''\n\tlist l 'has space'\n\tlist l \"it's\"\n\tlist l plain\n"
         "\tlist m 'a\tb'\n\tlist m 'c\nd'\n\tlist m e\n");
  EXPECT_EQ(uci({"show", "network"}).out,
            "network.lan=interface\nnetwork.lan.proto='static'\n"
            "network.lan.dns='1.1.1.1' '8.8.8.8'\nnetwork.wanrule=rule\n"
            "network.wanrule.src='wan'\nnetwork.@rule[1]=rule\nnetwork.@rule[1].src='lan'\n"
            "network.@rule[2]=rule\nnetwork.@rule[2].enabled='1'\n");
  EXPECT_EQ(uci({"show", "network.@rule[1]"}).out,
            "network.cfg0392bd=rule\nnetwork.cfg0392bd.src='lan'\n");
  EXPECT_EQ(uci({"show", "network.@rule[-1].enabled"}).out, "network.cfg0492bd.enabled='1'\n");
  EXPECT_EQ(uci({"get", "network.lan"}).out, "interface\n");
  EXPECT_EQ(uci({"get", "network.@rule[1].src"}).out, "lan\n");
  EXPECT_EQ(uci({"get", "network.@[0]"}).out, "interface\n");
  EXPECT_EQ(uci({"get", "network.lan.dns"}).out, "1.1.1.1 8.8.8.8\n");
  EXPECT_EQ(uci({"get", "p.s.l"}).out, " 'has space' it's plain\n");
  EXPECT_EQ(uci({"-d", ",", "get", "p.s.l"}).out, ",'has space',it's,plain\n");
  EXPECT_EQ(uci({"get", "p.s.m"}).out, "'a\tb' 'c\nd' e\n");
  Result package = uci({"get", "network"});
  EXPECT_EQ(package.status, 0);
  EXPECT_EQ(package.out, "");
}

TEST_F(CliTest, ExitCodesAndMessages) {
  config("network", network_file);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"get", "network.lan.nope"}, 1, "uci: Entry not found\n"},
      {{"get", "nopkg.a.b"}, 1, "uci: Entry not found\n"},
      {{"get", "network.bad-name"}, 1, "uci: Invalid argument\n"},
      {{"get", "network.@rule[x]"}, 1, "uci: Invalid argument\n"},
      {{"get", "network.@rule[0]x"}, 1, "uci: Invalid argument\n"},
      {{"get", "network.lan.bad-name"}, 1, "uci: Parse error\n"},
      {{"get", "network.x.o.extra"}, 1, "uci: Parse error\n"},
      {{"get", "network.lan=1"}, 1, ""},
      {{"get", "network.lan.nope", "-q"}, 1, ""},
      {{"set", "network.nosec.opt=1"}, 1, "uci: Invalid argument\n"},
      {{"set", "network.lan.proto"}, 1, "uci: Invalid argument\n"},
      {{"set", "network.lan.x=a\x01"}, 1, "uci: Parse error\n"},
      {{"set", "network.lan=bad type"}, 1, "uci: Invalid argument\n"},
      {{"delete", "network"}, 1, "uci: Invalid argument\n"},
      {{"delete", "network.lan.nonexist"}, 1, "uci: Entry not found\n"},
      {{"delete", "network.lan.dns=abc"}, 1, ""},
      {{"rename", "network.lan.nope=x"}, 1, "uci: Entry not found\n"},
      {{"rename", "network.lan.proto"}, 1, "uci: Invalid argument\n"},
      {{"add", "nopkg", "rule"}, 3, "uci: Entry not found\n"},
      {{"revert", "nopkg"}, 1, "uci: Entry not found\n"},
      {{"revert", "network.lan=1"}, 1, ""},
      {{"commit", "nopkg"}, 1, "uci: Entry not found\n"},
      {{"revert", "network.nosuch"}, 0, ""},
  };
  for (const Case& c : cases) {
    Result r = uci(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.args[1];
  }
  Result named = raw({"/sbin/uci", "-c", conf, "get", "network.nope"});
  EXPECT_EQ(named.err, "/sbin/uci: Entry not found\n");
}

TEST_F(CliTest, UsageOptionsAnywhereAndCaseInsensitiveCommands) {
  config("network", network_file);
  Result unknown = uci({"frobnicate"});
  EXPECT_EQ(unknown.status, 255);
  EXPECT_EQ(unknown.err.rfind("Usage: uci [<options>] <command> [<arguments>]\n\nCommands:\n", 0),
            0u);
  EXPECT_EQ(uci({"add", "network"}).status, 255);
  EXPECT_EQ(uci({"get"}).status, 255);
  EXPECT_EQ(uci({"help"}).status, 0);
  EXPECT_EQ(raw({"uci"}).status, 0);
  Result weird = uci({"add", "network", "-weird"});
  EXPECT_EQ(weird.status, 0);
  EXPECT_EQ(weird.err.rfind("uci: invalid option -- 'w'\nUsage: ", 0), 0u);
  EXPECT_EQ(uci({"add", "network", "--", "-weird"}).out, "cfg04bd0d\n");
  EXPECT_EQ(uci({"GET", "network.lan.proto"}).out, "static\n");
  EXPECT_EQ(uci({"Del", "network.lan.ipaddr"}).status, 0);
  EXPECT_EQ(uci({"ren", "network.lan.proto=kind"}).status, 0);
  EXPECT_EQ(raw({"uci", "get", "-q", "network.lan.kind", "-c", conf, "-t", delta}).out, "static\n");
  EXPECT_EQ(raw({"uci", "-qc" + conf, "-t" + delta, "get", "network.lan.kind"}).out, "static\n");
}

TEST_F(CliTest, EmptyValuesDeleteAndListsBehave) {
  config("network", "config interface 'lan'\n\toption ipaddr '1'\n\tlist dns 'a'\n");
  EXPECT_EQ(uci({"set", "network.lan.ipaddr="}).status, 0);
  EXPECT_EQ(uci({"set", "network.lan.nonexist="}).status, 0);
  EXPECT_EQ(staged("network"), "-network.lan.ipaddr\n");
  EXPECT_EQ(uci({"get", "network.lan.ipaddr"}).status, 1);
  uci({"add_list", "network.lan.dns=b"});
  uci({"add_list", "network.lan.dns=b"});
  uci({"add_list", "network.lan.dns=c"});
  EXPECT_EQ(uci({"get", "network.lan.dns"}).out, "a b b c\n");
  uci({"del_list", "network.lan.dns=b"});
  EXPECT_EQ(uci({"get", "network.lan.dns"}).out, "a c\n");
  EXPECT_EQ(uci({"delete", "network.lan.dns=1x"}).status, 0);
  EXPECT_EQ(uci({"delete", "network.lan.dns=7"}).status, 0);  // out of range: nothing
  EXPECT_EQ(uci({"get", "network.lan.dns"}).out, "a\n");
  uci({"add_list", "network.lan.dns="});
  EXPECT_EQ(uci({"show", "network.lan.dns"}).out, "network.lan.dns='a' ''\n");
  uci({"del_list", "network.lan.dns=a"});
  uci({"del_list", "network.lan.dns="});
  EXPECT_EQ(uci({"show", "network.lan.dns"}).out, "network.lan.dns=\n");
  EXPECT_EQ(uci({"get", "network.lan.dns"}).out, "\n");
  EXPECT_EQ(uci({"commit", "network"}).status, 0);
  EXPECT_EQ(committed("network"), "\nconfig interface 'lan'\n\n");
  EXPECT_EQ(uci({"set", "network.lan="}).status, 0);
  EXPECT_EQ(uci({"get", "network.lan"}).status, 1);
}

TEST_F(CliTest, CommitWritesSpecialValuesByteExactAndReadsThemBack) {
  config("p", "config t 's'\n");
  const std::vector<std::pair<std::string, std::string>> values = {
      {"sq", "it's"},
      {"dq", "say \"hi\""},
      {"bs", "back\\slash\\\\ and \\n literal"},
      {"dollar", "$HOME `x` $(y)"},
      {"nl", "line1\nline2"},
      {"eq", "a=b=c"},
      {"sp", "  leading and trailing  "},
      {"hash", "#not a comment"},
      {"semi", "a;b"},
      {"utf",
       "gr\xc3\xbc\xc3\x9f"
       "e \xe2\x9c\x93"},
      {"cr", "a\rb"},
      {"tab", "a\tb"},
  };
  for (const auto& [name, value] : values)
    ASSERT_EQ(uci({"set", "p.s." + name + "=" + value}).status, 0) << name;
  for (const char* item : {"", "has space", "it's", "plain"})
    uci({"add_list", std::string("p.s.l=") + item});
  for (const auto& [name, value] : values)
    EXPECT_EQ(uci({"get", "p.s." + name}).out, value + "\n") << "staged " << name;
  ASSERT_EQ(uci({"commit", "p"}).status, 0);
  EXPECT_EQ(committed("p"),
            "\nconfig t 's'\n\toption sq 'it'\\''s'\n\toption dq 'say \"hi\"'\n"
            "\toption bs 'back\\slash\\\\ and \\n literal'\n\toption dollar '$HOME `x` $(y)'\n"
            "\toption nl 'line1\nline2'\n\toption eq 'a=b=c'\n"
            "\toption sp '  leading and trailing  '\n\toption hash '#not a comment'\n"
            "\toption semi 'a;b'\n\toption utf 'gr\xc3\xbc\xc3\x9f"
            "e \xe2\x9c\x93'\n"
            "\toption cr 'a\rb'\n\toption tab 'a\tb'\n\tlist l ''\n\tlist l 'has space'\n"
            "\tlist l 'it'\\''s'\n\tlist l 'plain'\n\n");
  for (const auto& [name, value] : values)
    EXPECT_EQ(uci({"get", "p.s." + name}).out, value + "\n") << "committed " << name;
}

TEST_F(CliTest, CommitKeepsUntouchedFilesAndReplacesChangedOnes) {
  config("network", "# my comment\nconfig interface 'lan'\n\toption proto \"static\"\n");
  ::chmod((conf + "/network").c_str(), 0640);
  EXPECT_EQ(uci({"commit", "network"}).status, 0);  // nothing staged
  EXPECT_EQ(committed("network"),
            "# my comment\nconfig interface 'lan'\n\toption proto \"static\"\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/network", "network.nosuch.x='1'\n");  // applies to nothing
  EXPECT_EQ(uci({"commit", "network"}).status, 0);
  EXPECT_EQ(committed("network").substr(0, 12), "# my comment");
  EXPECT_EQ(staged("network"), "network.nosuch.x='1'\n");

  struct stat before, after, truncated;
  ASSERT_EQ(::stat((conf + "/network").c_str(), &before), 0);
  uci({"set", "network.lan.proto=dhcp"});
  EXPECT_EQ(uci({"commit", "network"}).status, 0);
  ASSERT_EQ(::stat((conf + "/network").c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat((delta + "/network").c_str(), &truncated), 0);
  EXPECT_EQ(truncated.st_size, 0);
  EXPECT_EQ(committed("network"), "\nconfig interface 'lan'\n\toption proto 'dhcp'\n\n");
}

TEST_F(CliTest, CommitThroughSymlinkReplacesTheTarget) {
  config("real", "config t 'x'\n");
  ASSERT_EQ(::symlink("real", (conf + "/link").c_str()), 0);
  uci({"set", "link.x.a=1"});
  EXPECT_EQ(uci({"commit", "link"}).status, 0);
  struct stat st;
  ASSERT_EQ(::lstat((conf + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(committed("real"), "\nconfig t 'x'\n\toption a '1'\n\n");
}

TEST_F(CliTest, DeltaDirectoriesAreReadInOrderAndOnlyTheSavedirWritten) {
  config("network", "config interface 'lan'\n\toption proto 'static'\n");
  std::string tmpuci = defaults.savedir, sess = root + "/sess", extra = root + "/extra";
  for (const std::string& d : {tmpuci, sess, extra}) ::mkdir(d.c_str(), 0755);
  write(tmpuci + "/network", "network.lan.fromdefault='1'\n");
  write(sess + "/network", "network.lan.fromsess='1'\n");
  write(extra + "/network", "network.lan.fromextra='1'\n");
  const std::string head = "network.lan=interface\nnetwork.lan.proto='static'\n";
  EXPECT_EQ(raw({"uci", "-c", conf, "show", "network"}).out,
            head + "network.lan.fromdefault='1'\n");
  EXPECT_EQ(raw({"uci", "-c", conf, "-p", extra, "-P", sess, "show", "network"}).out,
            head +
                "network.lan.fromextra='1'\nnetwork.lan.fromdefault='1'\n"
                "network.lan.fromsess='1'\n");
  EXPECT_EQ(raw({"uci", "-c", conf, "-P", sess, "-p", extra, "show", "network"}).out,
            head +
                "network.lan.fromdefault='1'\nnetwork.lan.fromextra='1'\n"
                "network.lan.fromsess='1'\n");
  // -P: commit does nothing at all.
  EXPECT_EQ(raw({"uci", "-c", conf, "-P", sess, "commit", "network"}).status, 0);
  EXPECT_EQ(committed("network"), "config interface 'lan'\n\toption proto 'static'\n");
  // -t: commit applies both, empties only the savedir.
  EXPECT_EQ(raw({"uci", "-c", conf, "-t", sess, "commit", "network"}).status, 0);
  EXPECT_EQ(read(sess + "/network"), "");
  EXPECT_EQ(read(tmpuci + "/network"), "network.lan.fromdefault='1'\n");
  EXPECT_NE(committed("network").find("fromsess"), std::string::npos);
}

TEST_F(CliTest, RevertRemovesMatchingRecordsOnly) {
  config("network", "config interface 'lan'\nconfig rule\nconfig rule\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/network",
        "network.lan.a='2'\nnetwork.lan.b=3\nnetwork.wan='interface'\nnetwork.wan.proto='dhcp'\n"
        "network.cfg0292bd.src='wan'\n+network.cfg0492bd='rule'\nnetwork.cfg0492bd.x='y'\n");
  EXPECT_EQ(uci({"revert", "network.lan.a"}).status, 0);
  EXPECT_EQ(uci({"revert", "network.@rule[0]"}).status, 0);
  EXPECT_EQ(uci({"revert", "network.cfg0492bd"}).status, 0);
  EXPECT_EQ(staged("network"),
            "network.lan.b='3'\nnetwork.wan='interface'\nnetwork.wan.proto='dhcp'\n");
  EXPECT_EQ(uci({"revert", "network"}).status, 0);
  EXPECT_EQ(staged("network"), "");
  config("other", "config t x\n");
  EXPECT_EQ(uci({"revert", "other"}).status, 0);
  EXPECT_NE(::access((delta + "/other").c_str(), F_OK), 0);  // none created
}

TEST_F(CliTest, ExtendedIndexesCountStagedAddsAndDeletes) {
  config("dhcp", "config host\n\toption name 'h1'\nconfig host\n\toption name 'h2'\n");
  uci({"add", "dhcp", "host"});
  uci({"set", "dhcp.@host[-1].name=h3"});
  int deleted = 0;
  while (uci({"get", "dhcp.@host[-1]"}).status == 0 && deleted < 10) {
    ASSERT_EQ(uci({"delete", "dhcp.@host[-1]"}).status, 0);
    ++deleted;
  }
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(uci({"delete", "dhcp.@host[0]"}).status, 1);
  EXPECT_EQ(staged("dhcp").find('@'), std::string::npos);  // real names only
}

TEST_F(CliTest, MissingPackageCannotBeStagedUntilItsFileExists) {
  EXPECT_EQ(uci({"set", "newpkg.main=settings"}).status, 1);
  EXPECT_EQ(uci({"add", "newpkg", "thing"}).status, 3);
  config("newpkg", "");
  EXPECT_EQ(uci({"show", "newpkg"}).status, 0);
  uci({"set", "newpkg.main=settings"});
  uci({"set", "newpkg.main.enabled=1"});
  uci({"commit", "newpkg"});
  EXPECT_EQ(committed("newpkg"), "\nconfig settings 'main'\n\toption enabled '1'\n\n");
  uci({"delete", "newpkg.main"});
  uci({"commit", "newpkg"});
  EXPECT_EQ(committed("newpkg"), "\n");
}

TEST_F(CliTest, ExportAndReorder) {
  config("p", "config a 'x'\n\toption o '1'\nconfig b\n");
  EXPECT_EQ(uci({"export", "p"}).out, "package p\n\nconfig a 'x'\n\toption o '1'\n\nconfig b\n\n");
  EXPECT_EQ(uci({"-n", "export", "p"}).out,
            "package p\n\nconfig a 'x'\n\toption o '1'\n\nconfig b 'cfg02b607'\n\n");
  EXPECT_EQ(uci({"reorder", "p.@b[0]=0"}).status, 0);
  EXPECT_EQ(uci({"reorder", "p.x=5"}).status, 0);  // already last: nothing recorded
  EXPECT_EQ(staged("p"), "^p.cfg02b607='0'\n");
}

TEST_F(CliTest, OverrideDirectoryReplacesTheConfigFile) {
  config("network", "config interface 'lan'\n\toption proto 'static'\n");
  ::mkdir(defaults.overridedir.c_str(), 0755);
  write(defaults.overridedir + "/network", "config interface 'lan'\n\toption proto 'dhcp'\n");
  EXPECT_EQ(uci({"get", "network.lan.proto"}).out, "dhcp\n");
  EXPECT_EQ(uci({"-C", "", "get", "network.lan.proto"}).out, "static\n");
}

// Where the reference tool records garbage or reports success for nothing,
// ours refuses or does the sound thing.
TEST_F(CliTest, RefusesChangesThatCouldNeverApply) {
  config("q", "config t x\n\toption a 1\n");
  Result bad_rename = uci({"rename", "q.x.a=bad-name"});
  EXPECT_EQ(bad_rename.status, 1);
  EXPECT_EQ(bad_rename.err, "uci: Invalid argument\n");
  EXPECT_EQ(uci({"add_list", "q.x=v"}).status, 1);
  EXPECT_EQ(uci({"add", "q", "bad type"}).status, 2);
  EXPECT_EQ(::access((delta + "/q").c_str(), F_OK) == 0 ? staged("q") : "", "");
}

TEST_F(CliTest, AddNeverReusesTheNameOfAnExistingSection) {
  config("p", "config rule 'cfg0292bd'\n\toption mine 1\n");
  EXPECT_EQ(uci({"add", "p", "rule"}).out, "cfg0392bd\n");
  EXPECT_EQ(uci({"-X", "show", "p"}).out,
            "p.cfg0292bd=rule\np.cfg0292bd.mine='1'\np.cfg0392bd=rule\n");
}

TEST_F(CliTest, RevertOfWholePackageAlsoClearsUnreadableRecords) {
  config("q", "config t x\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/q", "q.x.b='2'\n@q.x.a='bad-name'\n");
  EXPECT_EQ(uci({"revert", "q.x.b"}).status, 0);
  EXPECT_EQ(staged("q"), "@q.x.a='bad-name'\n");
  EXPECT_EQ(uci({"revert", "q"}).status, 0);
  EXPECT_EQ(staged("q"), "");
}

TEST_F(CliTest, TypesWithQuotesSurviveACommit) {
  config("p", "config t 'x'\n");
  EXPECT_EQ(uci({"set", "p.y=a'b"}).status, 0);
  EXPECT_EQ(uci({"commit", "p"}).status, 0);
  EXPECT_EQ(uci({"get", "p.y"}).out, "a'b\n");
}

}  // namespace

namespace {

TEST_F(CliTest, AddRecordNeverStripsTheNameOfANamedSection) {
  config("p", "config rule 'cfg0292bd'\n\toption mine 1\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/p", "+p.cfg0292bd='rule'\np.cfg0292bd.x='1'\n");  // as another tool may write
  EXPECT_EQ(uci({"commit", "p"}).status, 0);
  EXPECT_EQ(committed("p"), "\nconfig rule 'cfg0292bd'\n\toption mine '1'\n\toption x '1'\n\n");
}

TEST_F(CliTest, RepeatedAddRecordsCollapseAndTypeChangesKeepSectionsAnonymous) {
  config("p", "config rule\n");
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/p", "+p.cfg0292bd='rule'\n+p.cfg0292bd='rule'\n");
  EXPECT_EQ(uci({"show", "p"}).out, "p.@rule[0]=rule\np.@rule[1]=rule\n");
  EXPECT_EQ(uci({"set", "p.@rule[0]=redirect"}).status, 0);
  EXPECT_EQ(uci({"commit", "p"}).status, 0);
  EXPECT_EQ(committed("p"), "\nconfig redirect\n\nconfig rule\n\n");
}

}  // namespace

namespace {

TEST_F(CliTest, RenameOntoAnExistingOptionReplacesIt) {
  config("network",
         "config interface 'lan'\n\toption gateway '10.0.0.1'\n\toption proto 'static'\n"
         "\toption gatewaybak '192.168.1.1'\n");
  EXPECT_EQ(uci({"rename", "network.lan.gatewaybak=gateway"}).status, 0);
  EXPECT_EQ(uci({"get", "network.lan.gateway"}).out, "192.168.1.1\n");
  EXPECT_EQ(uci({"commit", "network"}).status, 0);
  EXPECT_EQ(
      committed("network"),
      "\nconfig interface 'lan'\n\toption proto 'static'\n\toption gateway '192.168.1.1'\n\n");
  EXPECT_EQ(uci({"get", "network.lan.gateway"}).out, "192.168.1.1\n");
}

TEST_F(CliTest, RenameOntoAnotherSectionIsRefused) {
  config("p", "config a 'x'\nconfig b 'y'\n");
  Result r = uci({"rename", "p.y=x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "uci: Duplicate entry\n");
  EXPECT_EQ(uci({"rename", "p.y=z"}).status, 0);
  EXPECT_EQ(uci({"show", "p"}).out, "p.x=a\np.z=b\n");
}

}  // namespace
