# The live wireless views in a simulated device: clients, links, the site
# survey (driver and supplicant), the channel and power lists and signal
# following, with the commands each one runs.
# shellcheck shell=bash

live() {
  request "GET /route/wireless/$1"$'\n\n' "${2:-30}"
}

# store OPTION VALUE: sets and commits a wireless option inside the device.
store() {
  dev_exec uci set "wireless.$1=$2"
  dev_exec uci commit wireless
}

test_clients_and_links() {
  dev_up ap
  local doc
  doc=$(live associate)
  expect_contains "$doc" "<MAC>3C:15:C2:A1:07:5E</MAC><IP>192.168.1.100</IP><SIGNAL>-48 dBm</SIGNAL>" "client with address"
  expect_contains "$doc" "<CLIENTS_NUM>6</CLIENTS_NUM></WIRELESS>" "client count"

  store '@wifi-iface[0].ssid' 'A&B'
  : >"$CMDLOG"
  doc=$(live 'nonstainfo?active=1')
  expect_contains "$doc" "<VAP><ID>00</ID><ESSID>A&amp;B</ESSID><LINK>1</LINK><MAC>" "escaped name"
  expect_contains "$doc" "<CHANNEL>6</CHANNEL><SIGNAL>-95 dBm</SIGNAL><RATE>300 Mb/s</RATE><TXBYTES>" "link line"
  expect_eq "$(cat "$CMDLOG")" $'/usr/sbin/iwconfig ath0\n/usr/sbin/iwpriv wifi1 enable_ol_stats 1\n/usr/sbin/iwconfig ath1' "commands"

  store '@wifi-iface[0].mode' sta
  doc=$(live stainfo)
  expect_contains "$doc" "<LINK>1</LINK>" "associated"
  local stats=${doc#*</RATE>}
  stats=${stats%</VAP>*}
  expect_contains "$stats" "<LINKQ>100</LINKQ><TXRATE>300M"$'\n'"</TXRATE><RXRATE>144M" "link statistics"
  dev_exec touch /tmp/keyerr
  expect_contains "$(live 'stainfo?active=1')" "<LINK>2</LINK><MAC></MAC><CHANNEL></CHANNEL><SIGNAL> dBm</SIGNAL><RATE></RATE>$stats</VAP>" "key error"
  dev_exec rm /tmp/keyerr
  dev_exec iwconfig ath0 ap off
  expect_contains "$(live stainfo)" "<LINK>0</LINK><MAC></MAC><CHANNEL></CHANNEL><SIGNAL> dBm</SIGNAL><RATE></RATE>$stats</VAP>" "not associated"
}

test_survey_brings_up_and_takes_down_what_it_used() {
  dev_up ap
  store '@wifi-iface[0].disabled' 1
  : >"$CMDLOG"
  local doc
  doc=$(live scan/2g)
  expect_contains "$doc" "<AP><BAND>2G</BAND><SSID>HomeNet</SSID><BSSID>00:1E:58:A1:B2:C3</BSSID><SIGNAL>-48 dBm</SIGNAL><QUALITY>62/94</QUALITY><ENCRYPTION>WPA2 PSK (CCMP)</ENCRYPTION><ENC_CODE>8</ENC_CODE><CHANNEL>1</CHANNEL></AP>" "driver AP"
  expect_contains "$doc" "<SSID>办公室</SSID>" "GB2312 name in UTF-8"
  expect_contains "$doc" "<SSID>Tom &amp; Jerry&apos;s &lt;AP&gt;</SSID>" "escaped name"
  expect_eq "$(cat "$CMDLOG")" $'/sbin/ifconfig ath0 up\n/sbin/ifconfig ath04 up\n/sbin/ifconfig ath0 down\n/sbin/ifconfig ath04 down' "up and down"
  expect_eq "$(dev_exec cat /sys/class/net/ath04/operstate)" down "extra interface down again"

  dev_exec sh -c ': >/sim/radio/wifi0/scan'
  expect_eq "$(live scan/2g/again)" "$doc" "again repeats the last scan"
  expect_eq "$(live scan/2g)" '<?xml version="1.0" encoding="utf-8"?><WIRELESS></WIRELESS>' "nothing heard"
  expect_eq "$(live analysis/2g)" '<?xml version="1.0" encoding="utf-8"?><datas><chnel>1</chnel><chnel>2</chnel><chnel>3</chnel><chnel>4</chnel><chnel>5</chnel><chnel>6</chnel><chnel>7</chnel><chnel>8</chnel><chnel>9</chnel><chnel>10</chnel><chnel>11</chnel><chnel>12</chnel><chnel>13</chnel></datas>' \
    "analysis without APs lists the 2G channels"
  expect_eq "$(live scan)" "$(envelope 1 'NO SERVICE')" "no rest"
}

test_survey_through_the_supplicant_has_one_deadline() {
  dev_up ap
  store '@wifi-iface[0].mode' sta
  # Without the extra interface the client radio asks its supplicant.
  dev_exec ip link del ath04
  local doc start took
  doc=$(live scan/2g)
  expect_contains "$doc" "<AP><BAND>2G</BAND><SSID>HomeNet</SSID><BSSID>00:1E:58:A1:B2:C3</BSSID><SIGNAL>-48</SIGNAL><QUALITY>/</QUALITY><ENCRYPTION>[WPA2-PSK-CCMP][ESS]</ENCRYPTION><ENC_CODE>8</ENC_CODE><CHANNEL>1</CHANNEL></AP>" "supplicant AP"
  expect_contains "$doc" "<SSID>\\xb0\\xec\\xb9\\xab\\xca\\xd2</SSID>" "supplicant escapes kept"

  # A supplicant that never ends its scan and floods events: the survey
  # still answers, within about 15 s, with what it lists.
  dev_exec sh -c 'printf "scan_event=0\nevent_flood=50\nevents_before_reply=20\ntable_limit=120\n" >/sim/radio/ath0/supplicant'
  start=$(date +%s)
  doc=$(live scan/2g 40)
  took=$(($(date +%s) - start))
  [ "$took" -ge 14 ] && [ "$took" -le 19 ] || fail "survey took ${took}s"
  expect_contains "$doc" "<SSID>HomeNet</SSID>" "first line of a cut table"
  expect_not_contains "$doc" "Cafe" "cut line dropped"

  dev_exec sh -c 'kill $(cat /var/run/sim-supplicant.pid)'
  expect_eq "$(live scan/2g)" '<?xml version="1.0" encoding="utf-8"?><WIRELESS></WIRELESS>' "unreachable supplicant"
}

test_channel_and_power_lists() {
  dev_up ap
  local doc
  doc=$(live channel/2g)
  expect_contains "$doc" '<INTERFACE><BAND>2G</BAND><CHANNEL channel="auto">auto</CHANNEL><CHANNEL channel="1">1   2.412 GHz (Channel 1)</CHANNEL>' "channel list"
  expect_contains "$doc" '<CHANNEL channel="6">6 * 2.437 GHz (Channel 6)</CHANNEL>' "current channel"
  expect_not_contains "$doc" "<BAND>5G</BAND>" "2g only"
  doc=$(live txpower/5g)
  expect_contains "$doc" "<TXPOWER>  13 dBm (  19 mW)</TXPOWER>" "truncated milliwatts"
  expect_contains "$(live txpower/2G)" "<BAND>5G</BAND>" "other rest: both radios"
  dev_down

  dev_up single5g --board single5g
  expect_not_contains "$(live channel)" "<BAND>2G</BAND>" "no 2G radio"
  expect_not_contains "$(live associate)" "<VAP_ID>00</VAP_ID>" "no 2G clients"
}

test_signal_following_restores_a_client_with_any_name() {
  dev_up ap
  store '@wifi-iface[0].mode' sta
  store '@wifi-iface[0].ssid' "x';touch /tmp/owned;'"
  : >"$CMDLOG"
  expect_eq "$(live followsig/2g/64:66:b3:90:ab:cd)" '<?xml version="1.0" encoding="utf-8"?><WIRELESS><AP><BAND>2G</BAND><SSID>Mixed Mode AP</SSID><BSSID>64:66:B3:90:AB:CD</BSSID><SIGNAL>-58 dBm</SIGNAL><QUALITY>52/94</QUALITY><ENCRYPTION>mixed WPA/WPA2 PSK (TKIP, CCMP)</ENCRYPTION><ENC_CODE>11</ENC_CODE><CHANNEL>11</CHANNEL></AP></WIRELESS>' \
    "followed AP"
  expect_eq "$(cat "$CMDLOG")" $'/usr/sbin/iwconfig ath0 essid abcdefgh12345678igklmnop1234567\n/usr/sbin/iwconfig ath0 ap off\n/usr/sbin/iwconfig ath0 essid x\';touch /tmp/owned;\'\n/usr/sbin/iwconfig ath0 ap any' \
    "leave and rejoin"
  dev_exec test ! -e /tmp/owned || fail "the name ran as a command"
  expect_contains "$(dev_exec cat /sim/radio/ath0/info)" "essid=x';touch /tmp/owned;'" "name restored"
  expect_eq "$(dev_exec cat /var/state/sig_follow)" 0 "first number"
  expect_contains "$(live 'followsig/5g/<x>')" "<BSSID>&lt;x&gt;</BSSID>" "unheard target escaped"
  expect_eq "$(dev_exec cat /var/state/sig_follow)" 1 "second number"
  expect_eq "$(live followsig/x)" "" "no band: no reply"
}

test_survey_asks_the_supplicant_while_the_extra_station_is_not_associated() {
  dev_up ap
  store '@wifi-iface[0].mode' sta
  dev_exec iwconfig ath04 ap off
  expect_contains "$(live scan/2g)" "<SSID>HomeNet</SSID><BSSID>00:1E:58:A1:B2:C3</BSSID><SIGNAL>-48</SIGNAL><QUALITY>/</QUALITY>" "supplicant AP"
  expect_eq "$(dev_exec cat /sys/class/net/ath04/carrier)" 0 "no carrier, left up"
  dev_exec iwconfig ath04 ap any
  expect_contains "$(live scan/2g)" "<SIGNAL>-48 dBm</SIGNAL><QUALITY>62/94</QUALITY>" "driver AP again"
}

test_traffic_counters_move_by_the_bytes_sent() {
  dev_up ap
  local before after
  before=$(live "nonstainfo?active=1")
  dev_exec sim-traffic ath0 3000
  dev_exec sim-traffic air0 1514
  after=$(live "nonstainfo?active=1")
  counter() { sed -n "s/.*<$1>\([0-9]*\).*/\1/p" <<<"$2" | head -n 1; }
  # The LAN bridge may add its own start-up messages to what is sent.
  [ $(($(counter TXBYTES "$after") - $(counter TXBYTES "$before"))) -ge 3000 ] || fail "sent bytes"
  [ $(($(counter TXPKTS "$after") - $(counter TXPKTS "$before"))) -ge 2 ] || fail "sent frames"
  expect_eq "$(($(counter RXBYTES "$after") - $(counter RXBYTES "$before")))" 1514 "received bytes"
  expect_eq "$(($(counter RXPKTS "$after") - $(counter RXPKTS "$before")))" 1 "received frames"
}

test_scan_file_raw_driver_values() {
  dev_up ap
  dev_exec sh -c 'printf "%s\n" "bssid=00:00:00:00:00:01 channel=3 signal_byte=100 quality=9/94 crypto=wpa2 ie=dd040050f20430020100 ssid=Five" "bssid=00:00:00:00:00:02 channel=4 signal=-60 quality=9/94 crypto=wep algs=0 ssid=Bare" >/sim/radio/wifi0/scan'
  local doc
  doc=$(live scan/2g)
  expect_contains "$doc" "<SSID>Five</SSID><BSSID>00:00:00:00:00:01</BSSID><SIGNAL>-19 dBm</SIGNAL><QUALITY>9/94</QUALITY><ENCRYPTION>WPA2 NONE (NONE)</ENCRYPTION><ENC_CODE>8</ENC_CODE>" "signal byte, raw elements"
  expect_contains "$doc" "<SSID>Bare</SSID><BSSID>00:00:00:00:00:02</BSSID><SIGNAL>-60 dBm</SIGNAL><QUALITY>9/94</QUALITY><ENCRYPTION>wep</ENCRYPTION><ENC_CODE>1</ENC_CODE>" "WEP without algorithms"
}
