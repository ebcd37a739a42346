#!/usr/bin/env bash
# A desktop's system services for tests, private to one run: a system bus of
# its own, and with --udisks also udevd, a polkit stand-in and the real
# udisksd over loop devices. Everything it starts or attaches is taken down
# again when the run ends, however it ends.
#
# As a program:  desktop_bus.sh [--udisks] -- COMMAND [ARGS...]
#   runs COMMAND with DBUS_SYSTEM_BUS_ADDRESS pointing at the private bus and
#   DESKTOP_BUS_DIR at a scratch folder, and exits with its status.
# Sourced:       . desktop_bus.sh; desktop_bus_start [--udisks] || exit
#   then desktop_bus_attach IMAGE, desktop_bus_policy allow|deny,
#   desktop_bus_wait_fs DEVICE TYPE, as_user COMMAND..., desktop_bus_stop_udisks.
#
# Exit status 77 (skipped, with the reason on standard error) where the
# machine lacks what a run needs: loop devices, udevd, udisksd, root.

DESKTOP_BUS_SKIP=77
DESKTOP_BUS_LOCK=$( [ -d /run/lock ] && echo /run/lock || echo /tmp )/relictor-desktop-bus.lock
DESKTOP_BUS_PY=/usr/bin/python3
DESKTOP_BUS_POLKIT_ACTIONS="'org.freedesktop.udisks2.open-device','org.freedesktop.udisks2.open-device-system'"

_db_pids=()
_db_udevd_pid=
_db_cleanup_run_udev=0
_db_cleanup_dev_disk=0

_db_skip() {
  echo "skipped: $*" >&2
  return $DESKTOP_BUS_SKIP
}

