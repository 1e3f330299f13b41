# The firewall and management services in a simulated device.
# shellcheck shell=bash

ok=$(envelope 0 OK)
declaration='<?xml version="1.0" encoding="utf-8"?>'
refused=$(envelope 3 'FORMAT ERROR')

log_count() {
  grep -cxF -- "$1" "$CMDLOG" || true
}

post() {
  request "POST /route/$1"$'\n'"$2"$'\n\n'
}

firewall_cycles() {
  log_count '/sbin/fw3 start'
}

test_firewall_round_trip() {
  dev_up ap
  local filter='<FILTER><MODE>allow</MODE><IP>192.168.1.20</IP><IP>192.168.1.40-192.168.1.50</IP><PORT>8000-8010</PORT><MAC>3c:15:c2:a1:07:5e</MAC><URL>example.com/?a=1&amp;b=2</URL><IPCOM><IP>192.168.1.60</IP><PORT>22</PORT><PROTO>tcp</PROTO></IPCOM></FILTER>'
  local forward='<PORT_FORWARD><SRC_PORT>8000</SRC_PORT><DEST_IP>192.168.1.10</DEST_IP><DEST_PORT>80</DEST_PORT></PORT_FORWARD>'
  expect_eq "$(post firewall "<FIREWALL>$filter$forward<DMZ><IP>192.168.1.30</IP></DMZ></FIREWALL>")" "$ok" "POST"
  expect_eq "$(request $'GET /route/firewall\n\n')" \
    "$declaration<FIREWALL><FILTER><MODE>allow</MODE><IP>192.168.1.20</IP><IP> 192.168.1.40-192.168.1.50</IP><PORT>8000-8010</PORT><MAC>3c:15:c2:a1:07:5e</MAC><IPCOM><IP>192.168.1.60</IP><PORT>22</PORT><PROTO>tcp</PROTO></IPCOM><URL>example.com/?a=1&amp;b=2</URL></FILTER><DMZ><IP>192.168.1.30</IP></DMZ>$forward</FIREWALL>" \
    "GET"
  expect_eq "$(dev_exec cat /etc/firewall.user)" \
    'iptables -I FORWARD -p all -m string --string "example.com/?a=1&b=2" --algo kmp -j ACCEPT' "URL line"
  expect_eq "$(iptables_calls | uniq)" "-I FORWARD -p all -m string --string example.com/\?a=1\&b=2 --algo kmp -j ACCEPT" "URL rule at the firewall start"
  expect_eq "$(dev_exec uci changes firewall)" "" "committed"
  expect_eq "$(dev_exec uci get firewall.@redirect[-1].enabled)" 1 "forward enabled"
  expect_eq "$(dev_exec uci get firewall.@redirect[0].name)" MGT-REMOTE "management forward kept"
  expect_eq "$(firewall_cycles)" 1 "firewall restarted"
  # A second POST replaces everything the first one added.
  expect_eq "$(post firewall '<FIREWALL/>')" "$ok" "empty POST"
  expect_eq "$(request $'GET /route/firewall\n\n')" "$declaration<FIREWALL><FILTER><MODE></MODE></FILTER></FIREWALL>" "emptied"
  expect_eq "$(dev_exec cat /etc/firewall.user)" "" "no URL lines"
  # Without an IPv4 address on the LAN bridge the forward is stored off.
  dev_exec ip addr flush dev br-lan
  expect_eq "$(post firewall "<FIREWALL>$forward</FIREWALL>")" "$ok" "POST without a LAN address"
  expect_eq "$(dev_exec uci get firewall.@redirect[-1].enabled)" 0 "forward off"
  expect_eq "$(dev_exec uci -q get firewall.@redirect[-3].src_dip || true)" "" "no LAN address stored"
}

test_firewall_texts_never_run() {
  dev_up ap
  local url='x";touch /tmp/p1;"$(touch /tmp/p2)`touch /tmp/p3`;touch /tmp/p4|a&b c'
  local body="<FIREWALL><FILTER><MODE>disable</MODE><IP>10.0.0.1-10.0.0.9</IP><URL>${url//&/&amp;}</URL></FILTER></FIREWALL>"
  expect_eq "$(post firewall "$body")" "$ok" "POST"
  expect_eq "$(dev_exec uci get firewall.@url[0].url)" "$url" "URL stored exactly"
  expect_eq "$(dev_exec uci get firewall.@rule[-1].extra)" "-m iprange --src-range 10.0.0.1-10.0.0.9" "range"
  # The firewall ran the URL line as a shell script when it started.
  expect_eq "$(iptables_calls | uniq)" "-I FORWARD -p all -m string --string $(printf %q "$url") --algo kmp -j REJECT" "URL one argument"
  dev_exec sh -c 'ls /tmp/p[0-9] 2>/dev/null' && fail "a request text ran a command"
  # And again at the next start (a second-order text would run every time).
  dev_exec /sbin/fw3 start
  dev_exec sh -c 'ls /tmp/p[0-9] 2>/dev/null' && fail "a stored text ran a command"
  expect_eq "$(post firewall '<FIREWALL><FILTER><MODE>deny</MODE></FILTER></FIREWALL>')" "$refused" "bad mode"
  expect_eq "$(post firewall '<FIREWALL><FILTER><MODE>allow</MODE><URL>a&#10;touch /tmp/p8</URL></FILTER></FIREWALL>')" "$refused" "URL with a line feed"
  # The filter's texts become words of the firewall's rules: a range with
  # more words would turn the REJECT rule into an ACCEPT.
  local item
  for item in '<IP>10.0.0.1-10.0.0.9 -j ACCEPT</IP>' '<IP>1.2.3.4;touch /tmp/p5</IP>' \
    '<PORT>80;touch /tmp/p7</PORT>' '<MAC>aa:bb:cc:dd:ee:ff -j ACCEPT</MAC>'; do
    expect_eq "$(post firewall "<FIREWALL><FILTER><MODE>disable</MODE>$item</FILTER></FIREWALL>")" "$refused" "$item"
  done
  expect_eq "$(dev_exec uci get firewall.@rule[-1].extra)" "-m iprange --src-range 10.0.0.1-10.0.0.9" "range kept"
  expect_eq "$(dev_exec uci get firewall.@url[0].url)" "$url" "refused POSTs change nothing"
  expect_eq "$(dev_exec uci changes firewall)" "" "nothing staged"
}

