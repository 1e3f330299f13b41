// A store in a temporary directory: conf/ (config files), delta/ (the
// savedir given with -t), tmpuci/ (plays /tmp/.uci) and run/ (override dir).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/uci/uci.h"

struct Result {
  int status = 0;
  std::string out;
  std::string err;
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/uci-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    conf = root + "/conf";
    delta = root + "/delta";
    ::mkdir(conf.c_str(), 0755);
    defaults.confdir = conf;
    defaults.savedir = root + "/tmpuci";
    defaults.overridedir = root + "/run";
  }

  void TearDown() override {
    std::string command = "rm -rf '" + root + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // `uci -c conf -t delta ARGS`, as the transcripts run it.
  Result uci(std::vector<std::string> args) {
    args.insert(args.begin(), {"uci", "-c", conf, "-t", delta});
    return raw(args);
  }

  // The full argv, with only the built-in directories moved into root.
  Result raw(const std::vector<std::string>& argv) {
    Result r;
    r.status = uci::cli(argv, r.out, r.err, defaults);
    return r;
  }

  uci::Dirs dirs() const { return uci::Dirs{conf, delta, ""}; }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void config(const std::string& package, const std::string& text) {
    write(conf + "/" + package, text);
  }
  std::string committed(const std::string& package) { return read(conf + "/" + package); }
  std::string staged(const std::string& package) { return read(delta + "/" + package); }

  std::string root, conf, delta;
  uci::Dirs defaults;
};
