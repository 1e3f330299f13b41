// The choices a client offers for a radio: GET /channel (supported channels,
// the current one marked) and GET /txpower (supported power levels, the
// current one marked).
#include <cstring>
#include <string>
#include <vector>

#include "agent/server.h"
#include "platform/wifi/wifi.h"
#include "services/common/request_body.h"
#include "services/wireless/format.h"
#include "services/wireless/wireless.h"

namespace {

struct listed_radio {
  const char* ifname;
  const char* band_element;
};
constexpr listed_radio listed_radios[] = {{"ath0", "<BAND>2G</BAND>"}, {"ath1", "<BAND>5G</BAND>"}};

// "2g" and "5g" (exactly) list one radio, anything else both.
template <typename Append>
int send_radio_lists(int fd, const char* rest, Append append) {
  std::string doc = std::string(xml_declaration) + "<WIRELESS>";
  bool only_2g = rest && std::strcmp(rest, "2g") == 0;
  bool only_5g = rest && std::strcmp(rest, "5g") == 0;
  for (int radio = 0; radio < 2; ++radio) {
    if ((only_2g && radio != 0) || (only_5g && radio != 1)) continue;
    wifi::Backend* driver = wifi::backend(listed_radios[radio].ifname);
    if (driver) append(doc, *driver, listed_radios[radio]);
  }
  doc += "</WIRELESS>";
  send_all(fd, doc);
  return 0;
}

void append_channels(std::string& doc, wifi::Backend& driver, const listed_radio& radio) {
  std::vector<wifi::Frequency> frequencies;
  if (!driver.freqlist(radio.ifname, frequencies) || frequencies.empty()) return;
  int current = -1;
  if (!driver.channel(radio.ifname, current)) current = -1;
  appendf(doc, "<INTERFACE>%s<CHANNEL channel=\"auto\">auto</CHANNEL>", radio.band_element);
  for (const wifi::Frequency& frequency : frequencies) {
    if (frequency.channel == 0) continue;
    std::string channel = channel_text(frequency.channel);
    appendf(doc, "<CHANNEL channel=\"%s\">%s %s %s (Channel %s)%s</CHANNEL>", channel.c_str(),
            channel.c_str(), frequency.channel == current ? "*" : " ",
            freq_text(static_cast<int>(frequency.mhz)).c_str(), channel.c_str(),
            frequency.restricted ? " [restricted]" : "");
  }
  doc += "</INTERFACE>";
}

void append_powers(std::string& doc, wifi::Backend& driver, const listed_radio& radio) {
  std::vector<wifi::TxPower> levels;
  if (!driver.txpwrlist(radio.ifname, levels) || levels.empty()) return;
  int current = -1;
  if (!driver.txpower(radio.ifname, current)) current = -1;
  int offset = 0;
  if (!driver.txpower_offset(radio.ifname, offset)) offset = 0;
  appendf(doc, "<INTERFACE>%s", radio.band_element);
  for (const wifi::TxPower& level : levels) {
    int dbm = level.dbm + offset;
    appendf(doc, "<TXPOWER>%s%3d dBm (%4d mW)</TXPOWER>", level.dbm == current ? "*" : " ", dbm,
            wifi::dbm_to_mw(dbm));
  }
  doc += "</INTERFACE>";
}

}  // namespace

int get_channel_list(int fd, char* rest) {
  return send_radio_lists(fd, rest, append_channels);
}

int get_txpower_list(int fd, char* rest) {
  return send_radio_lists(fd, rest, append_powers);
}
