# The wireless service (radios and virtual access points) in a simulated
# device, with the drivers' view of each change.
# shellcheck shell=bash

ok=$(envelope 0 OK)
format_error=$(envelope 3 'FORMAT ERROR')
reverts='/sbin/uci revert system
/sbin/uci revert wireless
/sbin/uci revert network
/sbin/uci revert dhcp'

get_wireless() {
  request "GET /route/wireless/$1"$'\n\n'
}

post_wireless() {
  : >"$CMDLOG"
  request "POST /route/wireless/$1"$'\n'"$2"$'\n\n'
}

# A device whose stock store has one system option changed.
dev_up_with() {
  local name=$1 option=$2 value=$3 config
  shift 3
  config=$(stock_config "$name")
  set_option "$config/system" system "$option" "$value"
  dev_up "$name" --config "$config" "$@"
}

psk_vap() {
  printf '<VAP><ID>%s</ID><SSID>%s</SSID><MODE>%s</MODE><SECURITY><ENCRYPTION>7</ENCRYPTION><KEY>3132333435363738</KEY></SECURITY><DISABLE>%s</DISABLE></VAP>' "$@"
}

test_radio_document_follows_the_board() {
  dev_up ap
  local doc mac
  mac=$(dev_exec cat /sys/class/net/wifi0/address | tr 'a-f' 'A-F')
  doc=$(get_wireless config)
  expect_contains "$doc" "<CONFIG><BAND>2G</BAND><MAC>$mac"$'\n'"</MAC><DISABLE>0</DISABLE>" "2G MAC"
  expect_contains "$doc" "<COMMENT1>bridge-1</COMMENT1>" "stock WDS comment"
  expect_contains "$doc" "<MAC1>00:03:7F:AA:BB:02</MAC1><MAC2></MAC2>" "stock 5G peer"
  dev_down

  dev_up single5g --board single5g
  doc=$(get_wireless config)
  expect_not_contains "$doc" "<BAND>2G</BAND>" "SINGLE5G board"
  expect_contains "$(get_wireless vap)" "<VAP><ID>10</ID>" "SINGLE5G: 5G slots"
  # The missing radio has no driver: its channel is the stored one.
  expect_contains "$(get_wireless vap/2g)" "<CUR_CHANNEL>auto</CUR_CHANNEL>" "no 2G driver"
  expect_contains "$(get_wireless vap/5g)" "<CUR_CHANNEL>149</CUR_CHANNEL>" "5G driver"
}

test_radio_change_reaches_the_driver_after_its_commit() {
  dev_up ap --log-uci
  expect_eq "$(post_wireless config '<R><CONFIG><BAND>2G</BAND><BASE><CHANNEL>11</CHANNEL><TXPOWER>17</TXPOWER></BASE><ADVANCE><HTMODE>AUTO</HTMODE><MODE>11ng</MODE></ADVANCE></CONFIG></R>')" \
    "$ok" "POST /config"
  expect_eq "$(tail -4 "$CMDLOG")" $'/sbin/uci commit wireless\n/sbin/uci commit system\n/sbin/wifi restart\n/etc/init.d/dnsmasq restart' "commit before restart"
  expect_contains "$(dev_exec cat /sim/wifi.loaded)" "option channel '11'" "loaded package"
  expect_contains "$(dev_exec cat /sim/radio/wifi0/info)" "txpower=17" "driver power"
  expect_contains "$(get_wireless vap/2g)" "<CUR_CHANNEL>11</CUR_CHANNEL>" "live channel"
  expect_contains "$(get_wireless config)" "<HTMODE>AUTO</HTMODE>" "coexistence on"
}

test_refused_changes_run_the_reverts_only() {
  dev_up_with wds sys_mode 5 --log-uci
  local wds='<R><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20</TXPOWER></BASE><WDS><MAC1>$(touch /tmp/owned)</MAC1></WDS></CONFIG></R>'
  expect_eq "$(post_wireless config "$wds")" "$format_error" "shell text as a peer"
  expect_eq "$(cat "$CMDLOG")" "$reverts" "reverts only"
  expect_eq "$(dev_exec sh -c '[ -e /tmp/owned ] && echo owned || echo clean')" clean "no command ran"
  expect_eq "$(post_wireless vap "<R>$(psk_vap 00 'a&#10;ssid=x' ap 0)</R>")" "$format_error" "line feed"
  expect_eq "$(cat "$CMDLOG")" "$reverts" "reverts only"
  expect_eq "$(post_wireless vap "<R>$(psk_vap 00 x ap 0)<VAP><ID>77</ID></VAP></R>")" "$format_error" \
    "second VAP unknown"
  expect_not_contains "$(get_wireless vap/2g)" "<SSID>x</SSID>" "first VAP reverted"
}

