# procd (stand-in): the instance functions an init script with USE_PROCD=1
# calls from start_service, sourced by /etc/rc.common. Closing an instance
# starts /sim/bin/procd-instance, which supervises it as procd does.
# shellcheck shell=sh

procd_open_instance() {
  procd_command=''
  procd_respawn=''
}

# Only the parameters the device's scripts use; the command's words must not
# need quoting.
procd_set_param() {
  key=$1
  shift
  case $key in
    command) procd_command="$*" ;;
    respawn) procd_respawn="$*" ;;
  esac
}

procd_close_instance() {
  # shellcheck disable=SC2086,SC2154 # words on purpose; name comes from rc.common
  /sim/bin/procd-instance "$name" ${procd_respawn:-3600 5 5} $procd_command \
    </dev/null >/dev/null 2>&1 &
}

# True while the service's instance is supervised.
procd_running() {
  pidfile=/var/run/procd-$1.pid
  [ -s "$pidfile" ] && read -r pid <"$pidfile" && kill -0 "$pid" 2>/dev/null
}

# Ends the service's instance, and its supervision, and waits until it is gone.
procd_kill() {
  pidfile=/var/run/procd-$1.pid
  [ -s "$pidfile" ] || return 0
  read -r pid <"$pidfile"
  kill -TERM "$pid" 2>/dev/null || true
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
  done
  rm -f "$pidfile"
}
