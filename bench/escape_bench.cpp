// The escaping every text of a reply document goes through: a typical
// stored value (ASCII), the same length of Chinese text, a long ASCII text
// (a log page), and a text full of bytes that must be mended.
#include <benchmark/benchmark.h>

#include <string>

#include "agent/config.h"

namespace {

std::string repeat(const std::string& piece, size_t size) {
  std::string text;
  while (text.size() + piece.size() <= size) text += piece;
  return text;
}

void escape(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(xml_escape(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_EscapeAsciiValue(benchmark::State& state) {
  escape(state, "office-net-2G guest 192.168.1.1");
}
void BM_EscapeChineseValue(benchmark::State& state) {
  escape(state, repeat("\xE4\xB8\xAD", 32));
}
void BM_EscapeAsciiPage(benchmark::State& state) {
  escape(state, repeat("Jan  1 00:00:01 kern.info kernel: eth0: link up <1000 Mbps>\n", 16384));
}
void BM_EscapeBrokenBytes(benchmark::State& state) {
  escape(state, repeat("\xFF\x01\r\xC3", 32));
}

BENCHMARK(BM_EscapeAsciiValue);
BENCHMARK(BM_EscapeChineseValue);
BENCHMARK(BM_EscapeAsciiPage);
BENCHMARK(BM_EscapeBrokenBytes);

}  // namespace

BENCHMARK_MAIN();
