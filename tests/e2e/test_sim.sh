# The simulated device itself: its shell, stand-ins, clock and zone, how it
# ended, and what it keeps from its caller.
# shellcheck shell=bash

declaration='<?xml version="1.0" encoding="utf-8"?>'

test_bare_names_reach_the_stand_ins() {
  dev_up ap
  dev_exec sh -c 'echo "0 4 * * * reboot" >/etc/crontabs/root'
  local before
  before=$(dev_exec /sim/applets/date +%s)
  dev_exec sh -c 'date 010100002001; crontab -r; ifconfig ath04 up; killall syslogd'
  expect_eq "$(cat "$CMDLOG")" "/bin/date 010100002001
/usr/bin/crontab -r
/sbin/ifconfig ath04 up
/usr/bin/killall syslogd" "command log"
  [ "$(dev_exec /sim/applets/date +%s)" -ge "$before" ] || fail "the clock was set"
  dev_exec test ! -e /etc/crontabs/root || fail "crontab -r left the root crontab"
  expect_contains "$(dev_exec ip link show ath04)" ",UP" "ath04 after ifconfig up"
  wait_for 5 eval '! dev_exec pidof syslogd >/dev/null' || fail "syslogd still runs"
}

test_ended_tells_restart_from_poweroff() {
  local case command expected
  for case in 'reboot:restart' 'reboot -f:restart' 'poweroff:poweroff' 'halt -f:poweroff'; do
    command=${case%%:*} expected=${case#*:}
    dev_up ap
    dev_exec sh -c "$command" || true
    wait_for 10 test -s "$DEV/run/ended" || fail "$command: no ended file"
    expect_eq "$(cat "$DEV/run/ended")" "$expected" "$command"
  done
  dev_up ap
  dev_exec kill -9 1 || true
  sleep 0.3
  dev_running || fail "init ended on a signal from inside"
  [ ! -e "$DEV/run/ended" ] || fail "a running device has an ended file"
}

test_zone_and_fixed_clock_reach_the_agent() {
  dev_up ap --faketime '@2026-03-02 09:05:03'
  expect_eq "$(dev_exec cat /etc/TZ)" CST-8 "/etc/TZ"
  # The lease expiry is printed in the zone of /tmp/TZ.
  local expiry doc
  read -r expiry _ < <(dev_exec head -n1 /tmp/dhcp.leases)
  doc=$(request $'GET /route/dhcp/clients\n\n')
  expect_contains "$doc" "<TIME>$(TZ=CST-8 date -d "@$expiry" '+%a %b %e %H:%M:%S %Y')" "lease time"
  # A login stamps the token block with the agent's clock.
  request $'POST /route/login\n\n<LOGIN><USER_NAME>admin</USER_NAME><PASSWD>61646d696e</PASSWD></LOGIN>\n\n' >/dev/null
  dev_install "$E2E_SHMTOOL" /tmp/shmtool
  local start stamp
  start=$(TZ=CST-8 date -d '2026-03-02 09:05:03' +%s)
  stamp=$(block_time)
  [ "$stamp" -ge "$start" ] && [ "$stamp" -lt $((start + 60)) ] || fail "login time $stamp, clock from $start"
}

test_caller_descriptors_stay_outside() {
  local marker=$E2E_WORK/caller-file
  : >"$marker"
  exec 7<"$marker"
  dev_up ap
  exec 7<&-
  expect_eq "$(dev_exec sh -c 'ls -l /proc/[0-9]*/fd/ 2>/dev/null | grep -c caller-file' || true)" 0 \
    "caller's descriptor in the device"
  expect_eq "$(dev_exec ls /proc/1/fd | tr '\n' ' ')" "0 1 2 " "descriptors of init"
}

test_up_and_down_of_missing_folders() {
  local dir=$E2E_WORK/never err status=0
  "$devsim" up --state "$dir" --bin "$E2E_BIN" --board nosuch 2>/dev/null || status=$?
  expect_eq "$status" 1 "up with an unknown board"
  [ ! -e "$dir" ] || fail "a failed up left its new state folder"
  err=$("$devsim" down --state "$dir" 2>&1) || fail "down of a missing folder failed"
  expect_contains "$err" "no such state folder" "down of a missing folder"
}

test_firewall_start_runs_the_user_include_through_the_recorder() {
  dev_up ap
  dev_exec sh -c "cat >/etc/firewall.user" <<'INCLUDE'
iptables -I FORWARD -m string --string "evil.com; touch /tmp/owned" --algo bm -j DROP
iptables -t nat -F
INCLUDE
  dev_exec /sbin/fw3 start
  dev_exec /sbin/fw restart
  local once
  once=$(printf '%s\n' '-I FORWARD -m string --string evil.com\;\ touch\ /tmp/owned --algo bm -j DROP' \
    '-t nat -F')
  expect_eq "$(iptables_calls)" "$once"$'\n'"$once" "argument vectors"
  dev_exec test ! -e /tmp/owned || fail "the include's text ran as a command"
}

test_fixed_proc_files_reach_the_agent() {
  dev_up ap
  dev_exec sh -c 'mkdir -p /sim/state/proc/net
    echo "12345.67 100.00" >/sim/state/proc/uptime
    printf "MemTotal:  64000 kB\nMemFree:  1000 kB\nBuffers:  2000 kB\nCached:  3000 kB\n" >/sim/state/proc/meminfo
    echo "cpu  11 12 13 14 15 16 17 0 0 0" >/sim/state/proc/stat
    printf "Inter-|\n face |\n  eth9: 4294967301 7 0 0 0 0 0 0 4294967302 8 0 0 0 0 0 0\n" >/sim/state/proc/net/dev
    /sim/bin/proc-fix'
  expect_eq "$(request $'GET /route/system/traffic\n\n')" \
    "$declaration<SYSTEM><TRAFFIC><INTERFACE><NAME>eth9</NAME><SEND_BYTES>6</SEND_BYTES><SEND_PKTS>8</SEND_PKTS><RECV_BYTES>5</RECV_BYTES><RECV_PKTS>7</RECV_PKTS></INTERFACE></TRAFFIC></SYSTEM>" \
    "traffic from the fixed net/dev"
  local basic
  basic=$(request $'GET /route/system/basic\n\n')
  expect_contains "$basic" "<UPTIME>12345</UPTIME>" "uptime"
  expect_contains "$basic" "<MEM_INFO><TOTAL>64000</TOTAL><FREE>1000</FREE><CACHED>3000</CACHED><BUFFER>2000</BUFFER></MEM_INFO>" "meminfo"
  expect_contains "$basic" "<CPU_INFO><USER>11</USER><NICE>12</NICE><SYSTEM>13</SYSTEM><IDLE>14</IDLE>" "stat"
  dev_exec sh -c 'rm -r /sim/state/proc; /sim/bin/proc-fix'
  expect_contains "$(request $'GET /route/system/traffic\n\n')" "<NAME>br-lan</NAME>" "the kernel's net/dev again"
}

test_stand_ins_keep_their_state() {
  dev_up ap
  dev_exec sh -c '/etc/init.d/telnet start; uci set system.@system[0].tn_disable=0; /etc/init.d/telnet start'
  expect_eq "$(dev_exec cat /sim/state/telnet)" running "telnet after start with tn_disable 0"
  dev_exec /etc/init.d/sysntpd restart
  expect_eq "$(dev_exec cat /sim/sysntpd.servers)" $'0.pool.ntp.org\n1.pool.ntp.org' "NTP servers"
  dev_exec sh -c 'printf "mode=1\n\tsecond line\nbootdelay=1\n" >/sim/state/fw_env'
  expect_eq "$(dev_exec fw_printenv mode)" $'mode=1\nsecond line' "two-line value"
  dev_exec sh -c 'changemode.sh; changemode.sh ""'
  expect_eq "$(dev_exec cat /sim/changemode.calls)" $'0\n1 \'\'' "changemode.sh arguments"
  dev_exec /sim/bin/usb-plug sdx1 32m 1024
  expect_eq "$(dev_exec blkid /dev/sdx1 | cut -d: -f1)" /dev/sdx1 "blkid of a plugged partition"
  expect_contains "$(dev_exec df -k /mnt/sdx1)" "/dev/sdx1" "df of a plugged partition"
  dev_exec /sim/bin/usb-unplug sdx1
  expect_eq "$(dev_exec blkid)" '/dev/mtdblock5: TYPE="squashfs"' "blkid after unplugging"
}

test_boards_have_their_switch_vlans() {
  local case board expected
  for case in 'switch:0t 1 2 3 4,0t 5' 'dual9344:' 'kv8100:0t 2,0t 3' 'mt:0t 1 2 3 4t'; do
    board=${case%%:*} expected=${case#*:}
    dev_up "$board" --board "$board"
    expect_eq "$(dev_exec sh -c "uci show network | sed -n \"s/^network.@switch_vlan.*ports='\\(.*\\)'/\\1/p\"" |
      paste -sd,)" "$expected" "switch VLAN maps of $board"
    dev_down
  done
}

test_remote_syslog_sink_receives_forwarded_messages() {
  dev_up ap
  syslog_sink
  # The new syslogd starts once the old one has ended.
  dev_exec sh -c 'killall syslogd; sleep 1; /sbin/syslogd -L -R 203.0.113.1:514 -C16 && sleep 0.5 && logger -t e2e forwarded'
  wait_for 5 grep -q 'e2e: forwarded' "$SINKLOG" || fail "nothing forwarded: [$(cat "$SINKLOG")]"
}

test_switch_show_and_web_root() {
  dev_up ap
  expect_eq "$(dev_exec swconfig dev switch0 show)" $'VLAN 1:\n\tvid: 1\n\tports: 0t 1 2 3 4\nVLAN 2:\n\tvid: 2\n\tports: 0t 5' \
    "committed switch VLANs"
  dev_exec sh -c 'echo page >/www/page.txt; echo backup >/tmp/bak.tar.gz; ln -s /tmp/bak.tar.gz /www/bakfile.bin'
  expect_eq "$(dev_exec wget -q -O - http://127.0.0.1/page.txt)" page "a file of the web root"
  # The backup holds the passwords: the web server gives it to no one.
  ! dev_exec wget -q -O - http://127.0.0.1/bakfile.bin || fail "backup served"
}

test_trace_keeps_the_agent_output() {
  dev_up ap --trace
  request $'POST /route/dhcp\n\n<DHCP><LEASETIME>24h</LEASETIME></DHCP>\n\n' >/dev/null
  expect_contains "$(cat "$DEV/agent.log")" 'cmd uci set dhcp.lan.leasetime="24h"' "agent log"
  expect_eq "$(grep -c uci "$CMDLOG" || true)" 0 "store commands in the command log"
}

test_network_restart_applies_the_bridges() {
  dev_up ap
  dev_exec sh -c 'uci set network.lan.ifname="eth0.1 eth0.2"; uci set network.vlan5=interface
    uci set network.vlan5.type=bridge; uci set network.vlan5.ifname=eth0.5; uci commit network
    /etc/init.d/network restart'
  expect_eq "$(dev_exec ls /sys/class/net/br-lan/brif | tr '\n' ' ')" "ath0 ath1 eth0.1 eth0.2 " "LAN ports"
  expect_eq "$(dev_exec ls /sys/class/net/br-vlan5/brif)" eth0.5 "VLAN 5 ports"
  dev_exec sh -c 'uci delete network.vlan5; uci set network.lan.ifname=eth0.1; uci commit network
    /etc/init.d/network restart'
  expect_eq "$(dev_exec ls /sys/class/net/br-lan/brif | tr '\n' ' ')" "ath0 ath1 eth0.1 " "LAN ports after"
  dev_exec test ! -e /sys/class/net/br-vlan5 || fail "bridge of a removed VLAN stays"
}