_db_cleanup() {
  local status=$?
  set +e
  if [ -n "${DESKTOP_BUS_DIR:-}" ] && [ -f "$DESKTOP_BUS_DIR/loops" ]; then
    while read -r dev; do
      partx -d "$dev" >/dev/null 2>&1
      losetup -d "$dev" >/dev/null 2>&1
    done <"$DESKTOP_BUS_DIR/loops"
  fi
  # Services first (newest first), then the bus, then udevd.
  local i
  for ((i = ${#_db_pids[@]} - 1; i >= 0; i--)); do
    kill "${_db_pids[$i]}" 2>/dev/null
  done
  for pid in "${_db_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [ -n "$_db_udevd_pid" ]; then
    kill "$_db_udevd_pid" 2>/dev/null
    wait "$_db_udevd_pid" 2>/dev/null
    [ "$_db_cleanup_run_udev" = 1 ] && rm -rf /run/udev
    [ "$_db_cleanup_dev_disk" = 1 ] && rm -rf /dev/disk
  fi
  [ -n "${DESKTOP_BUS_DIR:-}" ] && rm -rf "$DESKTOP_BUS_DIR"
  exec 9>&- 2>/dev/null
  return $status
}

# Waits up to `seconds` for a command to succeed.
_db_until() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}

_db_name_owned() {
  gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}

desktop_bus_start() {
  local udisks=0
  [ "${1:-}" = --udisks ] && udisks=1
  command -v dbus-daemon >/dev/null || { _db_skip "dbus-daemon is not installed"; return; }
  command -v gdbus >/dev/null || { _db_skip "gdbus (libglib2.0-bin) is not installed"; return; }
  if [ $udisks = 1 ]; then
    [ "$(id -u)" = 0 ] || { _db_skip "the disk service tests set up loop devices and services as root"; return; }
    [ -e /dev/loop-control ] || { _db_skip "no loop devices here (/dev/loop-control is missing)"; return; }
    [ -x /lib/systemd/systemd-udevd ] || { _db_skip "udevd is not installed (package udev)"; return; }
    [ -x /usr/libexec/udisks2/udisksd ] || { _db_skip "udisksd is not installed (package udisks2)"; return; }
    "$DESKTOP_BUS_PY" -c 'import dbusmock' 2>/dev/null || { _db_skip "python3-dbusmock is not installed"; return; }
    id polkitd >/dev/null 2>&1 || { _db_skip "there is no polkitd user to run the polkit stand-in"; return; }
    # One run at a time on the machine: udevd and the loop devices are shared.
    exec 9>"$DESKTOP_BUS_LOCK"
    flock -w 300 9 || { _db_skip "another run holds $DESKTOP_BUS_LOCK"; return; }
  fi
  trap _db_cleanup EXIT
  trap 'exit 130' INT TERM
  DESKTOP_BUS_DIR=$(mktemp -d /tmp/desktop-bus.XXXXXX)
  export DESKTOP_BUS_DIR
  chmod 755 "$DESKTOP_BUS_DIR"
  local conf=$DESKTOP_BUS_DIR/bus.conf
  if [ $udisks = 1 ]; then
    # The system's own rules, so that the service and its callers are
    # treated as on a real system, but on a socket of this run.
    sed -e '/<user>/d' -e '/<pidfile>/d' -e '/<syslog\/>/d' -e '/<servicehelper>/d' \
      -e '/<standard_system_servicedirs\/>/d' -e '/<fork\/>/d' \
      -e "s|<listen>.*</listen>|<listen>unix:path=$DESKTOP_BUS_DIR/bus</listen>|" \
      -e 's|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|' \
      /usr/share/dbus-1/system.conf >"$conf"
  else
    cat >"$conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$DESKTOP_BUS_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
  fi
  dbus-daemon --config-file="$conf" --nofork --print-address=3 3>"$DESKTOP_BUS_DIR/addr" 2>"$DESKTOP_BUS_DIR/bus.log" &
  _db_pids+=($!)
  _db_until 10 test -s "$DESKTOP_BUS_DIR/addr" || { echo "the private bus did not start" >&2; return 1; }
  DBUS_SYSTEM_BUS_ADDRESS=$(head -1 "$DESKTOP_BUS_DIR/addr")
  export DBUS_SYSTEM_BUS_ADDRESS
  [ $udisks = 1 ] || return 0

  if udevadm control --ping >/dev/null 2>&1; then
    : # a udevd of the machine's own runs: use it, leave it be
  else
    [ -d /run/udev ] || _db_cleanup_run_udev=1
    [ -d /dev/disk ] || _db_cleanup_dev_disk=1
    /lib/systemd/systemd-udevd >"$DESKTOP_BUS_DIR/udevd.log" 2>&1 &
    _db_udevd_pid=$!
    # In a container udevd may not be able to run at all.
    _db_until 10 udevadm control --ping || { _db_skip "udevd cannot run here: $(tail -1 "$DESKTOP_BUS_DIR/udevd.log")"; return; }
    udevadm trigger --subsystem-match=block --action=add
    udevadm settle --timeout=10
  fi

  setpriv --reuid=polkitd --regid=polkitd --clear-groups \
    "$DESKTOP_BUS_PY" -m dbusmock --system --template polkitd >"$DESKTOP_BUS_DIR/polkit.log" 2>&1 &
  _db_pids+=($!)
  _db_until 10 _db_name_owned org.freedesktop.PolicyKit1 || { echo "the polkit stand-in did not start" >&2; return 1; }
  desktop_bus_policy allow || return 1

  /usr/libexec/udisks2/udisksd >"$DESKTOP_BUS_DIR/udisksd.log" 2>&1 &
  _db_pids+=($!)
  _db_udisksd_index=$((${#_db_pids[@]} - 1))
  _db_until 20 _db_name_owned org.freedesktop.UDisks2 || { echo "udisksd did not start" >&2; return 1; }
}

# allow: the user may open devices (the password is taken as given);
# deny: the system's policy refuses.
desktop_bus_policy() {
  local actions=
  [ "$1" = allow ] && actions=$DESKTOP_BUS_POLKIT_ACTIONS
  gdbus call --system --dest org.freedesktop.PolicyKit1 --object-path /org/freedesktop/PolicyKit1/Authority \
    --method org.freedesktop.DBus.Mock.SetAllowed "[$actions]" >/dev/null
}

# Attaches an image to a free loop device, prints the device, and detaches
# it when the run ends.
desktop_bus_attach() {
  local dev
  dev=$(losetup --find --show "$1") || { _db_skip "no loop device could be attached"; return; }
  echo "$dev" >>"$DESKTOP_BUS_DIR/loops"
  udevadm settle --timeout=10
  echo "$dev"
}

# Waits until the disk service has probed DEVICE and found file system TYPE.
desktop_bus_wait_fs() {
  local object=/org/freedesktop/UDisks2/block_devices/${1#/dev/}
  _db_until 20 bash -c "gdbus call --system --dest org.freedesktop.UDisks2 --object-path '$object' \
    --method org.freedesktop.DBus.Properties.Get org.freedesktop.UDisks2.Block IdType | grep -q \"'$2'\""
}

# Takes the disk service off the bus.
desktop_bus_stop_udisks() {
  local pid=${_db_pids[$_db_udisksd_index]}
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  _db_until 10 bash -c "! gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.freedesktop.UDisks2 | grep -q true"
}

# Runs a command as an ordinary user with no groups, on the private bus.
as_user() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
    HOME=/nonexistent "$@"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || { echo "usage: $0 [--udisks] -- COMMAND [ARGS...]" >&2; exit 2; }
  desktop_bus_start "${args[@]}" || exit $?
  "$@"
  exit $?
fi
