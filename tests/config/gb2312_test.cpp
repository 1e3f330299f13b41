// Our GB2312 converter against the mapping it was made from, glibc's "GB2312"
// converter: pairs and characters it takes or refuses, and where a conversion
// stops. The comparisons with glibc run on the build host (the target's runs
// have no glibc converter modules); the fixed cases run everywhere, the
// target's C library included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "agent/config.h"

#if defined(__GLIBC__) && !defined(__mips__)
#include <iconv.h>
#endif

namespace {

struct Result {
  int status;
  std::string out;
  bool operator==(const Result& other) const { return status == other.status && out == other.out; }
};

std::ostream& operator<<(std::ostream& os, const Result& result) {
  os << result.status << " [";
  for (unsigned char c : result.out) os << std::hex << unsigned{c} << ' ';
  return os << ']';
}

using ConvertFunction = int (*)(const char*, size_t, char*, size_t);

// The whole output buffer is compared, filled with '#' before.
Result ours(ConvertFunction convert, const std::string& in, size_t out_size) {
  std::string out(out_size + 4, '#');
  int status = convert(in.data(), in.size(), out.data(), out_size);
  // Nothing is written past the output's size.
  EXPECT_EQ(out.substr(out_size), "####");
  out.resize(out_size);
  return {status, out};
}

std::string utf8_of(uint32_t code) {
  std::string s;
  if (code < 0x80) {
    s += static_cast<char>(code);
  } else if (code < 0x800) {
    s += static_cast<char>(0xC0 | code >> 6);
    s += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    s += static_cast<char>(0xE0 | code >> 12);
    s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | code >> 18);
    s += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (code & 0x3F));
  }
  return s;
}

std::string pair_of(unsigned pair) {
  return {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
}

// Pairs whose mapping differs between converters, and pairs GB2312 lacks.
TEST(Gb2312, FixedPairs) {
  struct Case {
    unsigned pair;
    uint32_t code;  // 0: refused
  } cases[] = {
      {0xA1A1, 0x3000}, {0xA1A4, 0x30FB}, {0xA1AA, 0x2015}, {0xA1E8, 0x00A4}, {0xA3A4, 0xFFE5},
      {0xB0A1, 0x554A}, {0xD7F9, 0x5EA7}, {0xD7FA, 0},      {0xF7FE, 0x9F44}, {0xAAA1, 0},
      {0xF8A1, 0},      {0xA2A1, 0},      {0x8140, 0},      {0xA140, 0},      {0xFEFE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.pair);
    Result decoded = ours(gb2312_to_utf8, pair_of(c.pair), 3);
    if (c.code == 0) {
      EXPECT_EQ(decoded, (Result{-1, "###"}));
      continue;
    }
    std::string utf8 = utf8_of(c.code);
    EXPECT_EQ(decoded, (Result{0, utf8 + std::string(3 - utf8.size(), '#')}));
    EXPECT_EQ(ours(utf8_to_gb2312, utf8, 2), (Result{0, pair_of(c.pair)}));
  }
  // U+00B7 and U+2014 are not GB2312 characters.
  EXPECT_EQ(ours(utf8_to_gb2312, utf8_of(0xB7), 2), (Result{-1, "##"}));
  EXPECT_EQ(ours(utf8_to_gb2312, utf8_of(0x2014), 2), (Result{-1, "##"}));
}

#if defined(__GLIBC__) && !defined(__mips__)

// Converts with glibc's converter, opened once per direction.
Result glibc(iconv_t cd, const std::string& in, size_t out_size) {
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "glibc has no GB2312 converter";
  if (cd == reinterpret_cast<iconv_t>(-1)) return {-2, ""};
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(out_size, '#');
  char* in_next = const_cast<char*>(in.data());
  size_t in_left = in.size();
  char* out_next = out.data();
  size_t out_left = out_size;
  bool stopped = iconv(cd, &in_next, &in_left, &out_next, &out_left) == static_cast<size_t>(-1);
  return {stopped ? -1 : 0, out};
}

Result glibc_decode(const std::string& in, size_t out_size) {
  static iconv_t cd = iconv_open("UTF-8", "GB2312");
  return glibc(cd, in, out_size);
}

Result glibc_encode(const std::string& in, size_t out_size) {
  static iconv_t cd = iconv_open("GB2312", "UTF-8");
  return glibc(cd, in, out_size);
}

TEST(Gb2312, EveryPairDecodesAsGlibc) {
  int decoded = 0;
  for (unsigned lead = 0xA1; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
      // Followed by a byte of its own, so a pair that is taken is seen to
      // end where glibc ends it.
      std::string in = pair_of(lead << 8 | trail) + "x";
      Result expected = glibc_decode(in, 8);
      ASSERT_EQ(ours(gb2312_to_utf8, in, 8), expected) << std::hex << lead << trail;
      decoded += expected.status == 0;
    }
  }
  EXPECT_EQ(decoded, 7445);
}

// Every code point, in the table or not: language tags vanish, the rest
// converts or stops as with glibc.
TEST(Gb2312, EveryCharacterEncodesAsGlibc) {
  int encoded = 0;
  for (uint32_t code = 1; code <= 0x10FFFF; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    std::string in = utf8_of(code) + "x";
    Result expected = glibc_encode(in, 8);
    ASSERT_EQ(ours(utf8_to_gb2312, in, 8), expected) << std::hex << code;
    encoded += expected.status == 0 && expected.out[2] == 'x';
  }
  EXPECT_EQ(encoded, 7445);
}

// Where a conversion stops, and what it keeps, for every output size.
TEST(Gb2312, StopsAndLimitsAsGlibc) {
  const std::string gb_inputs[] = {
      "ab\xC4\xE3\xBA\xC3z",   // ASCII around two characters
      "\xC4\xE3\x80\xBA\xC3",  // a byte no pair starts with
      "\xC4\xE3\xC4",          // a cut pair
      "\xC4\xE3\xD7\xFA",      // an unassigned pair
      "\xC4\x41\xBA\xC3",      // a trail byte below A1
      std::string("a\0\xA1\xE8", 4),
  };
  for (const std::string& in : gb_inputs) {
    for (size_t size = 0; size <= 12; ++size) {
      ASSERT_EQ(ours(gb2312_to_utf8, in, size), glibc_decode(in, size)) << in << " in " << size;
    }
  }
  const std::string utf8_inputs[] = {
      "a\xE4\xBD\xA0\xE5\xA5\xBD",                 // ASCII and two characters
      "\xE4\xBD\xA0\xC2\xB7\xE5\xA5\xBD",          // U+00B7 between them
      "\xE4\xBD\xA0\xE5\xA5",                      // a cut character
      "\xE4\xBD\xA0\xC1\x81",                      // an overlong "A"
      "\xE4\xBD\xA0\xF0\x84\xB8\x80",              // an overlong U+4E00
      "\xE4\xBD\xA0\xED\xA0\x80",                  // a surrogate
      "\xE4\xBD\xA0\xF4\x90\x80\x80z",             // past U+10FFFF
      "\xE4\xBD\xA0\xF3\xA0\x80\x81\xE5\xA5\xBD",  // a language tag between
      "\xE4\xBD\xA0\xBD",                          // a lone continuation byte
  };
  for (const std::string& in : utf8_inputs) {
    for (size_t size = 0; size <= 12; ++size) {
      ASSERT_EQ(ours(utf8_to_gb2312, in, size), glibc_encode(in, size)) << in << " in " << size;
    }
  }
}

#endif

}  // namespace
