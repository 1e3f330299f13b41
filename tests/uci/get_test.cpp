// The library read path: lookups, staged changes, and the package cache
// seeing every change made behind its back.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "tests/uci/store_fixture.h"

namespace {

class GetTest : public StoreTest {
 protected:
  std::string get(const std::string& path) {
    std::string value = "garbage";
    found = uci::get(dirs(), path, value);
    return value;
  }
  bool found = false;
};

TEST_F(GetTest, ResolvesSectionsOptionsAndListsLikeTheAgentExpects) {
  config("network",
         "config interface 'lan'\n\toption proto 'static'\n\tlist dns 'a'\n\tlist dns 'b c'\n"
         "config rule\n\toption src 'wan'\n");
  EXPECT_EQ(get("network.lan"), "interface");
  EXPECT_EQ(get("network.lan.proto"), "static");
  EXPECT_EQ(get("network.lan.dns"), "a b c");
  EXPECT_EQ(get("network.@rule[0].src"), "wan");
  EXPECT_EQ(get("network.@interface[-1]"), "interface");
  EXPECT_EQ(get("network"), "");
  EXPECT_TRUE(found);
  for (const char* missing :
       {"network.lan.nope", "network.nope", "network.nope.x", "nopkg.a.b", "network.bad-name",
        "network.@rule[x]", "network.lan.bad-name", "network.@rule[1].src"}) {
    EXPECT_EQ(get(missing), "") << missing;
    EXPECT_FALSE(found) << missing;
  }
  config("broken", "config t 'x\n");
  EXPECT_EQ(get("broken.x"), "");
  EXPECT_FALSE(found);
}

// The name is the one `uci show` prints for the section, staged sections
// included; a package or anything unresolved has none.
TEST_F(GetTest, SectionNamesAreTheNamesShowPrints) {
  config("network", "config interface 'lan'\nconfig qos\n\toption type 'ip'\nconfig qos 'qos'\n");
  uci({"add", "network", "qos"});
  for (const char* path : {"network.lan", "network.@qos[0]", "network.@qos[-1]", "network.@qos[1]",
                           "network.@qos[0].type"}) {
    std::string shown = uci({"show", path}).out;
    shown = shown.substr(shown.find('.') + 1);
    std::string name;
    EXPECT_TRUE(uci::section_name(dirs(), path, name)) << path;
    EXPECT_EQ(name, shown.substr(0, shown.find_first_of(".="))) << path;
  }
  for (const char* none :
       {"network", "network.nope", "network.@qos[5]", "nopkg.a", "network.@qos[x]"}) {
    std::string name = "garbage";
    EXPECT_FALSE(uci::section_name(dirs(), none, name)) << none;
    EXPECT_EQ(name, "") << none;
  }
}

// A count is what resolving "@TYPE[N]" up to the first miss gives, staged
// additions and deletions included.
TEST_F(GetTest, CountsSectionsOfATypeAsTheyAreNow) {
  config("firewall", "config rule\nconfig redirect 'r'\nconfig rule\nconfig rule\n");
  uci({"add", "firewall", "rule"});
  uci({"delete", "firewall.@rule[0]"});
  uci({"add", "firewall", "url"});
  struct Case {
    const char* package;
    const char* type;
    bool readable;
    size_t count;
  } cases[] = {{"firewall", "rule", true, 3},     {"firewall", "redirect", true, 1},
               {"firewall", "url", true, 1},      {"firewall", "nope", true, 0},
               {"firewall", "bad-type", true, 0}, {"nopkg", "rule", false, 0},
               {"bad.pkg", "rule", false, 0}};
  for (const Case& c : cases) {
    size_t count = 99;
    EXPECT_EQ(uci::count_sections(dirs(), c.package, c.type, count), c.readable) << c.type;
    EXPECT_EQ(count, c.count) << c.package << " " << c.type;
    size_t resolved = 0;
    while (
        !get(std::string(c.package) + ".@" + c.type + "[" + std::to_string(resolved) + "]").empty())
      ++resolved;
    EXPECT_EQ(count, resolved) << c.type;
  }
}

TEST_F(GetTest, SeesStagedChangesBeforeCommit) {
  config("network", "config interface 'lan'\n\toption proto 'static'\nconfig rule\n");
  EXPECT_EQ(get("network.lan.proto"), "static");
  uci({"set", "network.lan.proto=dhcp"});
  EXPECT_EQ(get("network.lan.proto"), "dhcp");
  uci({"delete", "network.@rule[0]"});
  EXPECT_EQ(get("network.@rule[0]"), "");
  EXPECT_FALSE(found);
  uci({"commit", "network"});
  EXPECT_EQ(get("network.lan.proto"), "dhcp");
  uci({"revert", "network"});
  EXPECT_EQ(get("network.lan.proto"), "dhcp");
}

TEST_F(GetTest, CacheNoticesSameSizeRewritesAndReplacedFiles) {
  config("p", "config t x\n\toption a '1'\n");
  EXPECT_EQ(get("p.x.a"), "1");
  // Same size, same second: only nanoseconds or ctime tell the difference.
  config("p", "config t x\n\toption a '2'\n");
  EXPECT_EQ(get("p.x.a"), "2");
  // Same size and mtime put back by hand: the change time still moves.
  struct stat st;
  ASSERT_EQ(::stat((conf + "/p").c_str(), &st), 0);
  config("p", "config t x\n\toption a '3'\n");
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, (conf + "/p").c_str(), times, 0), 0);
  EXPECT_EQ(get("p.x.a"), "3");
  // A delta written by someone else, and a file appearing in the override dir.
  ::mkdir(delta.c_str(), 0755);
  write(delta + "/p", "p.x.a='4'\n");
  EXPECT_EQ(get("p.x.a"), "4");
  ::unlink((delta + "/p").c_str());
  EXPECT_EQ(get("p.x.a"), "3");
  uci::Dirs with_override = dirs();
  with_override.overridedir = root + "/run";
  ::mkdir(with_override.overridedir.c_str(), 0755);
  write(with_override.overridedir + "/p", "config t x\n\toption a '5'\n");
  std::string value;
  EXPECT_TRUE(uci::get(with_override, "p.x.a", value));
  EXPECT_EQ(value, "5");
}

TEST_F(GetTest, KeepsPackagesOfDifferentStoresApart) {
  config("p", "config t x\n\toption a 'main'\n");
  std::string rom = root + "/rom";
  ::mkdir(rom.c_str(), 0755);
  write(rom + "/p", "config t x\n\toption a 'rom'\n");
  std::string value;
  EXPECT_TRUE(uci::get(uci::Dirs{rom, delta, ""}, "p.x.a", value));
  EXPECT_EQ(value, "rom");
  EXPECT_EQ(get("p.x.a"), "main");
  // Staged changes apply whichever config directory the package came from.
  uci({"set", "p.x.a=staged"});
  EXPECT_TRUE(uci::get(uci::Dirs{rom, delta, ""}, "p.x.a", value));
  EXPECT_EQ(value, "staged");
}

}  // namespace
