// Parse and free of typical POST bodies. Each iteration copies the body into
// the work buffer first, as the parser changes the buffer it reads.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "xml/xml.h"

namespace {

// One virtual access point as the wireless service receives it.
std::string vap_block(int slot) {
  std::string n = std::to_string(slot);
  return "  <VAP>\n"
         "    <INDEX>" +
         n +
         "</INDEX>\n"
         "    <ENABLE>1</ENABLE>\n"
         "    <SSID>office-net-" +
         n +
         "</SSID>\n"
         "    <HIDE>0</HIDE>\n"
         "    <ENCRYPTION>4</ENCRYPTION>\n"
         "    <KEY>3132333435363738</KEY>\n"
         "    <ISOLATE>0</ISOLATE>\n"
         "    <MAXSTA>32</MAXSTA>\n"
         "    <VLAN>" +
         std::to_string(100 + slot) +
         "</VLAN>\n"
         "  </VAP>\n";
}

std::string radio_header() {
  return "\n<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<WIRELESS>\n"
         "  <RADIO>2G</RADIO>\n"
         "  <ENABLE>1</ENABLE>\n"
         "  <MODE>11ng</MODE>\n"
         "  <CHANNEL>6</CHANNEL>\n"
         "  <BANDWIDTH>HT40</BANDWIDTH>\n"
         "  <TXPOWER>20</TXPOWER>\n"
         "  <COUNTRY>US</COUNTRY>\n"
         "  <ACTIVE>1</ACTIVE>\n";
}

// About 1 KiB: the radio settings and three access points, ~40 elements.
std::string small_body() {
  return radio_header() + vap_block(0) + vap_block(1) + vap_block(2) + "</WIRELESS>";
}

// About 64 KiB: the same with a long list of access points.
std::string large_body() {
  std::string body = radio_header();
  for (int slot = 0; body.size() < 64 * 1024 - 400; ++slot) body += vap_block(slot);
  return body + "</WIRELESS>";
}

void parse_and_free(benchmark::State& state, const std::string& body) {
  std::vector<char> buffer(body.size() + 1);
  for (auto _ : state) {
    std::memcpy(buffer.data(), body.c_str(), body.size() + 1);
    xml_node* doc = xml_parse(buffer.data(), body.size());
    if (!doc || *xml_error(doc)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(xml_child(doc, "VAP"));
    xml_free(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["bytes"] = static_cast<double>(body.size());
}

void BM_ParseSmallBody(benchmark::State& state) {
  parse_and_free(state, small_body());
}
void BM_ParseLargeBody(benchmark::State& state) {
  parse_and_free(state, large_body());
}

BENCHMARK(BM_ParseSmallBody);
BENCHMARK(BM_ParseLargeBody);

}  // namespace

BENCHMARK_MAIN();
