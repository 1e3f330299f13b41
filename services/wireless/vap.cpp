// Virtual access points of the wireless service (GET and POST /vap), the
// encryption code table and the live channel of a radio.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent/config.h"
#include "agent/server.h"
#include "platform/wifi/wifi.h"
#include "services/common/request_body.h"
#include "services/wireless/wireless.h"

const enc_code enc_code_table[enc_code_count] = {
    {0, "none"},           {1, "wep-open"},        {2, "wep-shared"},
    {3, "psk+tkip"},       {4, "psk+ccmp"},        {5, "psk+tkip+ccmp"},
    {6, "psk2+tkip"},      {7, "psk2+ccmp"},       {8, "psk2+tkip+ccmp"},
    {9, "psk-mixed+tkip"}, {10, "psk-mixed+ccmp"}, {11, "psk-mixed+tkip+ccmp"},
    {20, "wpa"},
};

int enc_code_lookup(const char* name) {
  for (const enc_code& entry : enc_code_table) {
    if (name && std::strcmp(entry.name, name) == 0) return entry.code;
  }
  return -1;
}

const char* enc_code_name(int code) {
  for (const enc_code& entry : enc_code_table) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

void radio_live_channel(const char* ifname, char* buffer) {
  wifi::Backend* driver = wifi::backend(ifname);
  if (!driver) return;
  std::vector<wifi::Frequency> frequencies;
  if (!driver->freqlist(ifname, frequencies) || frequencies.empty()) return;
  int channel = -1;
  if (!driver->channel(ifname, channel)) channel = -1;
  std::snprintf(buffer, 32, "%d", channel);
}

// ---- GET /vap ----

int get_vap_config(int fd, char* /*rest*/) {
  return reply_code(fd, NOT_SUPPORT_SERVICE);
}

// ---- POST /vap ----

int set_vap_config(int fd, char* /*body*/, size_t /*body_len*/) {
  return reply_code(fd, NOT_SUPPORT_SERVICE);
}
