// Texts of driver values as the live wireless views show them: names,
// channels, frequencies, levels, rates, addresses, qualities and encryption,
// and the two conversions of the survey (signal byte to dBm, frequency to
// channel). Every formatter returns a text of its own, so two results can be
// used at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/wifi/wifi.h"

// A network name as broadcast (at most 32 bytes): converted from GB2312 when
// it looks like GB2312 and the conversion gives anything (else shown as it
// is), cut back to a whole UTF-8 character within 34 bytes, "unknown" when
// empty, and escaped.
std::string ssid_text(const char* ssid, size_t length);
// The same name unescaped.
std::string ssid_name(const char* ssid, size_t length);
// "%d" above 0, else "unknown".
std::string channel_text(int channel);
// "%.3f GHz" above 0, else "unknown".
std::string freq_text(int mhz);
// "%d dBm" when not 0, else "unknown" (signal and noise levels).
std::string level_text(int dbm);
// "%u.%u MBit/s" above 0, else "unknown".
std::string rate_text(uint32_t kbps);
// rate_text, then ", MCS n, 20MHz|40MHz" for an HT rate and ", short GI".
std::string assoc_rate_text(const wifi::Rate& rate);
// "AA:BB:CC:DD:EE:FF".
std::string mac_text(const uint8_t mac[6]);
// "%d" when not negative, else "unknown".
std::string quality_text(int quality);
// "TKIP, CCMP"; "NONE" for no cipher.
std::string cipher_list_text(uint8_t ciphers);
// "PSK/802.1X"; "NONE" for no suite.
std::string suite_list_text(uint8_t suites);
// Describes the encryption of a network ("WPA2 PSK (CCMP)") and sets code to
// its ENCRYPTION code; null gives "unknown" and code 0.
std::string crypto_text(const wifi::Crypto* crypto, int& code);
// dBm of a scan entry's signal byte.
int scan_signal_dbm(uint8_t signal);
// Channel number of a frequency in MHz.
int freq_to_channel(int mhz);
// The AP element of one driver scan entry, as the survey and the signal
// following show it.
std::string scan_ap_element(const char* band, const wifi::ScanEntry& entry);
