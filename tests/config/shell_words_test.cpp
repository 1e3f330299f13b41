// The fake's own behaviour that every handler test relies on: shell word
// splitting of store commands, canned outputs, the fixture tree and the
// recorded effects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/fake_effects.h"

namespace {

using Words = std::vector<std::string>;

TEST(ShellWords, PlainWordsAndBlanks) {
  EXPECT_EQ(shell_words("uci  set\ta.b.c=1\n"), (Words{"uci", "set", "a.b.c=1"}));
  EXPECT_EQ(shell_words("   "), Words{});
  EXPECT_EQ(shell_words("uci get x # comment"), (Words{"uci", "get", "x"}));
  EXPECT_EQ(shell_words("a#b"), Words{"a#b"});
}

TEST(ShellWords, SingleQuotesKeepEverything) {
  EXPECT_EQ(shell_words("set 'a b'\"c\"d"), (Words{"set", "a bcd"}));
  EXPECT_EQ(shell_words("'$x \\ \"'"), Words{"$x \\ \""});
  EXPECT_EQ(shell_words("'it'\\''s'"), Words{"it's"});
  EXPECT_EQ(shell_words("''"), Words{""});
}

TEST(ShellWords, DoubleQuotesEscapeOnlyFourCharactersAndNewline) {
  EXPECT_EQ(shell_words("x=\"a\\\"b\\$c\\`d\\\\e\""), Words{"x=a\"b$c`d\\e"});
  EXPECT_EQ(shell_words("\"a\\nb\""), Words{"a\\nb"});
  EXPECT_EQ(shell_words("\"a\\\nb\""), Words{"ab"});
  EXPECT_EQ(shell_words("\"a b;|&\""), Words{"a b;|&"});
}

TEST(ShellWords, BackslashOutsideQuotesKeepsTheNextCharacter) {
  EXPECT_EQ(shell_words("a\\ b \\; c\\\nd"), (Words{"a b", ";", "cd"}));
}

TEST(ShellWords, RefusesWhatNeedsMoreThanSplitting) {
  for (const char* text : {"uci set a=1; reboot", "a | b", "a && b", "a > f", "echo $ip",
                           "x=\"$(id)\"", "`id`", "'open", "\"open", "(a)"})
    EXPECT_FALSE(shell_words(text).has_value()) << text;
}

class FakeEffectsBehaviour : public FakeEffectsTest {};

TEST_F(FakeEffectsBehaviour, StoreCommandsUseTheTemporaryStore) {
  fake.write_config("system", "config system\n\toption hostname 'ap'\n");
  EXPECT_EQ(fake.capture("/sbin/uci get system.@system[0].hostname"), "ap\n") << fake.uci_errors();
  EXPECT_EQ(fake.run("uci set 'system.@system[0].hostname'=\"new name\""), 0);
  EXPECT_EQ(fake.capture("uci -c /etc/config get system.@system[0].hostname"), "new name\n");
  EXPECT_NE(fake.run("uci get system.nope"), 0);
  EXPECT_EQ(fake.commands().size(), 4u);
}

TEST_F(FakeEffectsBehaviour, CannedOutputsByExactCommandThenLongestPrefix) {
  fake.on_capture_prefix("cat ", "short");
  fake.on_capture_prefix("cat /sys", "long");
  fake.on_capture("cat /sys/x", "exact");
  EXPECT_EQ(fake.capture("cat /sys/x"), "exact");
  EXPECT_EQ(fake.capture("cat /sys/y"), "long");
  EXPECT_EQ(fake.capture("cat /etc/z", 3), "sho");
  EXPECT_EQ(fake.capture("ls"), "");
  EXPECT_EQ(fake.run("/etc/init.d/network restart"), 0);
  EXPECT_EQ(fake.commands().back(), "/etc/init.d/network restart");
}

TEST_F(FakeEffectsBehaviour, FilesLiveUnderTheRootAndAreRemovedWithIt) {
  std::string root = fake.root();
  EXPECT_EQ(fake.host_path("/etc/config"), root + "/etc/config");
  fake.put_file("/var/run/x/pid", "42\n");
  EXPECT_TRUE(fx().write_file("/tmp/a", "1"));
  EXPECT_FALSE(fx().write_file("/nodir/a", "1"));
  EXPECT_EQ(fx().list_dir("/tmp"), Words{"a"});
  EXPECT_EQ(fake.file_text("/var/run/x/pid"), "42\n");
  EXPECT_TRUE(fx().remove_file("/tmp/a"));
  EXPECT_FALSE(fx().exists("/tmp/a"));
  {
    FakeEffects other;
    root = other.root();
    EXPECT_TRUE(fx().exists("/var/run/x/pid"));
  }
  EXPECT_NE(access(root.c_str(), F_OK), 0);
}

TEST_F(FakeEffectsBehaviour, ExitThrowsAndRandomnessCanFail) {
  EXPECT_THROW(fx().exit_process(3), FakeExit);
  unsigned char bytes[4];
  EXPECT_TRUE(fx().random_bytes(bytes, sizeof bytes));
  fake.set_random_fails(true);
  EXPECT_FALSE(fx().random_bytes(bytes, sizeof bytes));
}

}  // namespace