test_onekey_switch_on_a_single_band_board() {
  dev_up single --board single9531 --log-uci
  post_wireless config '<R><ACTIVE>1</ACTIVE><CONFIG><BAND>2G</BAND><BASE><CHANNEL>1</CHANNEL><TXPOWER>20</TXPOWER></BASE><ADVANCE><WDSONEKEY>1</WDSONEKEY></ADVANCE></CONFIG></R>' >/dev/null
  expect_contains "$(cat "$CMDLOG")" "/sbin/uci set system.@system[0].onekey_wds_enable=1" "onekey line"
  expect_not_contains "$(cat "$CMDLOG")" "/sbin/wifi" "ACTIVE 1: no restart"
  expect_contains "$(get_wireless config)" "<WDSONEKEY>1</WDSONEKEY>" "onekey shown"
}

test_vap_change_reaches_the_driver() {
  dev_up ap
  expect_eq "$(post_wireless vap "<R>$(psk_vap 01 'Office &amp; Co' ap 0)</R>")" "$ok" "POST /vap"
  expect_contains "$(get_wireless vap/2g)" "<ID>01</ID><DISABLE>0</DISABLE><SSID>Office &amp; Co</SSID>" "SSID"
  expect_contains "$(get_wireless vap/2g)" "<ENCRYPTION>7</ENCRYPTION><KEY>3132333435363738</KEY>" "key"
  expect_contains "$(dev_exec cat /sim/radio/ath01/info)" "essid=Office & Co" "driver essid"
  expect_contains "$(dev_exec ip link show ath01)" ",UP" "ath01 up"
  post_wireless vap "<R>$(psk_vap 01 Office ap 1)</R>" >/dev/null
  expect_not_contains "$(dev_exec ip link show ath01)" ",UP" "ath01 down"
  expect_eq "$(dev_exec sh -c 'cat /sim/wifi.refused 2>/dev/null || true')" "" "nothing refused"
}

test_station_is_the_wan_in_wireless_wan_mode() {
  dev_up_with sta sys_mode 2
  expect_eq "$(post_wireless vap "<R>$(psk_vap 01 Up sta 0)</R>")" "$format_error" "station on slot 1"
  expect_eq "$(post_wireless vap "<R>$(psk_vap 00 Up sta 0)</R>")" "$ok" "station on slot 0"
  expect_eq "$(dev_exec uci get network.wan.ifname)" ath0 "WAN interface"
  expect_eq "$(dev_exec uci get wireless.@wifi-iface[0].network)" wan "slot 0 network"
  expect_contains "$(dev_exec cat /sim/radio/ath0/info)" "mode=Managed" "driver mode"
}

test_full_filters_give_a_whole_document() {
  dev_up ap
  local macs='' n
  for n in $(seq 1 113); do macs=$macs$(printf '<MAC>00:11:22:33:44:%02X</MAC>' "$n"); done
  local acl="<ACL><DISABLE>0</DISABLE><MODE>deny</MODE>$macs</ACL>"
  local vap0="<VAP><ID>00</ID><SSID>a</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>0</ENCRYPTION></SECURITY>$acl</VAP>"
  expect_eq "$(post_wireless vap "<R>$vap0${vap0//<ID>00/<ID>10}</R>")" "$ok" "two full filters"
  local doc
  doc=$(get_wireless vap)
  expect_eq "$(grep -o '<MAC>' <<<"$doc" | wc -l)" 226 "every address shown"
  expect_eq "${doc: -11}" "</WIRELESS>" "document closed"
}

test_extra_vaps_keep_their_names_in_gb2312() {
  dev_up ap
  local name=$'\xe4\xb8\xad\xe6\x96\x87'  # two ideographs in UTF-8
  expect_eq "$(post_wireless vap "<R>$(psk_vap 02 "$name" ap 0)</R>")" "$ok" "POST /vap"
  expect_eq "$(dev_exec uci get 'wireless.@wifi-iface[2].ssid' | od -An -tx1 | tr -d ' \n')" d6d0cec40a \
    "stored in GB2312"
  expect_contains "$(get_wireless vap/2g)" "<ID>02</ID><DISABLE>0</DISABLE><SSID>$name</SSID>" "shown in UTF-8"
}
