// Reading config files: word rules, statements, errors, anonymous names.
#include "platform/uci/store.h"
#include "tests/uci/store_fixture.h"

namespace {

TEST_F(StoreTest, EveryQuotingFormReadsAsDocumented) {
  config("p",
         "config  t1   'named1'   # trailing comment\n"
         "\toption c unquoted\n"
         "\toption d un\\ quoted\\ with\\ escaped\\ spaces\n"
         "\toption e \"dq with \\\"escaped\\\" quote and \\\\ backslash and \\$x and \\n\"\n"
         "\toption f 'sq with \\ backslash and \"dq\" and $x'\n"
         "\toption g 'con'\"cat\"enated\n"
         "\toption h 'it'\\''s'\n"
         "\toption i foo#bar\n"
         "\toption j 'foo#bar'\n"
         "\toption k \"multi\nline\"\n"
         "\toption m cont\\\ninued\n"
         "\toption n \"dq cont\\\ninued\"\n"
         "\toption o 'sq cont\\\ninued'\n"
         "\toption p ''\n"
         "\toption q\n"
         "\tlist r 'x'\n"
         "\tlist r ''\n"
         "\tlist r 'z'\n"
         "\toption s a; option t b\n"
         "\toption u 'x';option v y\n"
         "\toption w a ; option x b");
  Result r = uci({"show", "p"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "p.named1=t1\n"
            "p.named1.c='unquoted'\n"
            "p.named1.d='un quoted with escaped spaces'\n"
            "p.named1.e='dq with \"escaped\" quote and \\ backslash and $x and n'\n"
            "p.named1.f='sq with \\ backslash and \"dq\" and $x'\n"
            "p.named1.g='concatenated'\n"
            "p.named1.h='it'\\''s'\n"
            "p.named1.i='foo'\n"
            "p.named1.j='foo#bar'\n"
            "p.named1.k='multi\nline'\n"
            "p.named1.m='continued'\n"
            "p.named1.n='dq continued'\n"
            "p.named1.o='sq cont\\\ninued'\n"
            "p.named1.r='x' '' 'z'\n"
            "p.named1.s='a'\n"
            "p.named1.u='x'\n"
            "p.named1.v='y'\n"
            "p.named1.w='a'\n"
            "p.named1.x='b'\n");
}

TEST_F(StoreTest, CrlfIndentationShortKeywordsAndPackageLines) {
  config("p", "package p\r\nc t 'x'\r\n   o a 'quoted'\r\n\t\to b bare\r\nl c 1\r\n");
  EXPECT_EQ(uci({"show", "p"}).out, "p.x=t\np.x.a='quoted'\np.x.b='bare'\np.x.c='1'\n");
}

TEST_F(StoreTest, RepeatedOptionsListsAndSectionsMerge) {
  config("p",
         "config t x\n\toption a 1\n\toption b k\n\toption a 2\n"
         "config t y\n\tlist a 1\n\toption a 2\n"
         "config t z\n\toption a 1\n\tlist a 2\n"
         "config t x\n\toption c 3\n"
         "config t w\n\toption a ''\n\tlist e\n");
  EXPECT_EQ(uci({"show", "p"}).out,
            "p.x=t\np.x.a='2'\np.x.b='k'\np.x.c='3'\n"
            "p.y=t\np.y.a='2'\n"
            "p.z=t\np.z.a='1' '2'\n"
            "p.w=t\np.w.e=''\n");
}

TEST_F(StoreTest, ParseErrorsNameReasonAndLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"config t 'bad-name'\n", "Parse error (invalid character in name field) at line 1, byte 20"},
      {"config t x\n\toption a 1 2\n", "Parse error (too many arguments) at line 2, byte 14"},
      {"config t 'x'\nconfig u 'x'\n",
       "Parse error (section of different type overwrites prior section with same name) at line 2, "
       "byte 13"},
      {"Config t\n", "Parse error (invalid command)"},
      {"option a b\n", "Parse error (option/list command found before the first section)"},
      {"config\n", "Parse error (insufficient arguments)"},
      {"config t 'x\n", "Parse error (EOF with unterminated ')"},
      {"config t \"x\n", "Parse error (EOF with unterminated \")"},
      {"config \"a b\"\n", "Parse error (invalid character in type field)"},
      {"config t x y\n", "Parse error (too many arguments)"},
  };
  for (const Case& c : cases) {
    config("bad", c.text);
    Result r = uci({"get", "bad.x"});
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.err.rfind(std::string("uci: ") + c.message, 0), 0u) << c.text << r.err;
  }
  // Every command on the package fails; show of everything goes on.
  config("good", "config t g\n");
  Result all = uci({"show"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out, "good.g=t\n");
  EXPECT_NE(all.err.find("uci: Parse error"), std::string::npos);
}

