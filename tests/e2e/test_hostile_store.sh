# Every GET document is well-formed XML whatever the store holds: values cut
# inside a character, bytes that are not UTF-8, control characters, carriage
# returns and CDATA ends, put there with the device's own uci tool and by
# hand, as another tool or an editor would leave them.
# shellcheck shell=bash

# Runs inside the device: gives every option of every package one of the
# hostile values in turn, except the few that choose which document a GET
# builds; adds the sections and options the GETs read that the stock store
# lacks; commits; then writes control characters into the files by hand
# (the uci tool refuses them).
hostile_store_script() {
  cat <<'EOF'
repeat() { r=; i=0; while [ $i -lt $2 ]; do r=$r$1; i=$((i + 1)); done; echo "$r"; }
e_acute=$(printf '\303\251')
zhong=$(printf '\344\270\255')
long2=$(repeat "$e_acute" 300)
long3=$(repeat "$zhong" 200)
not_utf8=$(printf 'a\377\376<&>"\300\257\355\240\200\357\277\276z')
returns=$(printf 'a\rb\r\nc\n')
cdata=$(printf ']]>x<![CDATA[<A>\342\200')
n=0
next_value() {
  n=$((n + 1))
  case $((n % 6)) in
    0) v=$long2 ;; 1) v=$long3 ;; 2) v=$not_utf8 ;; 3) v=$returns ;; 4) v=$cdata ;; *) v=x@CTL@y ;;
  esac
}
kept='^(network\.(lan|wan)\.proto|.*\.(type|device|mode|sys_mode|hardver|submode|enabled|ifname))$'
for type in firewall.rule firewall.url dhcp.host network.qos; do uci add ${type%.*} ${type#*.} >/dev/null; done
paths=$(uci show | sed -n 's/^\([a-z_0-9]*\.[^.=]*\.[^=]*\)=.*/\1/p' | grep -Ev "$kept")
options() { section=$1; shift; for option; do paths="$paths $section.$option"; done; }
options system.@system[0] version mode custom log_ip
options system.ntp server
options firewall.@rule[-1] src_ip dest_port src_mac extra proto
options firewall.@redirect[0] src_dport dest_ip dest_port
options firewall.@url[-1] url
options dhcp.@host[-1] mac ip
options network.@qos[-1] mac up_limit down_limit share start end note
options network.mgt mac_clone
options ddns.myddns username password domain
options clcloud.@cloud[0] user
options wireless.wifi1 cca_step
for slot in 0 1 2 3 4 5 6 7; do
  options "wireless.@wifi-iface[$slot]" key key1 key2 key3 key4 macfilter maclist bssid bssid_en \
    nawds_add_repeater auth_server identity password
done
for path in $paths; do
  next_value
  uci set "$path=$v"
done
uci commit
sed -i "s/@CTL@/$(printf '\001\033\037\013')/g" /etc/config/*
EOF
}

# Every GET of every service that answers a document (the storage slots
# answer their raw text and superauth answers no GET).
hostile_gets=(
  network/lan network/wan network/snmp network/arp
  wireless wireless/config wireless/vap wireless/vap/2g wireless/vap/5g wireless/associate
  'wireless/nonstainfo?active=1' wireless/stainfo 'wireless/stainfo?active=1'
  wireless/scan/2g wireless/scan/5g wireless/scan/2g/again wireless/analysis/2g
  wireless/analysis/5g wireless/channel/2g wireless/channel/5g wireless/txpower/2g
  wireless/txpower/5g
  dhcp/config dhcp/clients time system/basic system/traffic system/backup log/syslog
  log/kerlog log/config firewall vlan uplink mgt ddns wifidog usb clcloud changemode dbmode
)

test_every_get_is_well_formed_whatever_the_store_holds() {
  dev_up ap
  local script=$E2E_WORK/hostile.sh get doc bad=
  # A request cannot put bytes that are not UTF-8 there.
  expect_eq "$(request $'POST /route/dbmode\n<MODE><DBMODE>\xff\xfe</DBMODE></MODE>\n\n')" \
    "$(envelope 3 'FORMAT ERROR')" "POST of bytes that are not UTF-8"
  expect_eq "$(dev_exec uci get system.@system[0].dbmode)" 0 "nothing stored"
  hostile_store_script >"$script"
  dev_install "$script" /tmp/hostile.sh
  dev_exec sh /tmp/hostile.sh
  # The store really holds what the GETs must mend.
  expect_contains "$(dev_exec cat /etc/config/system)" $'\001\033' "control characters"
  expect_contains "$(dev_exec uci show system)" $'\xc3\xa9\xc3\xa9\xc3\xa9' "long texts"

  for get in "${hostile_gets[@]}"; do
    doc=$(request "GET /route/$get"$'\n\n' 60)
    [ -n "$doc" ] || fail "GET /$get: no document"
    xmllint --noout - <<<"$doc" 2>>"$E2E_WORK/xmllint" || bad="$bad /$get"
  done
  [ -z "$bad" ] || fail "not well-formed:$bad $(head -c 2000 "$E2E_WORK/xmllint")"

  # A BSSID of raw request bytes is mended the same way.
  doc=$(request $'GET /route/wireless/followsig/2g/\x01\x1b\xff\n\n' 60)
  xmllint --noout - <<<"$doc" || fail "followsig echo: [$doc]"
  expect_contains "$doc" $'<BSSID>\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd</BSSID>' "followsig BSSID"
}