test_mgt_round_trip() {
  dev_up ap
  local qos='<QOS><DISABLE>0</DISABLE><RATE_LIMIT><UP>2048</UP><DOWN>8192</DOWN></RATE_LIMIT><QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>192.168.1.100</START><END>192.168.1.150</END></IP><RATE><UP>512</UP><DOWN>1024</DOWN></RATE><NOTE>guests &amp; kids; a note longer than thirty-two bytes</NOTE></QOS_RULE><QOS_RULE><TYPE>mac</TYPE><MAC>3c:15:c2:a1:07:5e</MAC><RATE><UP>256</UP><DOWN>512</DOWN></RATE></QOS_RULE></QOS>'
  local rest='<AUTO_REBOOT><DISABLE>0</DISABLE><TIME>day3</TIME></AUTO_REBOOT><WAN><PING>0</PING><UPNP>0</UPNP><IGMP>1</IGMP></WAN><VPN><IPSEC>1</IPSEC><PPTP>0</PPTP><L2TP>1</L2TP></VPN>'
  expect_eq "$(post mgt "<MGT><MGT_PORT>8443</MGT_PORT><SMB_NAME>Office</SMB_NAME>$qos$rest</MGT>")" "$ok" "POST"
  expect_eq "$(request $'GET /route/mgt\n\n')" \
    "$declaration<MGT><MGT_PORT>8443</MGT_PORT><MAC_CLONE></MAC_CLONE><SMB_NAME>Office</SMB_NAME>$qos$rest</MGT>" "GET"
  expect_eq "$(dev_exec cat /etc/crontabs/root)" "0 0 */3 * * reboot" "crontab"
  # Every change answered OK is committed, the samba name included.
  for package in network firewall system samba; do
    expect_eq "$(dev_exec uci changes $package)" "" "$package committed"
  done
  expect_eq "$(dev_exec uci get firewall.@redirect[0].src_dport)" 8443 "management port"
  expect_eq "$(log_count '/etc/init.d/network restart')" 1 "network restart"
  expect_eq "$(firewall_cycles)" 1 "firewall restarted"
  expect_eq "$(log_count '/etc/init.d/cron restart')" 1 "cron restart"
  dev_exec test -e /etc/rc.d/S99mcproxy || fail "IGMP proxy not enabled"
}

test_mgt_reboot_time_never_reaches_cron_raw() {
  dev_up ap
  dev_exec sh -c 'echo "0 5 * * * reboot" >/etc/crontabs/root'
  local time
  for time in '4 * * * touch /tmp/pwned #' '4&#10;* * * * * touch /tmp/pwned' 24 day0; do
    expect_eq "$(post mgt "<MGT><AUTO_REBOOT><DISABLE>0</DISABLE><TIME>$time</TIME></AUTO_REBOOT></MGT>")" "$refused" "TIME $time"
  done
  # The time is stored also when the reboot goes off, so it is checked then too.
  expect_eq "$(post mgt '<MGT><AUTO_REBOOT><DISABLE>1</DISABLE><TIME>25</TIME></AUTO_REBOOT></MGT>')" "$refused" "TIME 25, off"
  expect_eq "$(dev_exec uci get system.@system[0].autoreboottime)" 3 "stored time kept"
  expect_eq "$(dev_exec cat /etc/crontabs/root)" "0 5 * * * reboot" "crontab kept"
  expect_eq "$(log_count '/etc/init.d/network restart')" 0 "refused POSTs restart nothing"
  # Switching off commits too.
  expect_eq "$(post mgt '<MGT><AUTO_REBOOT><DISABLE>1</DISABLE><TIME>4</TIME></AUTO_REBOOT></MGT>')" "$ok" "off"
  expect_eq "$(dev_exec uci changes system)" "" "switch committed"
  expect_eq "$(log_count '/usr/bin/crontab -r')" 1 "crontab -r"
  dev_exec test ! -e /etc/crontabs/root || fail "the root crontab is still there"
  expect_eq "$(request $'GET /route/mgt/a/b\n\n')" "$(envelope 1 'NO SERVICE')" "two-level sub-path"
}
