#include "services/common/value_shapes.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

bool blank_separated_ports(std::string_view text) {
  return list_of(text, " ", port_number);
}

TEST(ValueShapes, EdgesOfEachShape) {
  struct Case {
    bool (*shape)(std::string_view);
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {port_number, "1", true},
      {port_number, "65535", true},
      {port_number, "0", false},
      {port_number, "65536", false},
      {port_number, "99999999999999999999", false},
      {port_number, "+80", false},
      {port_or_range, "8000-8010", true},
      {port_or_range, "5-5", true},
      {port_or_range, "6-5", false},
      {port_or_range, "-5", false},
      {port_or_range, "5-", false},
      {port_or_range, "1-2-3", false},
      {ipv4_range, "10.0.0.1-10.0.0.9", true},
      {ipv4_range, "10.0.0.1-", false},
      {ipv4_range, " 10.0.0.1-10.0.0.9", false},
      {ipv4_range, "10.0.0.1-10.0.0.9 ", false},
      {mac_address, "3C:15:c2:a1:07:5e", true},
      {mac_address, "0:1:2:3:4:5", true},
      {mac_address, "aa:bb:cc:dd:ee:fg", false},
      {mac_address, "aa:bb:cc:dd:ee:ff:00", false},
      {mac_address, "aa::cc:dd:ee:ff", false},
      {mac_address, "aaa:b:c:d:e:f", false},
      {mac_address, "aa:bb:cc:dd:ee:", false},
      {protocol_word, "47", true},
      {protocol_word, "tcp udp", false},
      {host_name, "pool.ntp.org", true},
      {host_name, "-S", false},
      {plain_word, "http://a/b?c=1&d", true},
      {plain_word, "-x", false},
      {plain_word, "a\\b", false},
      {plain_word, "caf\xc3\xa9", false},
      {blank_separated_ports, "", true},
      {blank_separated_ports, "  80  443 ", true},
      {blank_separated_ports, "80,443", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.shape(c.text), c.valid) << c.text;
}

}  // namespace