TEST_F(StoreTest, NonStrictModeSkipsBadLines) {
  config("p", "config t x\n\toption a 1 2\n\toption b 2\n");
  Result r = uci({"-S", "show", "p"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "p.x=t\np.x.b='2'\n");
  EXPECT_EQ(r.err.rfind("Parse error (too many arguments) at line 2", 0), 0u);
}

TEST(AnonymousName, MatchesReferenceVectors) {
  const std::string long_type = "a_very_long_type_name_that_overflows_32bits_ZZ";
  EXPECT_EQ(uci::anonymous_name(1, "rule"), "cfg0192bd");
  EXPECT_EQ(uci::anonymous_name(2, "host"), "cfg02fe63");
  EXPECT_EQ(uci::anonymous_name(3, "wifi-iface"), "cfg033579");
  EXPECT_EQ(uci::anonymous_name(4, "wifi-device"), "cfg049e91");
  EXPECT_EQ(uci::anonymous_name(10, "interface"), "cfg0a6d96");
  EXPECT_EQ(uci::anonymous_name(11, "t"), "cfg0bb619");
  EXPECT_EQ(uci::anonymous_name(2, long_type), "cfg02c6ba");
  EXPECT_EQ(uci::anonymous_name(255, long_type), "cfgffc6ba");
  EXPECT_EQ(uci::anonymous_name(256, long_type), "cfg100c6ba");
}

TEST_F(StoreTest, AnonymousCounterCountsNamedDeletedAndReplayedSections) {
  config("firewall",
         "config rule\n\toption name 'r1'\nconfig zone 'z'\nconfig rule\n\toption name 'r2'\n"
         "config zone 'z'\n");  // merged duplicate: not counted
  EXPECT_EQ(uci({"-X", "show", "firewall"}).out,
            "firewall.cfg0192bd=rule\nfirewall.cfg0192bd.name='r1'\nfirewall.z=zone\n"
            "firewall.cfg0392bd=rule\nfirewall.cfg0392bd.name='r2'\n");
  EXPECT_EQ(uci({"delete", "firewall.@rule[-1]"}).status, 0);
  EXPECT_EQ(uci({"set", "firewall.extra=zone"}).status, 0);
  EXPECT_EQ(uci({"add", "firewall", "rule"}).out, "cfg0592bd\n");
  EXPECT_EQ(uci({"add", "firewall", "rule"}).out, "cfg0692bd\n");
}

TEST_F(StoreTest, AnonymousNamesRenumberAfterCommit) {
  config("firewall",
         "config rule\n\toption name 'r1'\nconfig rule\n\toption name 'r2'\n"
         "config rule\n\toption name 'r3'\n");
  uci({"delete", "firewall.@rule[-1]"});
  EXPECT_EQ(uci({"get", "firewall.@rule[-1].name"}).out, "r2\n");
  uci({"delete", "firewall.@rule[-1]"});
  EXPECT_EQ(uci({"add", "firewall", "rule"}).out, "cfg0492bd\n");
  uci({"set", "firewall.@rule[-1].name=r4"});
  EXPECT_EQ(uci({"add", "firewall", "rule"}).out, "cfg0592bd\n");
  uci({"set", "firewall.@rule[-1].name=r5"});
  EXPECT_EQ(staged("firewall"),
            "-firewall.cfg0392bd\n-firewall.cfg0292bd\n+firewall.cfg0492bd='rule'\n"
            "firewall.cfg0492bd.name='r4'\n+firewall.cfg0592bd='rule'\n"
            "firewall.cfg0592bd.name='r5'\n");
  uci({"delete", "firewall.@rule[0]"});
  EXPECT_EQ(uci({"add", "firewall", "rule"}).out, "cfg0692bd\n");
  EXPECT_EQ(uci({"commit", "firewall"}).status, 0);
  EXPECT_EQ(committed("firewall"),
            "\nconfig rule\n\toption name 'r4'\n\nconfig rule\n\toption name 'r5'\n\n"
            "config rule\n\n");
  EXPECT_EQ(uci({"-X", "show", "firewall"}).out,
            "firewall.cfg0192bd=rule\nfirewall.cfg0192bd.name='r4'\nfirewall.cfg0292bd=rule\n"
            "firewall.cfg0292bd.name='r5'\nfirewall.cfg0392bd=rule\n");
}

}  // namespace
