// What the units of the wireless service share: the VAP slots and their
// store paths, the board and radio predicates, the encryption code table,
// the live channel of a radio and the sub-path tables of wireless_get and
// wireless_post.
#pragma once

#include <cstddef>
#include <string>

class change_plan;
struct xml_node;

// The eight wifi-iface sections, addressed by position: slots 0-3 belong to
// radio 0 ("wifi0", 2G: ath0, ath01-ath03), slots 4-7 to radio 1 ("wifi1",
// 5G: ath1, ath11-ath13). Slots 0 and 4 are the main VAPs of their radio.
inline constexpr int vap_slot_count = 8;
inline constexpr int slots_per_radio = 4;
inline constexpr size_t iface_path_size = 128;

// Radio (0 or 1) of a slot, and the main slot of a radio.
inline int radio_of_slot(int slot) {
  return slot / slots_per_radio;
}
inline int main_slot(int radio) {
  return radio * slots_per_radio;
}
inline bool is_main_slot(int slot) {
  return slot % slots_per_radio == 0;
}

// Formats "wireless.@wifi-iface[slot].option" into buffer (iface_path_size
// bytes) and returns it.
char* iface_option_path(int slot, char* buffer, const char* option);
std::string iface_option_path(int slot, const char* option);
// The option of a slot as stored, cut to size - 1 characters.
std::string iface_option(int slot, const char* option, size_t size = 64);
// "wireless.wifiN.option" of radio N (0 or 1).
std::string radio_option_path(int radio, const char* option);

// A board that shows and uses radio 1 only (submode contains "SINGLE5G").
bool board_single5g();
// A single-radio 2G board: hardver contains "9531" or "9341" and submode
// does not contain "DUAL".
bool board_single24g();
// 1 when the radio owning the slot is switched off, else 0. With a touch
// button (system touch_btn set) the button's state file decides for both
// radios; otherwise the radio's disabled option does.
int radio_switched_off(int slot);

// Encryption settings as the client numbers them, in both directions.
struct enc_code {
  int code;
  const char* name;
};
inline constexpr size_t enc_code_count = 13;
extern const enc_code enc_code_table[enc_code_count];
// The code of an encryption name, or -1 when it is not in the table.
int enc_code_lookup(const char* name);
// The name of a code, or null when the code is not in the table.
const char* enc_code_name(int code);

// Writes the current channel of a wireless interface as "%d" into buffer (32
// bytes) when its driver lists at least one frequency ("-1" when only the
// channel query fails); otherwise leaves the buffer as it was.
void radio_live_channel(const char* ifname, char* buffer);

// 0 when a SECURITY element can be stored, 1 when not: its ENCRYPTION is a
// decimal code of the table, and a pre-shared key (codes 3-11) is an even
// number of hex digits decoding to 8-63 printable bytes.
int vap_security_valid(xml_node* security);
// Plans the security settings of a slot (encryption, keys, RADIUS or 802.1X
// login); 1 when SECURITY has no valid ENCRYPTION, else 0.
int vap_security_store(change_plan& plan, xml_node* security, xml_node* eap, int slot,
                       const char* mode);

// ---- sub-path routing ----

// A GET sub-handler: rest is what followed the sub-path's closing '/', or null.
using wireless_get_fn = int (*)(int fd, char* rest);
// A POST sub-handler: the body as the request server passed it.
using wireless_post_fn = int (*)(int fd, char* body, size_t body_len);

struct wireless_get_route {
  const char* sub_path;     // compared exactly
  wireless_get_fn handler;  // null: not built, answers code 1 "NO SERVICE"
};
struct wireless_post_route {
  const char* sub_path;  // a request sub-path that is a leading part of it selects it
  wireless_post_fn handler;
};

// In matching order; each ends with a null entry.
extern const wireless_get_route wireless_get_routes[];
extern const wireless_post_route wireless_post_routes[];

// The handlers of the table entries, one unit each.
int get_radio_config(int fd, char* rest);
int set_radio_config(int fd, char* body, size_t body_len);
int get_vap_config(int fd, char* rest);
int set_vap_config(int fd, char* body, size_t body_len);
int get_assoc_list(int fd, char* rest);
int get_ap_link_status(int fd, char* rest);
int get_sta_link_status(int fd, char* rest);
int get_scan(int fd, char* rest);
int get_analysis(int fd, char* rest);
int get_channel_list(int fd, char* rest);
int get_txpower_list(int fd, char* rest);
int follow_signal(int fd, char* rest);

// A MAC address as requests give it: six hex pairs joined by ':' (either case).
bool mac_text_valid(const char* text);

// True unless the request carried ACTIVE "1" or a mode switch is in
// progress: then the committed changes wait for a later restart.
bool wireless_restart_owed(xml_node* root);
// Restarts the wireless system and the DHCP server, each waited for.
void wireless_restart();

// The four revert commands every refused change runs before answering code 3
// "FORMAT ERROR"; returns that code's reply.
int wireless_refuse(int fd);
