// Store read and write costs: 50 cached lookups on a two-radio wireless
// config (as one GET request makes them), the same with staged changes, a
// full parse for comparison, one `uci set` and one `uci commit` process start
// to finish, and one `uci batch` of 50 changes.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/uci/store.h"
#include "platform/uci/uci.h"

extern char** environ;

namespace {

const char* const iface_options[] = {"device",   "network",  "mode",      "ssid",   "encryption",
                                     "key",      "hidden",   "isolate",   "ifname", "wds",
                                     "maxassoc", "disabled", "macfilter", "wmm",    "rts"};

std::string wireless_config() {
  std::string text;
  for (int radio = 0; radio < 2; ++radio) {
    text += "config wifi-device 'wifi" + std::to_string(radio) + "'\n";
    text += "\toption type 'qcawifi'\n\toption channel 'auto'\n\toption txpower '20'\n";
    text += "\toption hwmode '" + std::string(radio ? "11ac" : "11ng") + "'\n";
    text += "\toption htmode 'HT40'\n\toption country 'CN'\n\toption disabled '0'\n\n";
  }
  for (int slot = 0; slot < 8; ++slot) {
    text += "config wifi-iface\n";
    for (const char* option : iface_options) {
      std::string value = option;
      if (value == "device") value = slot < 4 ? "wifi0" : "wifi1";
      if (value == "ssid") value = "Office network " + std::to_string(slot);
      if (value == "key") value = "correct horse battery staple";
      text += "\toption " + std::string(option) + " '" + value + "'\n";
    }
    text += "\tlist maclist '00:11:22:33:44:55'\n\tlist maclist '66:77:88:99:aa:bb'\n\n";
  }
  return text;
}

struct BenchStore {
  BenchStore() {
    char pattern[] = "/tmp/uci-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    conf = root + "/conf";
    // Staged changes live in RAM on the device (/tmp/.uci on tmpfs).
    char shm_pattern[] = "/dev/shm/uci-bench-XXXXXX";
    const char* shm = ::mkdtemp(shm_pattern);
    delta = shm ? shm : root + "/delta";
    ::mkdir(conf.c_str(), 0755);
    ::mkdir(delta.c_str(), 0755);
    std::ofstream(conf + "/wireless") << wireless_config();
    for (int slot = 0; slot < 8; ++slot)
      for (const char* option : iface_options) paths.push_back(path(slot, option));
    paths.resize(50);
  }
  ~BenchStore() {
    std::string command = "rm -rf '" + root + "' '" + delta + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  }
  static std::string path(int slot, const char* option) {
    return "wireless.@wifi-iface[" + std::to_string(slot) + "]." + option;
  }
  void stage(int records) {
    std::ofstream out(delta + "/wireless");
    for (int i = 0; i < records; ++i)
      out << "wireless.cfg0" << (3 + i % 8) << "3579.ssid='staged " << i << "'\n";
  }
  uci::Dirs dirs() const { return uci::Dirs{conf, delta, ""}; }

  std::string root, conf, delta;
  std::vector<std::string> paths;
};

void get_50(benchmark::State& state, int staged_records) {
  BenchStore store;
  store.stage(staged_records);
  uci::Dirs dirs = store.dirs();
  std::string value;
  for (auto _ : state) {
    for (const std::string& path : store.paths) {
      if (!uci::get(dirs, path, value)) state.SkipWithError("lookup failed");
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * 50);
}

void BM_Get50Options(benchmark::State& state) {
  get_50(state, 0);
}
void BM_Get50OptionsWithStagedChanges(benchmark::State& state) {
  get_50(state, 40);
}

// What every lookup would cost without the cache: parse plus replay.
void BM_ParseWirelessWithStagedChanges(benchmark::State& state) {
  BenchStore store;
  store.stage(40);
  uci::Store where{store.conf, "", {store.delta}};
  for (auto _ : state) {
    uci::Loaded loaded;
    if (uci::load(where, "wireless", uci::Access::read, true, loaded) != uci::ok)
      state.SkipWithError("load failed");
    benchmark::DoNotOptimize(loaded.pkg.sections.data());
  }
}

// Starts the built `uci` with args and waits; false unless it exits 0.
bool run_uci(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, UCI_PROGRAM, nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_UciSetProcess(benchmark::State& state) {
  BenchStore store;
  int n = 0;
  for (auto _ : state) {
    std::string path = "wireless.@wifi-iface[1].ssid=name" + std::to_string(n++);
    if (!run_uci({UCI_PROGRAM, "-c", store.conf, "-t", store.delta, "set", path}))
      state.SkipWithError("uci set failed");
    state.PauseTiming();
    store.stage(0);  // keep the delta small, as after a commit
    state.ResumeTiming();
  }
}

// One commit of 8 staged changes: the file rewritten, the delta emptied.
void BM_UciCommitProcess(benchmark::State& state) {
  BenchStore store;
  for (auto _ : state) {
    state.PauseTiming();
    store.stage(8);
    state.ResumeTiming();
    if (!run_uci({UCI_PROGRAM, "-c", store.conf, "-t", store.delta, "commit", "wireless"}))
      state.SkipWithError("uci commit failed");
  }
}

// One batch of 50 changes, as a firmware defaults script stages them.
void BM_UciBatch50Sets(benchmark::State& state) {
  BenchStore store;
  std::string input = store.root + "/batch";
  {
    std::ofstream out(input);
    for (size_t i = 0; i < store.paths.size(); ++i)
      out << "set " << store.paths[i] << "=b" << i << "\n";
  }
  for (auto _ : state) {
    if (!run_uci({UCI_PROGRAM, "-c", store.conf, "-t", store.delta, "-f", input, "batch"}))
      state.SkipWithError("uci batch failed");
    state.PauseTiming();
    store.stage(0);
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(BM_Get50Options);
BENCHMARK(BM_Get50OptionsWithStagedChanges);
BENCHMARK(BM_ParseWirelessWithStagedChanges);
BENCHMARK(BM_UciSetProcess)->UseRealTime();
BENCHMARK(BM_UciCommitProcess)->UseRealTime();
BENCHMARK(BM_UciBatch50Sets)->UseRealTime();
BENCHMARK_MAIN();
