// Access to the configuration store and the small shared helpers around it:
// store reads through the store library, store changes through the `uci`
// tool, WAN address readers, address checks, interface and ARP information,
// XML escaping, hex coding and the GB2312/UTF-8 conversion of network names.
// Every effect on the machine goes through fx().
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/hex.h"

// Paths of this length or longer read as empty.
inline constexpr size_t cfg_path_limit = 256;
// Longest value (after escaping) that cfg_set and cfg_add_list stage.
inline constexpr size_t cfg_value_limit = 2047;

// Reads a store path ("network.lan.ipaddr", "wireless.@wifi-iface[0].ssid",
// "network.lan" for a section's type) as the store is now, staged changes
// included. List items are joined by single blanks. The value is cut to at
// most size - 1 bytes without splitting a UTF-8 character (utf8_cut); an
// unresolvable path reads as the empty text.
char* cfg_get(const char* path, char* buffer, size_t size);
std::string cfg_get(const std::string& path);
// The real name of the section a path such as "network.@qos[-1]" resolves
// to: the name of a named section, the generated one of an anonymous
// section; empty when it does not resolve to a section.
std::string cfg_section_name(const std::string& path);
// The number of sections of a type in a package ("firewall", "rule"); 0 when
// the package cannot be read.
int cfg_section_count(const std::string& package, const std::string& type);
// True when the option is non-empty and does not start with '0'.
bool cfg_flag(const char* path);
bool cfg_flag(const std::string& path);
// Sets *out to atoi of the option (0 when empty); false when it is empty.
bool cfg_int(const char* path, int* out);
bool cfg_int(const std::string& path, int* out);

// Stage one change each by running the `uci` tool (during a request, as a
// line of the request's store batch, platform/effects.h) and return 0; the
// tool's exit status is not examined. A value longer than cfg_value_limit after
// escaping is not staged (the call prints a trace line and returns -1).
// A store path as one shell word: paths made only of letters, digits and
// _-.@[] keep their plain form (so command lines read as usual), anything
// else is quoted.
std::string uci_path_word(std::string_view path);

// True when cfg_set / cfg_add_list would stage the value: it holds no byte
// the store refuses (control characters other than tab, CR and LF, and DEL)
// and fits cfg_value_limit after the shell escaping they apply. Every POST
// checks its values with this before its first store change, so that a value
// the store cannot take is refused instead of silently dropped.
bool cfg_value_stageable(std::string_view value);
bool cfg_value_stageable(const char* value);

int cfg_set(const char* path, const char* value);
int cfg_set(const std::string& path, const std::string& value);
int cfg_add_list(const char* path, const char* value);
int cfg_add_list(const std::string& path, const std::string& value);
int cfg_delete(const char* path);
int cfg_delete(const std::string& path);
// Makes the staged changes of one package permanent.
int cfg_commit(const char* package);
int cfg_commit(const std::string& package);

// First output line of the WAN address readers, trailing line feed removed,
// cut to size - 1 characters. The buffer is left as it was when the reader
// prints nothing, so callers clear it first.
char* read_wan_ipaddr(char* buffer, size_t size);
char* read_wan_gateway(char* buffer, size_t size);
char* read_wan_dnsserver(char* buffer, size_t size);

// 1 for a valid dotted-quad IPv4 address, 0 otherwise.
int ipv4_valid(const char* text);
// True for a dotted quad made of leading ones and trailing zeros (0.0.0.0 included).
bool netmask_valid(const char* text);

struct iface_record {
  char hwaddr[32];  // "AA:BB:CC:DD:EE:FF"
  char addr[32];    // dotted quads
  char netmask[32];
  char broadcast[32];
};
// Fills the record by interface ioctls, in field order; returns 0, or the
// errno of the first failing step (the later fields keep what the caller put
// there). Names longer than IFNAMSIZ - 1 give ENAMETOOLONG.
int iface_info(const char* ifname, iface_record* record);

struct arp_entry {
  arp_entry* next;
  char ip[128];
  int hw_type;
  int flags;
  char hwaddr[128];  // upper case
  char mask[128];
  char device[128];
};
// The kernel's ARP table in file order, or null when it is empty or cannot be
// read. Lines that do not hold all six fields are skipped.
arp_entry* arp_table_read();
void arp_table_free(arp_entry* first);
// The IP address of the first entry whose hardware address matches (ignoring
// case), or null.
const char* arp_table_find(const arp_entry* first, const char* hwaddr);

// Copies length bytes of src as XML 1.0 character data in UTF-8, whatever
// they hold, and terminates dest, which must hold 6 * length + 1 bytes:
// " & ' < > become their entities and a carriage return "&#13;" (so that it
// survives a parser's line-end handling); each byte that does not belong to
// a well-formed UTF-8 character, each control character other than tab, line
// feed and carriage return, and U+FFFE and U+FFFF become U+FFFD. Returns the
// number of bytes written (without the terminator).
size_t xml_escape(char* dest, const char* src, size_t length);
std::string xml_escape(const std::string& text);

// How many of the first length bytes of text to keep when they are cut to at
// most max_bytes: max_bytes, or less when that would split a UTF-8
// character, so that the cut ends before the character instead. Bytes that
// are not UTF-8 are cut where they stand.
size_t utf8_cut_length(const char* text, size_t length, size_t max_bytes);
// text cut to at most max_bytes without splitting a UTF-8 character; a text
// that fits is unchanged.
std::string utf8_cut(const std::string& text, size_t max_bytes);

// Writes count bytes as upper-case hex pairs into dest (2 * count + 1 bytes).
char* hex_encode(const unsigned char* bytes, size_t count, char* dest);
// Decodes pairs of hex digits into dest (strlen(hex) / 2 + 1 bytes); an odd
// last digit is dropped. Each byte is (16 * high + low) modulo 256 of the
// digit values, so non-hex text decodes to arbitrary bytes, never out of
// bounds.
char* hex_decode(const char* hex, char* dest);

// True when the text has more GB2312 double-byte pairs than other bytes of
// 0x80 and above; prints the two counts.
bool looks_gb2312(const char* text, size_t length);
// Convert the whole input into out without terminating it (agent/gb2312/);
// 0 on success, -1 when the conversion stops at a character that does not
// convert, is cut off, or does not fit. out then holds what was converted
// before it.
int gb2312_to_utf8(const char* in, size_t in_len, char* out, size_t out_size);
int utf8_to_gb2312(const char* in, size_t in_len, char* out, size_t out_size);
