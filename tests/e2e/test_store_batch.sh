# The store changes of a request go to one `uci batch`: the store they leave
# must be byte for byte the one that one `uci` process per change leaves
# (pallad-unbatched, a build of the agent for this test only).
# shellcheck shell=bash

# Every config file and staged-change file of the current device.
store_files() {
  dev_exec sh -c 'for f in /etc/config/* /tmp/.uci/*; do [ -f "$f" ] && echo "== $f" && cat "$f"; done; true'
}

# "PATH|BODY" of every POST that stages changes, in the order they are sent.
# Values hold the characters a batch line must quote. SNMP settings are
# taken only in mode 4 or 5.
store_requests=(
  "network/lan|<NETWORK><PROTO><IP>192.168.1.1</IP><NETMASK>255.255.255.0</NETMASK><MTU>1500</MTU><GATEWAY_ADDR>192.168.1.254</GATEWAY_ADDR><DNS_ADDR>9.9.9.9</DNS_ADDR></PROTO><ACTIVE>1</ACTIVE></NETWORK>"
  "network/wan|<NETWORK><PROTO><TYPE>static</TYPE><IP>203.0.113.57</IP><NETMASK>255.255.255.0</NETMASK><GATEWAY>203.0.113.1</GATEWAY><DNS>198.51.100.53</DNS></PROTO></NETWORK>"
  "wireless/config|<W><CONFIG><BAND>2G</BAND><BASE><CHANNEL>11</CHANNEL><TXPOWER>17</TXPOWER></BASE><ADVANCE><MODE>11ng</MODE><HTMODE>AUTO</HTMODE><CCA_STEP></CCA_STEP></ADVANCE></CONFIG><CONFIG><BAND>5G</BAND><BASE><CHANNEL>149</CHANNEL><TXPOWER>20</TXPOWER></BASE><ADVANCE><MODE>11ac</MODE><HTMODE>HT80</HTMODE></ADVANCE></CONFIG></W>"
  "wireless/vap|<W><VAP><ID>01</ID><SSID>it&apos;s #1; a\\b</SSID><MODE>ap</MODE><SECURITY><ENCRYPTION>7</ENCRYPTION><KEY>3132333435363738</KEY></SECURITY><DISABLE>0</DISABLE></VAP></W>"
  "dhcp|<DHCP><LEASETIME>12h</LEASETIME><STATIC><MAC>3c:15:c2:a1:07:5e</MAC><IP>192.168.1.10</IP></STATIC><STATIC><MAC>3c:15:c2:a1:07:5f</MAC><IP>192.168.1.11</IP></STATIC></DHCP>"
  "dhcp|<DHCP><LEASETIME>6h</LEASETIME><STATIC><MAC>3c:15:c2:a1:07:60</MAC><IP>192.168.1.12</IP></STATIC></DHCP>"
  "time|<TIME><TIME_ZONE>CET-1CEST,M3.5.0,M10.5.0/3</TIME_ZONE><TIME_SERVER>pool.ntp.org</TIME_SERVER></TIME>"
  "system/basic|<SYSTEM><SYSDEVGROUP>office &amp; lab</SYSDEVGROUP><SYSDEVNAME>AP &quot;lobby&quot; \`id\` &apos;x&apos;</SYSDEVNAME><RST_BT_DISABLE>1</RST_BT_DISABLE><TELNET_ENABLE>0</TELNET_ENABLE></SYSTEM>"
  "firewall|<FIREWALL><FILTER><MODE>allow</MODE><IP>192.168.1.20</IP><IP>192.168.1.40-192.168.1.50</IP><PORT>8000-8010</PORT><MAC>3c:15:c2:a1:07:5e</MAC><URL>example.com/?a=1&amp;b=2</URL><IPCOM><IP>192.168.1.60</IP><PORT>22</PORT><PROTO>tcp</PROTO></IPCOM></FILTER><PORT_FORWARD><SRC_PORT>8000</SRC_PORT><DEST_IP>192.168.1.10</DEST_IP><DEST_PORT>80</DEST_PORT></PORT_FORWARD><DMZ><IP>192.168.1.30</IP></DMZ></FIREWALL>"
  "firewall|<FIREWALL><FILTER><MODE>disable</MODE><IP>192.168.1.21</IP></FILTER></FIREWALL>"
  "vlan|<VLAN_CONFIG><VLAN><VID>10</VID><PORT><NUM>3</NUM><NUM>4</NUM></PORT><SSID><ID>01</ID></SSID></VLAN><VLAN><VID>20</VID><SSID><ID>11</ID></SSID></VLAN></VLAN_CONFIG>"
  "vlan|<VLAN_CONFIG><VLAN><VID>30</VID><PORT><NUM>2</NUM></PORT></VLAN></VLAN_CONFIG>"
  "mgt|<MGT><SMB_NAME>Office</SMB_NAME><QOS><DISABLE>0</DISABLE><RATE_LIMIT><UP>2048</UP><DOWN>8192</DOWN></RATE_LIMIT><QOS_RULE><TYPE>ip</TYPE><IP><SHARE>1</SHARE><START>192.168.1.100</START><END>192.168.1.150</END></IP><RATE><UP>512</UP><DOWN>1024</DOWN></RATE><NOTE>guests &amp; co</NOTE></QOS_RULE><QOS_RULE><TYPE>mac</TYPE><MAC>3c:15:c2:a1:07:5e</MAC><RATE><UP>256</UP><DOWN>512</DOWN></RATE></QOS_RULE></QOS><AUTO_REBOOT><DISABLE>0</DISABLE><TIME>4</TIME></AUTO_REBOOT><VPN><IPSEC>1</IPSEC><PPTP>1</PPTP><L2TP>0</L2TP></VPN></MGT>"
  "mgt|<MGT><QOS><DISABLE>1</DISABLE><RATE_LIMIT><UP>1</UP><DOWN>2</DOWN></RATE_LIMIT></QOS></MGT>"
  "log|<LOG><REMOTE><IP>192.168.1.5</IP><PORT>514</PORT></REMOTE></LOG>"
  "passwd|<PASSWD><USER_NAME>admin</USER_NAME><OLD_PASSWD>61646d696e</OLD_PASSWD><PASSWD>6e65772d70617373</PASSWD></PASSWD>"
  "ddns|<DDNS><USER_NAME>me</USER_NAME><PASSWD>se cr&apos;et;#</PASSWD><DISABLE>0</DISABLE><DOMAIN>myap.example.net</DOMAIN></DDNS>"
  "wifidog|<WIFIDOG><ENABLE>1</ENABLE><AUTH_TRUST_MAC>3c:15:c2:a1:07:5e</AUTH_TRUST_MAC></WIFIDOG>"
  "clcloud|<CLCLOUD><DISABLE>0</DISABLE><URL>cloud.example.net</URL><USER>site-17</USER></CLCLOUD>"
  "dbmode|<MODE><DBMODE>1</DBMODE></MODE>"
  "system/active|<SYSTEM><ACT>Mode</ACT><MODE>4</MODE></SYSTEM>"
  "network/snmp|<NETWORK><SNMP><RWCOMMUNITY>pri&apos;v &quot;a&quot; \$x</RWCOMMUNITY><ROCOMMUNITY>public</ROCOMMUNITY><TRAP2SINK>192.168.1.20</TRAP2SINK></SNMP></NETWORK>"
  "system/active|<SYSTEM><ACT>Mode</ACT><MODE>1</MODE></SYSTEM>"
)

test_store_batches_leave_what_separate_commands_leave() {
  local separate_bin=$E2E_WORK/separate-bin entry path body reply
  [ -x "$E2E_BIN/pallad-unbatched" ] || fail "$E2E_BIN/pallad-unbatched is missing"
  mkdir -p "$separate_bin"
  cp -a "$E2E_BIN/." "$separate_bin/"
  cp "$E2E_BIN/pallad-unbatched" "$separate_bin/pallad"
  E2E_BIN=$separate_bin dev_up separate
  local separate_dev=$DEV separate_sock=$SOCK
  dev_up batched
  local batched_dev=$DEV batched_sock=$SOCK
  expect_eq "$(store_files)" "$(DEV=$separate_dev store_files)" "stock stores"
  for entry in "${store_requests[@]}"; do
    IFS='|' read -r path body <<<"$entry"
    reply=$(SOCK=$separate_sock request "POST /route/$path"$'\n'"$body"$'\n\n')
    expect_eq "$reply" "$(envelope 0 OK)" "$path accepted"
    expect_eq "$(request "POST /route/$path"$'\n'"$body"$'\n\n')" "$reply" "reply of $path"
    expect_eq "$(store_files)" "$(DEV=$separate_dev store_files)" "store after $path"
  done
}
