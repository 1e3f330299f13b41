// Process-wide values of the worker, in one place. The worker is a single
// thread handling one request at a time, so nothing here needs a lock. A new
// worker (after a crash) starts with every value at zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wifi/wifi.h"

// One sample of a radio's byte counters (see worker_state::throughput).
struct throughput_sample {
  long long seconds = 0;
  long long microseconds = 0;
  uint64_t tx_bytes = 0;
  uint64_t rx_bytes = 0;
};

struct worker_state {
  // Target mode of a mode switch in progress (0: none). While set, network
  // and wireless changes are committed without restarting anything.
  int mode_switch_state = 0;
  // A LAN change was stored with ACTIVE "1"; the next DHCP change performs
  // the restart it owes.
  bool lan_restart_pending = false;
  // Rights of the last login, shown by the system service: "" until the
  // first login of this worker, then "1" or "2".
  char user_right[2] = {0, 0};
  // Link state of front ports 1 to 5 (index 0 is no port), as the last
  // GET /network/lan found them.
  int port_status[6] = {0, 0, 0, 0, 0, 0};
  // Front port that carries the uplink in router mode: 0 until first needed,
  // then 3 or 5 for the life of the worker.
  int uplink_port = 0;

  // ---- wireless service ----
  // Hardware addresses of radio 0 and radio 1 as GET /wireless/config shows
  // them (first line of the radio's address file, upper case, line feed
  // kept). Filled and read by that GET; an empty text (the file could not be
  // read yet, as while the driver loads) is read again on the next GET.
  char radio_mac[2][32] = {{0}, {0}};

  // ---- wireless live views (status, survey and follow units) ----
  // Last counter sample of radio 0 and radio 1. GET /nonstainfo and GET
  // /stainfo both measure against it and store the new one, so the first
  // request of a worker measures against zero. Never reset.
  throughput_sample throughput[2];
  // The traffic elements of the last GET /nonstainfo and the link elements
  // of the last measuring GET /stainfo, and the link view's two throughput
  // texts. GET /stainfo repeats the link text while the station is not
  // associated (empty in a new worker). Never reset.
  std::string traffic_text;
  std::string link_text;
  std::string link_tx_thput;
  std::string link_rx_thput;
  // The last driver scan of radio 0 and radio 1 (at most 128 entries),
  // stored by GET /scan and /analysis and shown again by their "again"
  // form. A failed scan empties it. Never reset.
  std::vector<wifi::ScanEntry> survey_cache[2];
  // The number the next GET /followsig writes to /var/state/sig_follow;
  // after wrapping it goes on from 1.
  unsigned follow_counter = 0;

  // ---- storage service ----
  // Slots 1 to 3 (index 0 is slot 1): texts a client parks with POST
  // /storage/N and fetches with GET /storage/N, each NUL-terminated. Only the
  // storage service reads and writes them; nothing resets them, so they live
  // as long as the worker.
  char storage_slots[3][8192] = {};

  // ---- system service ----
  // The firmware version has been copied from /etc/lsb-version into the
  // store. Set and read by GET /system/basic; never reset, so the copy (and
  // its commit) happens once per worker.
  bool version_done = false;
};

// The one instance of the worker.
worker_state& worker();
