// The production line's query interface on the request socket: a GET request
// with an "opcode" query asks for the product's factory information (JSON),
// a factory reset, or the result of the reset-button test. Replies are a
// CGI header followed by JSON, not the result envelope.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* factory_reply_header = "Content-type: text/html\n\n";
// Limits of one query: longer names and values are cut, further pairs ignored.
inline constexpr size_t query_name_limit = 127;
inline constexpr size_t query_value_limit = 4095;
inline constexpr size_t query_pair_limit = 255;

struct query_pair {
  std::string name;
  std::string value;
};

// Undoes the query encoding: '+' becomes a blank, "%XY" the byte 0xXY. A '%'
// with fewer than two characters after it is dropped with what follows it.
// The result ends at the first decoded zero byte.
std::string query_decode(const std::string& raw);
// Splits "name=value&name=value..." into decoded pairs. A trailing name
// without '=' is ignored.
std::vector<query_pair> query_parse(const char* text);

// Escapes text for a JSON string: '"', '\' and control characters.
std::string json_escape(const std::string& text);

// A value of the read-only factory configuration (first output line of
// "uci -q -c /rom/etc/config/ get PATH", at most 511 characters, one trailing
// whitespace character removed); empty when unset.
std::string rom_cfg_get(const std::string& path);

// One band of the factory information.
struct wlan_band {
  std::string ssid;
  std::string channel;
  int authmode = 0;
  int cipher = 0;
  std::string password;
};
// The factory settings of virtual interface vap (0-3 radio wifi0, 4-7 wifi1).
wlan_band wlan_factory_info(int vap);
// The product information object of opcode 1.
std::string product_info();

// Answers a factory query; query points at the first "opcode" of the request
// and runs to its end. Writes the whole reply to fd and returns 0.
int factory_request(int fd, char* query);
