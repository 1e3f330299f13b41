// The store changes start the real `uci` tool without a shell: the staged
// changes must be byte for byte those the same command lines gave through
// /bin/sh. The tool runs on a temporary store through a wrapper found in PATH.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "agent/config.h"
#include "platform/effects.h"
#include "platform/shell.h"

namespace fs = std::filesystem;

namespace {

const char* const nasty = "it's \"a\" $HOME `id` \\n\\\\ end\nsecond #line; x\r\t'\n";

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StoreChangeTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("PALLAD_BIN");
    if (!bin) GTEST_SKIP() << "PALLAD_BIN not set";
    dir = fs::temp_directory_path() / ("store-change-" + std::to_string(::getpid()));
    fs::create_directories(dir / "bin");
    std::ofstream(dir / "bin/uci")
        << "#!/bin/sh\nexec " << bin << "/uci -c " << (dir / "config").string() << " -t "
        << (dir / "delta").string() << " \"$@\"\n";
    fs::permissions(dir / "bin/uci", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    saved_path = path ? path : "";
    setenv("PATH", ((dir / "bin").string() + ":" + saved_path).c_str(), 1);
  }
  void TearDown() override {
    if (dir.empty()) return;
    setenv("PATH", saved_path.c_str(), 1);
    fs::remove_all(dir);
  }

  // A fresh store; returns what the changes left in the delta and the package.
  std::string store_after(const std::function<void()>& change) {
    fs::remove_all(dir / "config");
    fs::remove_all(dir / "delta");
    fs::create_directories(dir / "config");
    fs::create_directories(dir / "delta");
    std::ofstream(dir / "config/network") << "config interface 'lan'\n\toption name 'old'\n";
    change();
    return slurp(dir / "delta/network") + "--\n" + slurp(dir / "config/network");
  }

  fs::path dir;
  std::string saved_path;
};

TEST_F(StoreChangeTest, EveryHelperStagesWhatTheShellCommandLineStaged) {
  std::string quoted = "\"" + shell_dquote_escape(nasty) + "\"";
  struct Case {
    const char* name;
    std::function<void()> helper;
    std::string command_line;
  } cases[] = {
      {"set", [] { cfg_set("network.lan.name", nasty); }, "uci set network.lan.name=" + quoted},
      {"add_list", [] { cfg_add_list("network.lan.dns", nasty); },
       "uci add_list network.lan.dns=" + quoted},
      {"delete", [] { cfg_delete("network.lan.name"); }, "uci delete network.lan.name"},
      {"commit",
       [] {
         cfg_set("network.lan.name", nasty);
         cfg_commit("network");
       },
       "uci set network.lan.name=" + quoted + "; uci commit network"},
      {"refused change between two",
       [] {
         cfg_set("network.lan.a", "1");
         cfg_set("network.nosection.b", nasty);
         cfg_add_list("network.lan.dns", nasty);
       },
       "uci set network.lan.a=1; uci set network.nosection.b=" + quoted +
           "; uci add_list network.lan.dns=" + quoted},
  };
  for (const Case& c : cases) {
    std::string through_shell = store_after([&] { std::system(c.command_line.c_str()); });
    EXPECT_NE(through_shell, store_after([] {})) << c.name << ": the shell changed nothing";
    EXPECT_EQ(store_after(c.helper), through_shell) << c.name;
    auto batched = [&] {
      store_batch batch;
      c.helper();
    };
    EXPECT_EQ(store_after(batched), through_shell) << c.name << " in a batch";
  }
}

// Inside a batch the changes wait until an effect or a read needs them.
TEST_F(StoreChangeTest, BatchedChangesAreStagedBeforeTheNextEffectOrRead) {
  std::string delta = store_after([&] {
    store_batch batch;
    cfg_set("network.lan.name", "first");
    EXPECT_FALSE(fs::exists(dir / "delta/network"));
    cfg_get("network.lan.name");
    EXPECT_NE(slurp(dir / "delta/network").find("first"), std::string::npos);
    cfg_set("network.lan.name", "second");
    fx().run("true");
    EXPECT_NE(slurp(dir / "delta/network").find("second"), std::string::npos);
    cfg_set("network.lan.name", "third");
  });
  EXPECT_EQ(delta.substr(0, delta.find("--")),
            "network.lan.name='first'\nnetwork.lan.name='second'\nnetwork.lan.name='third'\n");
}

TEST_F(StoreChangeTest, AToolThatCannotBeStartedIsReportedAsTheShellReportsIt) {
  setenv("PATH", (dir / "nothing").string().c_str(), 1);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(cfg_set("network.lan.name", "x"), 0);
  EXPECT_EQ(cfg_commit("network"), 0);
  EXPECT_EQ(fx().run_program({"uci"}, "uci"), 127 << 8);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "sh: uci: not found\nsh: uci: not found\n"
            "sh: uci: not found\n");
  testing::internal::GetCapturedStdout();
}

}  // namespace
