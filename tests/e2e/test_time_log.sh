# The time and log services in a simulated device.
# shellcheck shell=bash

ok=$(envelope 0 OK)
declaration='<?xml version="1.0" encoding="utf-8"?>'

log_count() {
  grep -cxF -- "$1" "$CMDLOG" || true
}

post() {
  request "POST /route/$1"$'\n'"$2"$'\n\n'
}

# The CTIME and CUR_TIME of the time document.
ctime_of() {
  sed -n 's:.*<CTIME>\(.*\)</CTIME>.*:\1:p' <<<"$1"
}
cur_time_of() {
  sed -n 's:.*<CUR_TIME>\(.*\)</CUR_TIME>.*:\1:p' <<<"$1"
}

test_zone_change_governs_local_times() {
  dev_up ap
  local zone='CET-1CEST,M3.5.0,M10.5.0/3' doc now
  expect_eq "$(post time "<TIME><TIME_ZONE>$zone</TIME_ZONE><TIME_SERVER>pool.ntp.org</TIME_SERVER></TIME>")" "$ok" "POST"
  expect_eq "$(dev_exec cat /tmp/TZ)" "$zone" "zone file"
  expect_eq "$(dev_exec uci get system.@system[0].timezone)" "$zone" "committed zone"
  expect_eq "$(dev_exec uci changes system)" "" "nothing left staged"
  expect_eq "$(log_count '/etc/init.d/sysntpd restart')" 1 "NTP restart"
  expect_eq "$(dev_exec cat /sim/sysntpd.servers)" pool.ntp.org "NTP servers in use"
  doc=$(request $'GET /route/time\n\n')
  now=$(cur_time_of "$doc")
  expect_contains "$doc" "<TIME_ZONE>$zone</TIME_ZONE><ZONE_NAME>Asia/Shanghai</ZONE_NAME><TIME_SERVER>pool.ntp.org</TIME_SERVER><CUSTOM>0</CUSTOM></TIME>" "GET"
  expect_eq "$(ctime_of "$doc")" "$(TZ=$zone date -d "@$now" '+%Y-%m-%d %H:%M:%S')" "CTIME in the new zone"
  # So does the system document's clock (compared to the hour).
  expect_contains "$(request $'GET /route/system/basic\n\n')" "<CTIME>$(TZ=$zone date '+%a %b %e %H:')" "system CTIME"
  # The lease list follows the same zone.
  local expiry
  read -r expiry _ < <(dev_exec head -n1 /tmp/dhcp.leases)
  expect_contains "$(request $'GET /route/dhcp/clients\n\n')" "<TIME>$(TZ=$zone date -d "@$expiry" '+%a %b %e %H:%M:%S %Y')
</TIME>" "lease expiry in the new zone"
}

test_clock_text_is_one_word() {
  dev_up ap
  expect_eq "$(post time '<TIME><CUR_TIME>0101;touch /tmp/pwned</CUR_TIME></TIME>')" "$ok" "POST"
  dev_exec test ! -e /tmp/pwned || fail "the clock text ran a command"
  expect_eq "$(log_count '/bin/date 0101;touch /tmp/pwned')" 1 "date got the text as one argument"
  expect_eq "$(post time '<TIME><CUR_TIME>2026.12.08-07:50:00</CUR_TIME></TIME>')" "$ok" "POST"
  expect_eq "$(log_count '/bin/date 2026.12.08-07:50:00')" 1 "plain clock text"
  expect_eq "$(log_count '/etc/init.d/sysntpd restart')" 0 "the clock alone restarts nothing"
  expect_eq "$(post time/x '<TIME><TIME_ZONE>UTC0</TIME_ZONE></TIME>')" "$(envelope 1 'NO SERVICE')" "sub-path"
}

# The Base64 text of a log document, decoded.
log_text() {
  local doc
  doc=$(request "GET /route/log/$1"$'\n\n')
  case $doc in
    "$declaration<LOG><MSG>"*"</MSG></LOG>") ;;
    *) fail "log document: [$doc]" ;;
  esac
  doc=${doc#"$declaration<LOG><MSG>"}
  base64 -d <<<"${doc%</MSG></LOG>}"
}

test_logs_arrive_escaped_and_whole() {
  dev_up ap
  dev_exec logger -t e2e 'a <tag> & more'
  expect_contains "$(log_text syslog)" "e2e: a &lt;tag&gt; &amp; more" "system log"
  # A kernel log that escaping makes five times longer still decodes whole.
  dev_exec sh -c 'head -c 16384 /dev/zero | tr "\0" "&" >/sim/dmesg'
  expect_eq "$(log_text kerlog | wc -c)" $((16384 * 5)) "escaped kernel log"
  expect_eq "$(post log '<LOG><ACT>KERNEL_CLEAN</ACT></LOG>')" "$ok" "clear"
  expect_eq "$(request $'GET /route/log/kerlog\n\n')" "$declaration<LOG><MSG></MSG></LOG>" "empty kernel log"
  expect_eq "$(log_count '/bin/dmesg -c')" 1 "dmesg -c"
}

test_remote_target() {
  dev_up ap
  # A syslog sink at the far end of the LAN cable.
  local sink=$E2E_WORK/remote-syslog.log
  peer_exec wire0 ip addr add 192.168.1.5/24 dev wire0
  peer_exec wire0 socat -u UDP-RECV:514,bind=192.168.1.5 "OPEN:$sink,creat,append" &
  expect_eq "$(post log '<LOG><REMOTE><IP>192.168.1.5</IP><PORT></PORT></REMOTE><ACT>SYS_CLEAN</ACT></LOG>')" "$ok" "POST"
  expect_eq "$(request $'GET /route/log/config\n\n')" "$declaration<LOG><REMOTE><IP>192.168.1.5</IP><PORT></PORT></REMOTE></LOG>" "GET"
  expect_eq "$(log_count '/usr/bin/killall syslogd')" 1 "one restart"
  expect_eq "$(log_count '/sbin/syslogd -L -R 192.168.1.5:514 -l 8 -C16')" 1 "syslogd with the target"
  expect_eq "$(dev_exec uci changes system)" "" "committed"
  expect_eq "$(dev_exec pidof syslogd | wc -w)" 1 "the old daemon ended"
  dev_exec logger -t e2e 'to the sink'
  wait_for 5 grep -q 'e2e: to the sink' "$sink" || fail "nothing reached the remote sink"
  # A target that is no host name is refused and changes nothing.
  expect_eq "$(post log '<LOG><REMOTE><IP>x;touch /tmp/pwned</IP></REMOTE></LOG>')" "$(envelope 3 'FORMAT ERROR')" "bad host"
  expect_eq "$(dev_exec uci get system.@system[0].log_ip)" 192.168.1.5 "target kept"
}
